#include "launch/mode_switch.h"

#include <windows.h>

#include <cstring>
#include <iostream>
#include <string>

#include "platform/syscalls.h"

namespace {

constexpr char kSection[] = "Fields";
constexpr DWORD kValueSize = 260;
constexpr size_t kLongestPath = MAX_PATH - 1;  // what the ANSI file functions open

bool ModeFilePath(std::string& path) {
  char modulePath[261] = {};
  if (sys::calls().GetModuleFileNameA(nullptr, modulePath, 260) == 0) return false;
  path = ModeFilePathFor(modulePath);
  return true;
}

}  // namespace

// The directory ends at the last 0x5C byte, found byte by byte; with no backslash at all the whole
// path is taken as the directory. Deliberately not the double-byte-aware scan that the command line
// and the bridge binding use: the mode file's place is fixed by this byte-wise rule. The two agree
// unless the executable's own file name holds a double-byte character whose second byte is 0x5C.
std::string ModeFilePathFor(const char* modulePath) {
  const char* separator = std::strrchr(modulePath, '\\');
  std::string path(modulePath, separator != nullptr ? static_cast<size_t>(separator + 1 - modulePath)
                                                    : std::strlen(modulePath));
  path += "language\\ModeConfig.ini";
  return path;
}

bool ModeFilePathFits(const char* modulePath) { return ModeFilePathFor(modulePath).size() <= kLongestPath; }

bool ReadModeSwitch(const char* key) {
  std::string path;
  if (!ModeFilePath(path)) {
    std::cerr << "Error getting module file name" << std::endl;
    return false;
  }
  char value[kValueSize] = {};
  ::GetPrivateProfileStringA(kSection, key, "default_value", value, kValueSize, path.c_str());
  return std::strcmp(value, "0") != 0;
}

unsigned ReadPollSeconds() {
  constexpr unsigned long kMaximum = 86400;
  std::string path;
  if (!ModeFilePath(path)) return 0;
  char value[kValueSize] = {};
  ::GetPrivateProfileStringA(kSection, "PollSeconds", "", value, kValueSize, path.c_str());

  const char* p = value;
  while (*p == ' ' || *p == '\t') ++p;
  unsigned long seconds = 0;
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    seconds = seconds * 10 + static_cast<unsigned long>(*p - '0');
    if (seconds > kMaximum) return 0;  // also stops any overflow
  }
  if (p == digits) return 0;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != '\0' || seconds == 0) return 0;
  return static_cast<unsigned>(seconds);
}
