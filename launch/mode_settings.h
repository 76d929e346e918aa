// The keys of "language\ModeConfig.ini" that switch on behaviour beyond the default: launching when
// a user logs on at the console, and launching with that user's own token.
#pragma once

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

// False when key "LaunchAs" in section "Fields" is absent, empty or "service" (letter case ignored),
// also in a file that begins with a UTF-8 byte-order mark: the service's own launch. Any other value
// means the console user's token. Read anew at every call.
bool ReadLaunchAsUser();
