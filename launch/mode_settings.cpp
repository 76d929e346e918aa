#include "launch/mode_settings.h"

#include <windows.h>

#include <string>

#include "launch/mode_file_mark.h"
#include "launch/mode_switch.h"
#include "platform/event_log.h"

namespace {

constexpr char kSection[] = "Fields";

// The key's value, "" when the file, the section or the key is missing.
std::string ReadValue(const char* path, const char* key) {
  char value[260] = {};
  ::GetPrivateProfileStringA(kSection, key, "", value, sizeof value, path);
  return value;
}

// LaunchAs is read past a UTF-8 mark, which Windows' profile functions do not skip: a file that asks
// for the console user's own token must never start the program as LocalSystem instead. The other
// keys take their defaults on such a file, which the start-up warning says.
std::string ReadLaunchAs(const char* path) {
  return ReadTextMark(path) == TextMark::kUtf8 ? ReadValuePastMark(path, "LaunchAs") : ReadValue(path, "LaunchAs");
}

// One warning at start for a file that begins with a byte-order mark, naming the remedy.
void CheckMark(const char* path) {
  const TextMark mark = ReadTextMark(path);
  if (mark == TextMark::kNone) return;
  ReportModeFileMarked(path, TextMarkName(mark),
                       mark == TextMark::kUtf8
                           ? "Windows does not skip this mark: the section [Fields] on the first line is not found "
                             "and every key takes its default, except LaunchAs, which the service reads past the "
                             "mark."
                           : "The service expects the ANSI text it ships with; Windows reads a file with this mark "
                             "as Unicode, Wine and older tools may not.");
}

bool IsLaunchAtLogonOn(const std::string& value) { return value == "1"; }
bool IsLaunchAsUser(const std::string& value) { return ::lstrcmpiA(value.c_str(), "user") == 0; }

// True for a value that reads as a number of zero: explicitly no polling.
bool IsZero(const std::string& value) {
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  const size_t last = value.find_last_not_of(" \t");
  return value.find_first_not_of('0', first) > last;
}

// A file that is there but cannot be opened (a directory of that name, no read access) reads as
// every key absent; the administrator is told once.
void CheckReadable(const char* path) {
  const HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(file);
    return;
  }
  const DWORD error = ::GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ReportModeFileUnreadable(path, error);
}

}  // namespace

StartSettings ReadStartSettings() {
  StartSettings settings{ReadPollSeconds(), false, false};
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) return settings;
  CheckReadable(path);
  CheckMark(path);

  const std::string poll = ReadValue(path, "PollSeconds");
  if (!poll.empty() && settings.pollSeconds == 0 && !IsZero(poll)) {
    ReportModeValueRejected(path, "PollSeconds", poll.c_str());
  }
  const std::string logon = ReadValue(path, "LaunchAtLogon");
  settings.launchAtLogon = IsLaunchAtLogonOn(logon);
  if (!logon.empty() && logon != "0" && !settings.launchAtLogon) {
    ReportModeValueRejected(path, "LaunchAtLogon", logon.c_str());
  }
  const std::string launchAs = ReadLaunchAs(path);
  settings.launchAsUser = IsLaunchAsUser(launchAs);
  if (!launchAs.empty() && !settings.launchAsUser && ::lstrcmpiA(launchAs.c_str(), "service") != 0) {
    ReportModeValueRejected(path, "LaunchAs", launchAs.c_str());
  }
  return settings;
}

bool ReadLaunchAsUser() {
  char path[kModeFilePathSize];
  return ModeFilePath(path) && IsLaunchAsUser(ReadLaunchAs(path));
}
