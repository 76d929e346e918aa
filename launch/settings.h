// The service's settings as the mode file gives them: the keys (settings_table.h), what each value
// means, the reads at start and the reads at each use.
#pragma once

#include "launch/settings_table.h"

// What the service reads once, at start.
struct StartSettings {
  unsigned pollSeconds;  // 0: no polling
  bool launchAtLogon;    // LaunchAtLogon=1
  bool launchAsUser;     // LaunchAs=user, as read at start (each launch reads it anew)
};

// Reads the start settings. Writes one warning event when the file exists but cannot be read, and
// one for each value that is not accepted: PollSeconds other than an integer from 0 to 86400 and
// LaunchAtLogon other than 0 or 1 take their defaults; LaunchAs other than user or service is taken
// as user, the lower privilege.
// An absent or empty key is no warning. A file that begins with a byte-order mark (UTF-8, UTF-16) is
// one more warning, naming the file and the remedy.
StartSettings ReadStartSettings();

// False exactly when AutoBack's value is "0"; a missing file, section or key reads true. False, with
// a line on standard error, when the executable's path cannot be read. Read anew at every call.
bool ReadAutoBack();

// False when LaunchAs is absent, empty or "service" (letter case ignored), also in a file that
// begins with a UTF-8 byte-order mark: the service's own launch. Any other value means the console
// user's token. Read anew at every call.
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
