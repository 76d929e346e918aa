#include "launch/mode_settings.h"

#include <windows.h>

#include <string>

#include "launch/mode_file_mark.h"
#include "launch/mode_switch.h"
#include "platform/event_log.h"
#include "platform/handles.h"

namespace {

// LaunchAs is read past a UTF-8 mark, which Windows' profile functions do not skip: a file that asks
// for the console user's own token must never start the program as LocalSystem instead. The other
// keys take their defaults on such a file, which the start-up warning says.
std::string ReadLaunchAs(const char* path, TextMark mark) {
  if (mark == TextMark::kUtf8) return ReadValuePastMark(path, "LaunchAs");
  char value[kModeValueSize];
  ReadModeValue(path, "LaunchAs", "", value);
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

// A file that is there but cannot be opened (a directory of that name, no read access) reads as
// every key absent; the administrator is told once.
void CheckReadable(const char* path) {
  const sys::UniqueHandle file(sys::calls().CreateFileA(path, GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return;
  const DWORD error = ::GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ReportModeFileUnreadable(path, error);
}

}  // namespace

StartSettings ReadStartSettings() {
  StartSettings settings{0, false, false};
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) return settings;
  CheckReadable(path);
  const TextMark mark = ReadTextMark(path);
  ReportMark(path, mark);

  // Each key is read once, and the value read is the one both used and reported.
  bool accepted = true;
  char poll[kModeValueSize];
  ReadModeValue(path, "PollSeconds", "", poll);
  settings.pollSeconds = ParsePollSeconds(poll, accepted);
  if (!accepted) ReportModeValueRejected(path, "PollSeconds", poll, "PollSeconds takes its default.");

  char logon[kModeValueSize];
  ReadModeValue(path, "LaunchAtLogon", "", logon);
  settings.launchAtLogon = ParseLaunchAtLogon(logon, accepted);
  if (!accepted) ReportModeValueRejected(path, "LaunchAtLogon", logon, "LaunchAtLogon takes its default.");

  const std::string launchAs = ReadLaunchAs(path, mark);
  settings.launchAsUser = ParseLaunchAsUser(launchAs.c_str(), accepted);
  if (!accepted) {
    ReportModeValueRejected(path, "LaunchAs", launchAs.c_str(),
                            "LaunchAs is taken as user, the lower privilege: the program starts with the token of "
                            "the user logged on at the console, never as LocalSystem. Write LaunchAs=service for "
                            "the service's own token.");
  }
  return settings;
}

bool ReadLaunchAsUser() {
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) return false;
  bool accepted = false;
  return ParseLaunchAsUser(ReadLaunchAs(path, ReadTextMark(path)).c_str(), accepted);
}
