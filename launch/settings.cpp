#include "launch/settings.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>
#include <string>

#include "launch/launch_events.h"
#include "launch/mode_file.h"
#include "platform/handles.h"
#include "platform/syscalls.h"

namespace {

const char* KeyOf(Setting setting) { return SettingRowOf(setting).key; }

std::string TakesItsDefault(Setting setting) { return std::string(KeyOf(setting)) + " takes its default."; }

std::string TakesTheModeFilesValue(Setting setting) {
  return std::string(KeyOf(setting)) + " takes the mode file's value, or its default.";
}

// The policy key as events name it.
const std::string kPolicyKeyName = std::string("HKEY_LOCAL_MACHINE\\") + kPolicyKey;

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


std::string ReadModeText(const char* path, const char* key) {
  char value[kModeValueSize];
  ReadModeValue(path, key, "", value);
  return value;
}

std::string ModeConsequence(Setting setting) {
  if (setting != Setting::kLaunchAs) return TakesItsDefault(setting);
  return "LaunchAs is taken as user, the lower privilege: the program starts with the token of the user logged on at "
         "the console, never as LocalSystem. Write LaunchAs=service for the service's own token.";
}

void Apply(Settings& settings, Setting setting, unsigned number, SettingOrigin origin) {
  switch (setting) {
    case Setting::kAutoBack: settings.autoBack = number != 0; break;
    case Setting::kPollSeconds: settings.pollSeconds = number; break;
    case Setting::kLaunchAtLogon: settings.launchAtLogon = number != 0; break;
    default: settings.launchAsUser = number != 0; break;
  }
  settings.origin[static_cast<std::size_t>(setting)] = origin;
}

// One policy value as found: `present` when the key holds the value at all; `accepted` when the
// service can use it, as `number` (LaunchAs: 1 for user).
struct PolicyValue {
  bool present = false;
  bool accepted = false;
  unsigned number = 0;
  std::string text;
  std::string why;
};

// The policy key, open for reading while it lives. No key is the normal case: every value absent.
struct PolicyKey {
  sys::UniqueRegistryKey key;
  DWORD error = ERROR_SUCCESS;  // the key exists but cannot be opened

  PolicyKey() {
    const LONG opened = sys::calls().RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE | kPolicyView,
                                                   key.receive());
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND && opened != ERROR_PATH_NOT_FOUND) {
      error = static_cast<DWORD>(opened);
    }
  }

  PolicyValue Read(Setting setting) const {
    PolicyValue found;
    if (!key) return found;
    const SettingRow& row = SettingRowOf(setting);
    DWORD type = REG_NONE;
    // Room for any value the service accepts and more; a longer one is refused, not cut.
    BYTE data[kModeValueSize] = {};
    DWORD size = sizeof data - 1;
    const LONG read = sys::calls().RegQueryValueExA(key.get(), row.key, nullptr, &type, data, &size);
    if (read == ERROR_FILE_NOT_FOUND) return found;
    found.present = true;
    if (read != ERROR_SUCCESS) {
      found.text = "(unreadable)";
      found.why = "It cannot be read: Win32 error " + std::to_string(read) + ". " +
                  (row.kind == SettingKind::kLaunchAs ? ModeConsequence(setting) : TakesTheModeFilesValue(setting));
    } else if (row.kind == SettingKind::kLaunchAs) {
      if (type != REG_SZ) {
        found.text = "(type " + std::to_string(type) + ")";
      } else {
        found.text.assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
        // An empty string is no value at all, as in the mode file.
        if (found.text.empty()) return PolicyValue{};
      }
      const bool service = type == REG_SZ && SameModeText(found.text.c_str(), "service");
      found.accepted = service || (type == REG_SZ && SameModeText(found.text.c_str(), "user"));
      if (!found.accepted) found.why = ModeConsequence(setting);
    } else if (type != REG_DWORD || size != sizeof(DWORD)) {
      found.text = "(type " + std::to_string(type) + ")";
      found.why = std::string("It is not a REG_DWORD. ") + TakesTheModeFilesValue(setting);
    } else {
      DWORD number = 0;
      std::memcpy(&number, data, sizeof number);
      found.text = std::to_string(number);
      found.accepted = number >= row.minimum && number <= row.maximum;
      found.number = number;
      if (!found.accepted) {
        found.why = "It is not from " + std::to_string(row.minimum) + " to " + std::to_string(row.maximum) + ". " +
                    TakesTheModeFilesValue(setting);
      }
    }
    // A LaunchAs that is there but not understood, or not readable, is the lower privilege.
    if (row.kind == SettingKind::kLaunchAs) found.number = found.accepted && SameModeText(found.text.c_str(), "service") ? 0 : 1;
    return found;
  }
};

// Problems already reported in this run of the service: a re-read reports only those that are new.
std::mutex g_reportedLock;
std::vector<std::string> g_reported;  // guarded by g_reportedLock

