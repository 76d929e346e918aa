#include "launch/mode_settings.h"

#include <windows.h>

#include <string>

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

std::string ReadValue(const char* key) {
  char path[kModeFilePathSize];
  return ModeFilePath(path) ? ReadValue(path, key) : std::string();
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

  const std::string poll = ReadValue(path, "PollSeconds");
  if (!poll.empty() && settings.pollSeconds == 0 && !IsZero(poll)) {
    ReportModeValueRejected(path, "PollSeconds", poll.c_str());
  }
  const std::string logon = ReadValue(path, "LaunchAtLogon");
  settings.launchAtLogon = IsLaunchAtLogonOn(logon);
  if (!logon.empty() && logon != "0" && !settings.launchAtLogon) {
    ReportModeValueRejected(path, "LaunchAtLogon", logon.c_str());
  }
  const std::string launchAs = ReadValue(path, "LaunchAs");
  settings.launchAsUser = IsLaunchAsUser(launchAs);
  if (!launchAs.empty() && !settings.launchAsUser && ::lstrcmpiA(launchAs.c_str(), "service") != 0) {
    ReportModeValueRejected(path, "LaunchAs", launchAs.c_str());
  }
  return settings;
}

bool ReadLaunchAsUser() { return IsLaunchAsUser(ReadValue("LaunchAs")); }
