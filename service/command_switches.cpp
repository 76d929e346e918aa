#include "service/command_switches.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/event_log.h"
#include "platform/handles.h"
#include "platform/json_text.h"
#include "service/service_setup.h"
#include "service/service_host.h"

namespace {

constexpr char kUsage[] =
    "Usage: MarrowbankServer.exe [/install | /uninstall | /start | /stop | /status [/json] | /selftest [/json]] [/quiet]\r\n"
    "  /install    register this executable as the service and start it\r\n"
    "  /uninstall  stop the service and remove it\r\n"
    "  /start      start the service\r\n"
    "  /stop       stop the service\r\n"
    "  /status     show the service's state, image path and settings in force; exit code: the state (1-7), 1060 if absent\r\n"
    "  /selftest   check this machine's setup, one line per check; exit code: 0 all OK, 1 a warning, 2 a failure\r\n"
    "  /json       with /status or /selftest: the same as JSON\r\n"
    "  /quiet      show no message box\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The start of the next argument at or after `at`, past blanks and empty arguments (a pair of double
// quotes, as some shortcuts and launchers pass): an empty argument is no argument.
const char* NextArgument(const char* at) {
  for (;;) {
    while (IsBlank(*at)) ++at;
    if (at[0] != '"' || at[1] != '"' || (at[2] != '\0' && !IsBlank(at[2]))) return at;
    at += 2;
  }
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares the token [begin, end) without its leading '/' or '-' to a lower-case name, ASCII only:
// a code-page-dependent comparison could match bytes of a double-byte character.
bool TokenIs(const char* begin, const char* end, const char* name) {
  if (end - begin < 2 || (*begin != '/' && *begin != '-')) return false;
  ++begin;
  for (; begin != end && *name != '\0'; ++begin, ++name) {
    if (Lower(*begin) != *name) return false;
  }
  return begin == end && *name == '\0';
}

const char* StateName(DWORD state) {
  static const char* const kNames[] = {"STOPPED",          "START_PENDING", "STOP_PENDING", "RUNNING",
                                       "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
  return state >= SERVICE_STOPPED && state <= SERVICE_PAUSED ? kNames[state - 1] : "UNKNOWN";
}

}  // namespace

// A GUI-subsystem program has no console of its own: the parent's is the one to write to.
void TellAdministrator(const char* text, bool failed, bool quiet) {
  const DWORD length = static_cast<DWORD>(std::strlen(text));
  DWORD written = 0;
  const HANDLE out = sys::calls().GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && sys::calls().WriteFile(out, text, length, &written, nullptr)) {
    return;
  }
  if (sys::calls().AttachConsole(ATTACH_PARENT_PROCESS)) {
    sys::UniqueHandle console(sys::calls().CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                       nullptr));
    if (console && sys::calls().WriteFile(console.get(), text, length, &written, nullptr)) return;
  }
  if (quiet) return;
  sys::calls().MessageBoxA(nullptr, text, g_serviceHost->serviceName,
                           MB_OK | (failed ? MB_ICONERROR : MB_ICONINFORMATION));
}

namespace {

void Tell(const char* text, bool failed, bool quiet) { TellAdministrator(text, failed, quiet); }

DWORD Start(DWORD& serviceCode) {
  serviceCode = 0;
  DWORD error = ERROR_SUCCESS;
  sys::UniqueServiceHandle service =
      OpenOwnService(SERVICE_START | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, error);
  return service ? StartAndWait(service.get(), serviceCode) : error;
}

DWORD Stop() {
  DWORD error = ERROR_SUCCESS;
  sys::UniqueServiceHandle service =
      OpenOwnService(SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, error);
  return service ? StopAndWait(service.get()) : error;
}

// The service's state and image path; the facts' error when it cannot be queried.
ServiceStatusFacts QueryStatusFacts() {
  ServiceStatusFacts facts{ERROR_SUCCESS, 0, "?"};
  sys::UniqueServiceHandle service = OpenOwnService(SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, facts.error);
  SERVICE_STATUS status{};
  if (!service) return facts;
  if (!sys::calls().QueryServiceStatus(service.get(), &status)) {
    facts.error = GetLastError();
    return facts;
  }
  facts.state = status.dwCurrentState;
  alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[kServiceConfigRoom];
  const QUERY_SERVICE_CONFIGA* config = ReadServiceConfig(service.get(), buffer);
  if (config != nullptr && config->lpBinaryPathName != nullptr) facts.imagePath = config->lpBinaryPathName;
  return facts;
}

// Appends each text of `parts` to `out`, and numbers in decimal: one out-of-line call for each
// piece keeps the executable lean.
struct Part {
  Part(const char* piece) : text(piece) {}
  Part(const std::string& piece) : text(piece.c_str()) {}
  Part(DWORD number) : text(nullptr) { std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(number)); }
  const char* text;
  char digits[12];
};

