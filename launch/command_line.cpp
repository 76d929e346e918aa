#include "launch/command_line.h"

#include <windows.h>

#include <cstring>

#include "platform/syscalls.h"

namespace {

constexpr char kDesktopAppFileName[] = "Marrowbank.exe";
constexpr DWORD kOffered = kCommandLineBufferSize - 1;  // 260, terminator included

// Index of the last path separator, or -1. A 0x5C byte that trails a lead byte of the ANSI code
// page is half of a character, not a separator, so the scan walks characters from the start.
int LastSeparator(const char* text) {
  int last = -1;
  for (int i = 0; text[i] != '\0';) {
    if (::IsDBCSLeadByte(static_cast<BYTE>(text[i])) && text[i + 1] != '\0') {
      i += 2;
      continue;
    }
    if (text[i] == '\\') last = i;
    ++i;
  }
  return last;
}

}  // namespace

bool BuildDesktopAppCommandLine(char (&buffer)[kCommandLineBufferSize]) {
  std::memset(buffer, 0, sizeof buffer);

  char modulePath[kCommandLineBufferSize] = {};
  const DWORD length = sys::calls().GetModuleFileNameA(nullptr, modulePath, kOffered);
  // A full buffer means the path was cut: whatever it names is not this executable's directory.
  if (length == 0 || length >= kOffered) return false;

  const int separator = LastSeparator(modulePath);
  if (separator < 0) return false;
  const size_t directoryLength = static_cast<size_t>(separator) + 1;

  // Quoted, so that a directory with blanks in it cannot be read as a shorter program path.
  const size_t needed = 1 + directoryLength + (sizeof kDesktopAppFileName - 1) + 1 + 1;
  if (needed > kOffered) return false;

  char* out = buffer;
  *out++ = '"';
  std::memcpy(out, modulePath, directoryLength);
  out += directoryLength;
  std::memcpy(out, kDesktopAppFileName, sizeof kDesktopAppFileName - 1);
  out += sizeof kDesktopAppFileName - 1;
  *out = '"';
  return true;
}
