// The service's settings as the policy key and the mode file give them: the keys (settings_table.h),
// what each value means, the reads at start, the re-reads while running and the reads at each use.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "launch/mode_file.h"
#include "launch/settings_table.h"

// The policy key is read in the 64-bit view: under WOW64 HKLM\SOFTWARE\Policies is one of the shared
// keys (Microsoft's "Registry Keys Affected by WOW64"), so both views name the key Group Policy writes,
// and asking for that view explicitly keeps the read right whatever the list says on a given version.
inline constexpr REGSAM kPolicyView = KEY_WOW64_64KEY;

// Where a setting in force comes from: a policy value wins over the mode file, which wins over the
// default.
enum class SettingOrigin { kDefault, kModeFile, kPolicy };

// "default", "mode file", "policy".
const char* SettingOriginName(SettingOrigin origin);

// A value found and not used as written, with what the service does instead.
struct IgnoredSetting {
  SettingOrigin source;  // kModeFile or kPolicy
  Setting setting;
  char value[kModeValueSize];  // as found; a policy value of another type as "(type N)"
  char why[200];
};

// The values passed over by one reading: at most one from each origin per setting.
struct IgnoredSettings {
  IgnoredSetting items[2 * static_cast<std::size_t>(Setting::kCount)];
  std::size_t count;

  const IgnoredSetting* begin() const { return items; }
  const IgnoredSetting* end() const { return items + count; }
  bool empty() const { return count == 0; }
  IgnoredSetting& Add(SettingOrigin source, Setting setting, const char* value);
};

// Every setting in force, with its origin, and what was passed over to get there. Plain data without
// initializers, so that a reading is copied and compared without allocating and a static one costs
// the executable nothing: `Settings{}` is all zero (no policy error, no mark, kDefault origins),
// which ReadSettings starts from before AutoBack's default, on.
struct Settings {
  bool autoBack;
  unsigned pollSeconds;  // 0: no polling
  bool launchAtLogon;
  bool launchAsUser;
  SettingOrigin origin[static_cast<std::size_t>(Setting::kCount)];
  IgnoredSettings ignored;
  DWORD policyError;    // ERROR_SUCCESS, or why the policy key exists but cannot be read (and is ignored)
  DWORD modeFileError;  // ERROR_SUCCESS, or why the mode file exists but cannot be read
  TextMark modeFileMark;
  char modeFilePath[kModeFilePathSize];  // "" when this executable's path cannot be read

  SettingOrigin OriginOf(Setting setting) const { return origin[static_cast<std::size_t>(setting)]; }
};

// A setting's value in force as the mode file would spell it: "1", "30", "user".
std::string SettingValueText(const Settings& settings, Setting setting);

// The policy key as events and the status name it: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\...".
extern const char kPolicyKeyName[];

// Reads every setting from the policy key and the mode file, reporting nothing.
Settings ReadSettings();

// Reads the settings at start, with one warning event for each problem: a mode file that exists but
// cannot be read, a byte-order mark, each value not accepted (PollSeconds other than an integer from
// 0 to 86400 and LaunchAtLogon other than 0 or 1 take the next origin's value; LaunchAs other than
// user or service is taken as user, the lower privilege), a policy key that cannot be read. An
// absent or empty key is no warning; no policy key at all is the normal case.
Settings ReadStartSettings();

// Reads the settings again while the service runs: a problem already reported by the last read is
// not reported again.
Settings RereadSettings();

// AutoBack's policy value when it has a valid one; otherwise false exactly when the mode file's value
// is "0", and a missing file, section or key reads true. False, with a line on standard error, when
// the executable's path cannot be read. Read anew at every call.
bool ReadAutoBack();

// LaunchAs from the policy key when it is there, else from the mode file (read past a UTF-8 mark):
// false when absent, empty or "service" (letter case ignored), the service's own launch; any other
// value means the console user's token. Read anew at every call.
bool ReadLaunchAsUser();

// Whether the service accepts `value` for `setting`; an empty value is accepted and means the
// default, and AutoBack accepts every value.
bool SettingValueAccepted(Setting setting, const char* value);

// What each value means. `accepted` is false for a value the service cannot use (the key then
// takes its default); an empty value is accepted and means the default.
// A switch such as AutoBack: off exactly for "0".
bool ParseModeSwitch(const char* value);
// PollSeconds: an integer from 0 to 86400, blanks around it allowed; 0 means no polling.
unsigned ParsePollSeconds(const char* value, bool& accepted);
// LaunchAtLogon: "1" on; "0" off.
bool ParseLaunchAtLogon(const char* value, bool& accepted);
// LaunchAs: empty (absent) or "service" (any letter case) launches with the service's own token;
// "user", and any other value (not accepted), with the console user's.
bool ParseLaunchAsUser(const char* value, bool& accepted);