__attribute__((noinline)) void Put(std::string& out, std::initializer_list<Part> parts) {
  for (const Part& part : parts) out += part.text == nullptr ? part.digits : part.text;
}

const char* DoneText(SwitchAction action) {
  switch (action) {
    case SwitchAction::kInstall: return "installed and RUNNING";
    case SwitchAction::kUninstall: return "uninstalled";
    case SwitchAction::kStart: return "RUNNING";
    default: return "STOPPED";
  }
}

const char* SwitchName(SwitchAction action) {
  switch (action) {
    case SwitchAction::kInstall: return "/install";
    case SwitchAction::kUninstall: return "/uninstall";
    case SwitchAction::kStart: return "/start";
    case SwitchAction::kStop: return "/stop";
    default: return "/status";
  }
}

}  // namespace

std::string StatusText(const ServiceStatusFacts& facts, const Settings& settings) {
  const char* name = g_serviceHost->serviceName;
  std::string text;
  if (facts.error == ERROR_SUCCESS) {
    Put(text, {name, " is ", StateName(facts.state), " (", facts.state, "); image path ", facts.imagePath, "\r\n"});
  } else if (facts.error == ERROR_SERVICE_DOES_NOT_EXIST) {
    Put(text, {name, " is not installed (1060)\r\n"});
  } else {
    Put(text, {name, " /status failed: error ", facts.error, "\r\n"});
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(Setting::kCount); ++i) {
    const Setting setting = static_cast<Setting>(i);
    Put(text, {"  ", kSettingRows[i].key, " = ", SettingValueText(settings, setting), " (",
               SettingOriginName(settings.OriginOf(setting)), ")\r\n"});
  }
  for (const IgnoredSetting& ignored : settings.ignored) {
    Put(text, {"  ignored: ", SettingOriginName(ignored.source), " ", SettingRowOf(ignored.setting).key, "=",
               ignored.value, ": ", ignored.why, "\r\n"});
  }
  if (settings.policyError != ERROR_SUCCESS) {
    Put(text, {"  policy key HKLM\\", kPolicyKey, " cannot be read: error ", settings.policyError, "\r\n"});
  }
  if (settings.modeFileError != ERROR_SUCCESS) {
    Put(text, {"  mode file ", settings.modeFilePath, " cannot be read: error ", settings.modeFileError, "\r\n"});
  }
  return text;
}

std::string StatusJson(const ServiceStatusFacts& facts, const Settings& settings) {
  const bool known = facts.error == ERROR_SUCCESS;
  const char* state = known ? StateName(facts.state)
                            : facts.error == ERROR_SERVICE_DOES_NOT_EXIST ? "ABSENT" : "UNKNOWN";
  std::string json;
  Put(json, {"{\"service\":", JsonString(g_serviceHost->serviceName), ",\"state\":\"", state, "\",\"stateCode\":",
             known ? facts.state : 0, ",\"imagePath\":", known ? JsonString(facts.imagePath) : std::string("null"),
             ",\"error\":", facts.error, ",\"settings\":{"});
  for (std::size_t i = 0; i < static_cast<std::size_t>(Setting::kCount); ++i) {
    const Setting setting = static_cast<Setting>(i);
    Put(json, {i == 0 ? "\"" : ",\"", kSettingRows[i].key, "\":{\"value\":",
               JsonString(SettingValueText(settings, setting)), ",\"origin\":\"",
               SettingOriginName(settings.OriginOf(setting)), "\"}"});
  }
  Put(json, {"},\"ignored\":["});
  for (std::size_t i = 0; i < settings.ignored.count; ++i) {
    const IgnoredSetting& ignored = settings.ignored.items[i];
    Put(json, {i == 0 ? "{\"source\":\"" : ",{\"source\":\"", SettingOriginName(ignored.source), "\",\"key\":\"",
               SettingRowOf(ignored.setting).key, "\",\"value\":", JsonString(ignored.value),
               ",\"why\":", JsonString(ignored.why), "}"});
  }
  Put(json, {"],\"policyKeyError\":", settings.policyError, ",\"modeFileError\":", settings.modeFileError,
             ",\"modeFilePath\":", JsonString(settings.modeFilePath), "}\r\n"});
  return json;
}

