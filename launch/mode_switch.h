// "language\ModeConfig.ini" beside the executable: the one place that knows its path rule, its
// section, how each key is read and what each value means. The start-up settings (mode_settings)
// and the launch decisions read it only through here.
#pragma once

#include <cstddef>

constexpr char kModeFileName[] = "language\\ModeConfig.ini";
constexpr char kModeSection[] = "Fields";
// Room for the longest module path ReadModulePath gives for 260 bytes, and the name after it.
constexpr std::size_t kModeFilePathSize = 261 + sizeof kModeFileName;
// Room for one value as the profile functions give it.
constexpr std::size_t kModeValueSize = 260;

// Fills `path` with "<directory of modulePath>language\ModeConfig.ini", the directory ending after
// the last 0x5C byte (byte-wise); with no backslash, the whole of `modulePath`. Only the first 260
// bytes of `modulePath` are read.
void ModeFilePathFor(const char* modulePath, char (&path)[kModeFilePathSize]);

// Whether the mode file beside the executable at `modulePath` has a path the file functions can
// open (at most 259 characters).
bool ModeFilePathFits(const char* modulePath);

// The mode file beside this executable; false when the executable's path cannot be read.
bool ModeFilePath(char (&path)[kModeFilePathSize]);

// The value of `key` in section "Fields" of the file at `path`, as the profile functions give it
// (blanks around it dropped); `fallback` when the file, the section or the key is missing.
void ReadModeValue(const char* path, const char* key, const char* fallback, char (&value)[kModeValueSize]);

// Whether two values are the same text without regard to letter case, by the invariant locale's
// rules: what the administrator's locale would fold differently must not change a setting.
bool SameModeText(const char* a, const char* b);

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

// False exactly when the key's value in section "Fields" is "0"; a missing file, section or key
// reads true. False, with a line on standard error, when the executable's path cannot be read.
// Read anew at every call.
bool ReadModeSwitch(const char* key);

// The polling period from key "PollSeconds": an integer from 1 to 86400, else 0 (no polling).
unsigned ReadPollSeconds();
