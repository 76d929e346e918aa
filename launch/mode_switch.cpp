#include "launch/mode_switch.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/path_scan.h"
#include "platform/syscalls.h"

namespace {

constexpr std::size_t kLongestModulePath = 260;  // what ReadModulePath is offered
constexpr std::size_t kLongestPath = MAX_PATH - 1;  // what the ANSI file functions open
constexpr unsigned long kLongestPollSeconds = 86400;

// The directory ends at the last 0x5C byte, found byte by byte; with no backslash at all the whole
// path is taken as the directory. Deliberately not the double-byte-aware scan that the command line
// and the bridge binding use: the mode file's place is fixed by this byte-wise rule. The two agree
// unless the executable's own file name holds a double-byte character whose second byte is 0x5C.
std::size_t DirectoryLength(const char* modulePath) {
  const std::size_t length = strnlen(modulePath, kLongestModulePath);
  for (std::size_t i = length; i > 0; --i) {
    if (modulePath[i - 1] == '\\') return i;
  }
  return length;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool ModeFilePath(char (&path)[kModeFilePathSize]) {
  char modulePath[261] = {};
  if (ReadModulePath(modulePath, 260) == 0) return false;
  ModeFilePathFor(modulePath, path);
  return true;
}

void ModeFilePathFor(const char* modulePath, char (&path)[kModeFilePathSize]) {
  const std::size_t length = DirectoryLength(modulePath);
  std::memcpy(path, modulePath, length);
  std::memcpy(path + length, kModeFileName, sizeof kModeFileName);
}

bool ModeFilePathFits(const char* modulePath) {
  return DirectoryLength(modulePath) + sizeof kModeFileName - 1 <= kLongestPath;
}

void ReadModeValue(const char* path, const char* key, const char* fallback, char (&value)[kModeValueSize]) {
  value[0] = '\0';
  sys::calls().GetPrivateProfileStringA(kModeSection, key, fallback, value, kModeValueSize, path);
}

bool SameModeText(const char* a, const char* b) {
  return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

bool ParseModeSwitch(const char* value) { return std::strcmp(value, "0") != 0; }

unsigned ParsePollSeconds(const char* value, bool& accepted) {
  accepted = true;
  if (*value == '\0') return 0;
  accepted = false;
  const char* p = value;
  while (IsBlank(*p)) ++p;
  unsigned long seconds = 0;
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    seconds = seconds * 10 + static_cast<unsigned long>(*p - '0');
    if (seconds > kLongestPollSeconds) return 0;  // also stops any overflow
  }
  if (p == digits) return 0;
  while (IsBlank(*p)) ++p;
  if (*p != '\0') return 0;
  accepted = true;
  return static_cast<unsigned>(seconds);
}

bool ParseLaunchAtLogon(const char* value, bool& accepted) {
  accepted = *value == '\0' || std::strcmp(value, "0") == 0 || std::strcmp(value, "1") == 0;
  return std::strcmp(value, "1") == 0;
}

bool ParseLaunchAsUser(const char* value, bool& accepted) {
  const bool service = *value == '\0' || SameModeText(value, "service");
  accepted = service || SameModeText(value, "user");
  // A value that is there but not understood (a typo, an inline comment the profile functions keep)
  // was meant to say something: the lower privilege is the one that cannot surprise.
  return !service;
}

bool ReadModeSwitch(const char* key) {
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) {
    // The same bytes through the same C stream as a stream line ended by std::endl, without a stream library.
    std::fputs("Error getting module file name\n", stderr);
    std::fflush(stderr);
    return false;
  }
  char value[kModeValueSize];
  ReadModeValue(path, key, "default_value", value);
  return ParseModeSwitch(value);
}

unsigned ReadPollSeconds() {
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) return 0;
  char value[kModeValueSize];
  ReadModeValue(path, "PollSeconds", "", value);
  bool accepted = false;
  return ParsePollSeconds(value, accepted);
}
