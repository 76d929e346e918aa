#include "launch/settings.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "launch/launch_events.h"
#include "launch/mode_file.h"
#include "platform/handles.h"
#include "platform/syscalls.h"

namespace {

const char* KeyOf(Setting setting) { return SettingRowOf(setting).key; }

constexpr char kLaunchAsUserConsequence[] =
    "LaunchAs is taken as user, the lower privilege: the program starts with the token of the user logged on at "
    "the console, never as LocalSystem. Write LaunchAs=service for the service's own token.";

template <std::size_t N>
void Format(char (&text)[N], const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, N, format, arguments);
  va_end(arguments);
}

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


// What a value not accepted from the mode file leaves the setting with.
void ModeConsequence(Setting setting, char (&why)[200]) {
  if (setting == Setting::kLaunchAs) {
    Format(why, "%s", kLaunchAsUserConsequence);
  } else {
    Format(why, "%s takes its default.", KeyOf(setting));
  }
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

  enum class Found { kAbsent, kAccepted, kIgnored };

  // The value of `setting`: kAccepted with `number` (LaunchAs: 1 for user); kIgnored with `ignored`
  // filled in, and for LaunchAs `number` 1, the lower privilege.
  Found Read(Setting setting, unsigned& number, IgnoredSetting& ignored) const {
    if (!key) return Found::kAbsent;
    const SettingRow& row = SettingRowOf(setting);
    DWORD type = REG_NONE;
    // Room for any value the service accepts and more; a longer one is refused, not cut.
    BYTE data[kModeValueSize] = {};
    DWORD size = sizeof data - 1;
    const LONG read = sys::calls().RegQueryValueExA(key.get(), row.key, nullptr, &type, data, &size);
    if (read == ERROR_FILE_NOT_FOUND) return Found::kAbsent;
    const char* text = reinterpret_cast<const char*>(data);
    // An empty string is no value at all, as in the mode file.
    if (read == ERROR_SUCCESS && type == REG_SZ && text[0] == '\0') return Found::kAbsent;
    const bool launchAs = row.kind == SettingKind::kLaunchAs;
    number = launchAs ? 1 : 0;
    if (read == ERROR_SUCCESS && launchAs && type == REG_SZ) {
      if (SameModeText(text, "service") || SameModeText(text, "user")) {
        number = SameModeText(text, "user") ? 1 : 0;
        return Found::kAccepted;
      }
      Format(ignored.value, "%s", text);
      Format(ignored.why, "%s", kLaunchAsUserConsequence);
      return Found::kIgnored;
    }
    DWORD value = 0;
    if (read == ERROR_SUCCESS && !launchAs && type == REG_DWORD && size == sizeof value) {
      std::memcpy(&value, data, sizeof value);
      if (value >= row.minimum && value <= row.maximum) {
        number = value;
        return Found::kAccepted;
      }
    }
    const char* then = launchAs ? kLaunchAsUserConsequence : nullptr;
    char fallback[100];
    Format(fallback, "%s takes the mode file's value, or its default.", row.key);
    if (then == nullptr) then = fallback;
    if (read != ERROR_SUCCESS) {
      Format(ignored.value, "(unreadable)");
      Format(ignored.why, "It cannot be read: Win32 error %ld. %s", static_cast<long>(read), then);
    } else if (type != (launchAs ? REG_SZ : REG_DWORD) || (!launchAs && size != sizeof value)) {
      Format(ignored.value, "(type %lu)", static_cast<unsigned long>(type));
      Format(ignored.why, "It is not a %s. %s", launchAs ? "REG_SZ" : "REG_DWORD", then);
    } else {
      Format(ignored.value, "%lu", static_cast<unsigned long>(value));
      Format(ignored.why, "It is not from %u to %u. %s", row.minimum, row.maximum, then);
    }
    return Found::kIgnored;
  }
};

// The problems of the last reading, told already: a re-read reports only those that are new.
// On the heap: a static reading would be written into the executable whole, though it is all zero.
std::mutex g_reportedLock;
std::unique_ptr<Settings> g_reported;  // guarded by g_reportedLock

bool WasIgnored(const Settings& reading, const IgnoredSetting& ignored) {
  for (const IgnoredSetting& seen : reading.ignored) {
    if (seen.source == ignored.source && seen.setting == ignored.setting &&
        std::strcmp(seen.value, ignored.value) == 0) {
      return true;
    }
  }
  return false;
}

