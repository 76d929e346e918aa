#include "launch/command_line.h"

#include <windows.h>

#include <cstring>

#include "platform/path_scan.h"
#include "platform/syscalls.h"

namespace {

constexpr char kDesktopAppFileName[] = "Marrowbank.exe";
constexpr DWORD kOffered = kCommandLineBufferSize - 1;  // 260, terminator included

}  // namespace

bool BuildDesktopAppCommandLine(char (&buffer)[kCommandLineBufferSize]) {
  std::memset(buffer, 0, sizeof buffer);

  char modulePath[kCommandLineBufferSize] = {};
  const DWORD length = ReadModulePath(modulePath, kOffered);
  // A full buffer means the path was cut: whatever it names is not this executable's directory.
  if (length == 0 || length >= kOffered) return false;

  const int separator = LastPathSeparator(modulePath);
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
  // By characters: a double-byte folder name may hold a 0x5C trail byte.
  const int separator = LastPathSeparator(path);
  if (separator < 0) return false;
  // "C:\\" is a folder; "C:" alone would be that drive's current folder.
  const size_t length = separator > 0 && path[separator - 1] == ':' ? static_cast<size_t>(separator) + 1
                                                                     : static_cast<size_t>(separator);
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  return true;
}