// Under g_reportedLock. Reports each problem of `settings` not reported by the last read, then
// remembers exactly these.
void ReportProblems(const Settings& settings) {
  std::vector<std::string> now;
  const auto once = [&](const std::string& problem) {
    now.push_back(problem);
    return std::find(g_reported.begin(), g_reported.end(), problem) == g_reported.end();
  };
  const char* path = settings.modeFilePath.c_str();
  if (settings.policyError != ERROR_SUCCESS && once("policy key " + std::to_string(settings.policyError))) {
    ReportPolicyKeyUnreadable(kPolicyKeyName.c_str(), settings.policyError);
  }
  if (settings.modeFileError != ERROR_SUCCESS && once("mode file " + std::to_string(settings.modeFileError))) {
    ReportModeFileUnreadable(path, settings.modeFileError);
  }
  if (settings.modeFileMark != TextMark::kNone && once("mark " + std::string(TextMarkName(settings.modeFileMark)))) {
    ReportMark(path, settings.modeFileMark);
  }
  for (const IgnoredSetting& ignored : settings.ignored) {
    const char* key = SettingRowOf(ignored.setting).key;
    if (!once(std::string(SettingOriginName(ignored.source)) + " " + key + "=" + ignored.value)) continue;
    if (ignored.source == SettingOrigin::kPolicy) {
      ReportPolicyValueRejected(kPolicyKeyName.c_str(), key, ignored.value.c_str(), ignored.why.c_str());
    } else {
      ReportModeValueRejected(path, key, ignored.value.c_str(), ignored.why.c_str());
    }
  }
  g_reported = now;
}

}  // namespace

const char* SettingOriginName(SettingOrigin origin) {
  switch (origin) {
    case SettingOrigin::kPolicy: return "policy";
    case SettingOrigin::kModeFile: return "mode file";
    default: return "default";
  }
}

std::string SettingValueText(const Settings& settings, Setting setting) {
  switch (setting) {
    case Setting::kAutoBack: return settings.autoBack ? "1" : "0";
    case Setting::kPollSeconds: return std::to_string(settings.pollSeconds);
    case Setting::kLaunchAtLogon: return settings.launchAtLogon ? "1" : "0";
    default: return settings.launchAsUser ? "user" : "service";
  }
}

Settings ReadSettings() {
  Settings settings;
  const PolicyKey policy;
  settings.policyError = policy.error;
  char path[kModeFilePathSize];
  const bool havePath = ModeFilePath(path);
  if (havePath) {
    settings.modeFilePath = path;
    settings.modeFileError = ModeFileOpenError(path);
    settings.modeFileMark = ReadTextMark(path);
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(Setting::kCount); ++i) {
    const Setting setting = static_cast<Setting>(i);
    const SettingRow& row = kSettingRows[i];
    // The policy's value, when it has one the service can use.
    const PolicyValue fromPolicy = policy.Read(setting);
    if (fromPolicy.present) {
      if (fromPolicy.accepted || setting == Setting::kLaunchAs) {
        Apply(settings, setting, fromPolicy.number, SettingOrigin::kPolicy);
        if (fromPolicy.accepted) continue;
      }
      settings.ignored.push_back({SettingOrigin::kPolicy, setting, fromPolicy.text, fromPolicy.why});
      if (setting == Setting::kLaunchAs) continue;
    }
    if (!havePath) continue;
    // Then the mode file's; each key is read from it once, and the value read is the one both used and
    // reported.
    const std::string value = setting == Setting::kLaunchAs ? ReadLaunchAs(path, settings.modeFileMark)
                                                            : ReadModeText(path, row.key);
    if (value.empty()) continue;
    bool accepted = true;
    unsigned number = 0;
    switch (row.kind) {
      case SettingKind::kSwitch:
        number = setting == Setting::kAutoBack ? ParseModeSwitch(value.c_str())
                                               : ParseLaunchAtLogon(value.c_str(), accepted);
        break;
      case SettingKind::kSeconds: number = ParsePollSeconds(value.c_str(), accepted); break;
      case SettingKind::kLaunchAs: number = ParseLaunchAsUser(value.c_str(), accepted); break;
    }
    // A LaunchAs the service does not understand still counts, as user: the lower privilege.
    if (accepted || setting == Setting::kLaunchAs) Apply(settings, setting, number, SettingOrigin::kModeFile);
    if (!accepted) settings.ignored.push_back({SettingOrigin::kModeFile, setting, value, ModeConsequence(setting)});
  }
  return settings;
}

Settings ReadStartSettings() {
  const Settings settings = ReadSettings();
  std::lock_guard<std::mutex> hold(g_reportedLock);
  g_reported.clear();
  ReportProblems(settings);
  return settings;
}

Settings RereadSettings() {
  const Settings settings = ReadSettings();
  std::lock_guard<std::mutex> hold(g_reportedLock);
  ReportProblems(settings);
  return settings;
}

bool ReadAutoBack() {
  const PolicyValue policy = PolicyKey().Read(Setting::kAutoBack);
  if (policy.accepted) return policy.number != 0;
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
  const PolicyValue policy = PolicyKey().Read(Setting::kLaunchAs);
  if (policy.present) return policy.number != 0;
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