bool NoArguments(const char* arguments) { return arguments == nullptr || *NextArgument(arguments) == '\0'; }

CommandSwitches ParseCommandSwitches(const char* arguments) {
  static const struct {
    const char* name;
    SwitchAction action;
  } kActions[] = {{"install", SwitchAction::kInstall},
                  {"uninstall", SwitchAction::kUninstall},
                  {"start", SwitchAction::kStart},
                  {"stop", SwitchAction::kStop},
                  {"status", SwitchAction::kStatus},
                  {"selftest", SwitchAction::kSelfTest}};
  CommandSwitches result{SwitchAction::kNone, false, true, false};
  const char* at = arguments != nullptr ? arguments : "";
  for (;;) {
    at = NextArgument(at);
    if (*at == '\0') break;
    const char* end = at;
    while (*end != '\0' && !IsBlank(*end)) ++end;
    bool known = false;
    if (TokenIs(at, end, "quiet")) {
      result.quiet = known = true;
    } else if (TokenIs(at, end, "json")) {
      result.json = known = true;
    } else {
      for (const auto& entry : kActions) {
        if (!TokenIs(at, end, entry.name)) continue;
        known = result.action == SwitchAction::kNone;  // a second action is as wrong as an unknown one
        result.action = entry.action;
      }
    }
    if (!known) result.valid = false;
    at = end;
  }
  if (result.action == SwitchAction::kNone) result.valid = false;
  if (result.json && result.action != SwitchAction::kSelfTest && result.action != SwitchAction::kStatus) {
    result.valid = false;
  }
  return result;
}

DWORD RunCommandSwitches(const char* arguments) {
  const CommandSwitches switches = ParseCommandSwitches(arguments);
  if (!switches.valid || switches.action == SwitchAction::kSelfTest) {
    Tell(kUsage, true, switches.quiet);
    return ERROR_INVALID_PARAMETER;
  }
  char text[1024];
  DWORD code = ERROR_SUCCESS;
  DWORD serviceCode = 0;  // the service's own code, when it stopped while starting with one
  switch (switches.action) {
    case SwitchAction::kStatus: {
      const ServiceStatusFacts facts = QueryStatusFacts();
      const Settings settings = ReadSettings();
      const std::string told = switches.json ? StatusJson(facts, settings) : StatusText(facts, settings);
      Tell(told.c_str(), facts.error != ERROR_SUCCESS && facts.error != ERROR_SERVICE_DOES_NOT_EXIST, switches.quiet);
      return facts.error == ERROR_SUCCESS ? facts.state : facts.error;
    }
    case SwitchAction::kInstall: {
      bool started = true;
      code = InstallAndStart(started, serviceCode);
      if (code == ERROR_SUCCESS && !started) {
        std::snprintf(text, sizeof(text), "%s is installed; it is disabled, so it was not started\r\n",
                      g_serviceHost->serviceName);
        Tell(text, false, switches.quiet);
        return code;
      }
      break;
    }
    case SwitchAction::kUninstall: code = UninstallService(); break;
    case SwitchAction::kStart: code = Start(serviceCode); break;
    default: code = Stop(); break;
  }
  if (code == ERROR_SUCCESS) {
    std::snprintf(text, sizeof(text), "%s is %s\r\n", g_serviceHost->serviceName, DoneText(switches.action));
  } else if (code == ERROR_SERVICE_SPECIFIC_ERROR) {
    std::snprintf(text, sizeof(text), "%s %s failed: error %lu, service-specific code %lu\r\n",
                  g_serviceHost->serviceName, SwitchName(switches.action), static_cast<unsigned long>(code),
                  static_cast<unsigned long>(serviceCode));
  } else {
    std::snprintf(text, sizeof(text), "%s %s failed: error %lu\r\n", g_serviceHost->serviceName,
                  SwitchName(switches.action), static_cast<unsigned long>(code));
  }
  Tell(text, code != ERROR_SUCCESS, switches.quiet);
  return code;
}
