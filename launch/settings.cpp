#include "launch/settings.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "launch/launch_events.h"
#include "launch/mode_file.h"

namespace {

const char* KeyOf(Setting setting) { return SettingRowOf(setting).key; }

std::string TakesItsDefault(Setting setting) { return std::string(KeyOf(setting)) + " takes its default."; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// LaunchAs is read past a UTF-8 mark, which Windows' profile functions do not skip: a file that asks
// for the console user's own token must never start the program as LocalSystem instead. The other
// keys take their defaults on such a file, which the start-up warning says.
std::string ReadLaunchAs(const char* path, TextMark mark) {
  if (mark == TextMark::kUtf8) return ReadValuePastMark(path, KeyOf(Setting::kLaunchAs));
  char value[kModeValueSize];
  ReadModeValue(path, KeyOf(Setting::kLaunchAs), "", value);
  return value;
}

// One warning at start for a file that begins with a byte-order mark, naming the remedy.
void ReportMark(const char* path, TextMark mark) {
  if (mark == TextMark::kNone) return;
  ReportModeFileMarked(path, TextMarkName(mark),
                       mark == TextMark::kUtf8
                           ? "Windows does not skip this mark: the section [Fields] on the first line is not found "
                             "and every key takes its default, except LaunchAs, which the service reads past the "
                             "mark."
                           : "The service expects the ANSI text it ships with; Windows reads a file with this mark "
                             "as Unicode, Wine and older tools may not.");
}

}  // namespace

StartSettings ReadStartSettings() {
  StartSettings settings{0, false, false};
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) return settings;
  // A file that is there but cannot be opened reads as every key absent; the administrator is told once.
  const DWORD openError = ModeFileOpenError(path);
  if (openError != ERROR_SUCCESS) ReportModeFileUnreadable(path, openError);
  const TextMark mark = ReadTextMark(path);
  ReportMark(path, mark);

  // Each key is read once, and the value read is the one both used and reported.
  bool accepted = true;
  char poll[kModeValueSize];
  ReadModeValue(path, KeyOf(Setting::kPollSeconds), "", poll);
  settings.pollSeconds = ParsePollSeconds(poll, accepted);
  if (!accepted) ReportModeValueRejected(path, KeyOf(Setting::kPollSeconds), poll, TakesItsDefault(Setting::kPollSeconds).c_str());

  char logon[kModeValueSize];
  ReadModeValue(path, KeyOf(Setting::kLaunchAtLogon), "", logon);
  settings.launchAtLogon = ParseLaunchAtLogon(logon, accepted);
  if (!accepted) {
    ReportModeValueRejected(path, KeyOf(Setting::kLaunchAtLogon), logon,
                            TakesItsDefault(Setting::kLaunchAtLogon).c_str());
  }

  const std::string launchAs = ReadLaunchAs(path, mark);
  settings.launchAsUser = ParseLaunchAsUser(launchAs.c_str(), accepted);
  if (!accepted) {
    ReportModeValueRejected(path, KeyOf(Setting::kLaunchAs), launchAs.c_str(),
                            "LaunchAs is taken as user, the lower privilege: the program starts with the token of "
                            "the user logged on at the console, never as LocalSystem. Write LaunchAs=service for "
                            "the service's own token.");
  }
  return settings;
}

bool ReadAutoBack() {
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) {
    // The same bytes through the same C stream as a stream line ended by std::endl, without a stream library.
    std::fputs("Error getting module file name\n", stderr);
    std::fflush(stderr);
    return false;
  }
  char value[kModeValueSize];
  ReadModeValue(path, KeyOf(Setting::kAutoBack), "default_value", value);
  return ParseModeSwitch(value);
}

bool ReadLaunchAsUser() {
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) return false;
  bool accepted = false;
  return ParseLaunchAsUser(ReadLaunchAs(path, ReadTextMark(path)).c_str(), accepted);
}

bool SettingValueAccepted(Setting setting, const char* value) {
  bool accepted = true;
  switch (setting) {
    case Setting::kPollSeconds: ParsePollSeconds(value, accepted); break;
    case Setting::kLaunchAtLogon: ParseLaunchAtLogon(value, accepted); break;
    case Setting::kLaunchAs: ParseLaunchAsUser(value, accepted); break;
    default: break;
  }
  return accepted;
}

bool ParseModeSwitch(const char* value) { return std::strcmp(value, "0") != 0; }

unsigned ParsePollSeconds(const char* value, bool& accepted) {
  const unsigned longest = SettingRowOf(Setting::kPollSeconds).maximum;
  accepted = true;
  if (*value == '\0') return 0;
  accepted = false;
  const char* p = value;
  while (IsBlank(*p)) ++p;
  unsigned long seconds = 0;
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    seconds = seconds * 10 + static_cast<unsigned long>(*p - '0');
    if (seconds > longest) return 0;  // also stops any overflow
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
