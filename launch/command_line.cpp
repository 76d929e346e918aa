#include "launch/command_line.h"

#include <windows.h>

#include <cstring>

#include "platform/path_scan.h"
#include "platform/syscalls.h"

namespace {

constexpr DWORD kOffered = kCommandLineBufferSize - 1;  // 260, terminator included

}  // namespace

bool BuildDesktopAppCommandLine(char (&buffer)[kCommandLineBufferSize]) {
  std::memset(buffer, 0, sizeof buffer);
  // Quoted, so that a folder with blanks in it cannot be read as a shorter program path: the path
  // leaves room for the two quotes within what is offered.
  if (!PathBesideExecutable(kDesktopAppFileName, buffer + 1, kOffered - 2)) return false;
  buffer[0] = '"';
  buffer[std::strlen(buffer)] = '"';
  return true;
}

bool ProgramFolderOf(const char* commandLine, char (&folder)[kCommandLineBufferSize]) {
  folder[0] = '\0';
  if (commandLine == nullptr || commandLine[0] != '"') return false;
  const char* close = std::strchr(commandLine + 1, '"');
  if (close == nullptr) return false;
  const size_t pathLength = static_cast<size_t>(close - commandLine - 1);
  if (pathLength >= kCommandLineBufferSize) return false;
  char path[kCommandLineBufferSize];
  std::memcpy(path, commandLine + 1, pathLength);
  path[pathLength] = '\0';
  return FolderOfPath(path, folder, kCommandLineBufferSize);
}
