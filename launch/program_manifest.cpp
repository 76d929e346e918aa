#include "launch/program_manifest.h"

#include <windows.h>

#include <cstring>

#include "launch/command_line.h"
#include "launch/launch_events.h"
#include "platform/handles.h"
#include "platform/syscalls.h"

namespace {

// The value of attribute `name` inside the element that starts at `element`; "" when it has none.
std::string AttributeValue(const std::string& text, size_t element, const char* name) {
  const size_t end = text.find('>', element);
  for (size_t at = text.find(name, element); at != std::string::npos && at < end; at = text.find(name, at + 1)) {
    size_t p = at + std::strlen(name);
    while (p < end && (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n')) ++p;
    if (p >= end || text[p] != '=') continue;
    ++p;
    while (p < end && (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n')) ++p;
    if (p >= end || (text[p] != '"' && text[p] != '\'')) continue;
    const size_t close = text.find(text[p], p + 1);
    if (close == std::string::npos || close > end) return std::string();
    return text.substr(p + 1, close - p - 1);
  }
  return std::string();
}

}  // namespace

std::string RequestedExecutionLevel(const char* path) {
  // As an image resource: nothing of the program runs, and its imports are not loaded.
  sys::UniqueLibrary program(
      sys::calls().LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!program) return std::string();
  const HRSRC resource = ::FindResourceA(program.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  if (resource == nullptr) return std::string();
  const HGLOBAL loaded = ::LoadResource(program.get(), resource);
  const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) return std::string();
  const std::string manifest(static_cast<const char*>(bytes), ::SizeofResource(program.get(), resource));
  // The element may carry a namespace prefix (<ms_asmv3:requestedExecutionLevel ...>).
  const size_t element = manifest.find("requestedExecutionLevel");
  return element == std::string::npos ? std::string() : AttributeValue(manifest, element, "level");
}

void WarnWhenProgramNeedsElevation() {
  char commandLine[kCommandLineBufferSize];
  if (!BuildDesktopAppCommandLine(commandLine)) return;
  // The command line is the quoted path.
  const std::string path(commandLine + 1, std::strlen(commandLine) - 2);
  const std::string level = RequestedExecutionLevel(path.c_str());
  if (level == "requireAdministrator" || level == "highestAvailable") {
    ReportProgramNeedsElevation(path.c_str(), level.c_str());
  }
}