// Under g_reportedLock. Reports each problem of `settings` that `told` does not have.
void ReportProblems(const Settings& settings, const Settings& told) {
  const char* path = settings.modeFilePath;
  if (settings.policyError != ERROR_SUCCESS && settings.policyError != told.policyError) {
    ReportPolicyKeyUnreadable(kPolicyKeyName, settings.policyError);
  }
  if (settings.modeFileError != ERROR_SUCCESS && settings.modeFileError != told.modeFileError) {
    ReportModeFileUnreadable(path, settings.modeFileError);
  }
  if (settings.modeFileMark != told.modeFileMark) ReportMark(path, settings.modeFileMark);
  for (const IgnoredSetting& ignored : settings.ignored) {
    if (WasIgnored(told, ignored)) continue;
    const char* key = KeyOf(ignored.setting);
    if (ignored.source == SettingOrigin::kPolicy) {
      ReportPolicyValueRejected(kPolicyKeyName, key, ignored.value, ignored.why);
    } else {
      ReportModeValueRejected(path, key, ignored.value, ignored.why);
    }
  }
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

const char kPolicyKeyName[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Marrowbank\\MarrowbankServer";
static_assert(sizeof kPolicyKeyName == sizeof "HKEY_LOCAL_MACHINE\\" - 1 + sizeof kPolicyKey, "the policy key, in full");

IgnoredSetting& IgnoredSettings::Add(SettingOrigin source, Setting setting, const char* value) {
  IgnoredSetting& added = items[count++];
  added.source = source;
  added.setting = setting;
  Format(added.value, "%s", value);
  added.why[0] = '\0';
  return added;
}

Settings ReadSettings() {
  Settings settings{};
  settings.autoBack = true;  // AutoBack's default: every other default is zero
  const PolicyKey policy;
  settings.policyError = policy.error;
  const bool havePath = ModeFilePath(settings.modeFilePath);
  const char* path = settings.modeFilePath;
  if (havePath) {
    settings.modeFileError = ModeFileOpenError(path);
    settings.modeFileMark = ReadTextMark(path);
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(Setting::kCount); ++i) {
    const Setting setting = static_cast<Setting>(i);
    const SettingRow& row = kSettingRows[i];
    // The policy's value wins when the service can use it; a LaunchAs it cannot is taken as user.
    unsigned number = 0;
    IgnoredSetting& candidate = settings.ignored.items[settings.ignored.count];
    candidate.source = SettingOrigin::kPolicy;
    candidate.setting = setting;
    const PolicyKey::Found found = policy.Read(setting, number, candidate);
    if (found == PolicyKey::Found::kIgnored) ++settings.ignored.count;
    if (found == PolicyKey::Found::kAccepted || (found == PolicyKey::Found::kIgnored && setting == Setting::kLaunchAs)) {
      Apply(settings, setting, number, SettingOrigin::kPolicy);
      continue;
    }
    if (!havePath) continue;
    // Then the mode file's; each key is read from it once, and the value read is the one both used and
    // reported.
    char value[kModeValueSize] = {};
    if (setting == Setting::kLaunchAs) {
      Format(value, "%s", ReadLaunchAs(path, settings.modeFileMark).c_str());
    } else {
      ReadModeValue(path, row.key, "", value);
    }
    if (value[0] == '\0') continue;
    bool accepted = true;
    switch (row.kind) {
      case SettingKind::kSwitch:
        number = setting == Setting::kAutoBack ? ParseModeSwitch(value) : ParseLaunchAtLogon(value, accepted);
        break;
      case SettingKind::kSeconds: number = ParsePollSeconds(value, accepted); break;
      case SettingKind::kLaunchAs: number = ParseLaunchAsUser(value, accepted); break;
    }
    // A LaunchAs the service does not understand still counts, as user: the lower privilege.
    if (accepted || setting == Setting::kLaunchAs) Apply(settings, setting, number, SettingOrigin::kModeFile);
    if (!accepted) ModeConsequence(setting, settings.ignored.Add(SettingOrigin::kModeFile, setting, value).why);
  }
  return settings;
}

Settings ReadStartSettings() {
  const Settings settings = ReadSettings();
  std::lock_guard<std::mutex> hold(g_reportedLock);
  ReportProblems(settings, Settings{});
  g_reported.reset(new Settings(settings));
  return settings;
}

Settings RereadSettings() {
  const Settings settings = ReadSettings();
  std::lock_guard<std::mutex> hold(g_reportedLock);
  if (!g_reported) g_reported.reset(new Settings{});
  ReportProblems(settings, *g_reported);
  *g_reported = settings;
  return settings;
}

bool ReadAutoBack() {
  unsigned number = 0;
  IgnoredSetting ignored{};
  if (PolicyKey().Read(Setting::kAutoBack, number, ignored) == PolicyKey::Found::kAccepted) return number != 0;
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
  unsigned number = 0;
  IgnoredSetting ignored{};
  if (PolicyKey().Read(Setting::kLaunchAs, number, ignored) != PolicyKey::Found::kAbsent) return number != 0;
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
