// The self-test's checks. Each reads what the service would use, the way the service reads it, and
// turns every failure to read into a WARN or FAIL line with its reason.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "device/bridge_api.h"
#include "device/fp_sdk.h"
#include "launch/command_line.h"
#include "launch/mode_file.h"
#include "launch/settings.h"
#include "launch/program_manifest.h"
#include "platform/event_log.h"
#include "platform/file_security.h"
#include "platform/handles.h"
#include "platform/path_scan.h"
#include "platform/syscalls.h"
#include "selftest/self_test.h"
#include "service/protected_files.h"
#include "service/service_host.h"
#include "service/service_setup.h"

namespace {

constexpr char kAsAdministrator[] = "Run the self-test as an administrator (elevated).";
constexpr char kReinstall[] = "Run MarrowbankServer.exe /install from the folder the service is to run from.";
constexpr char kPutInFolder[] = "Put it in the service's folder.";
constexpr char kReplace[] = "Replace it with the original file.";

// "error N (the system's text)".
std::string ErrorText(DWORD error) {
  const std::string text = Win32ErrorText(error);
  char head[32];
  std::snprintf(head, sizeof head, "error %lu", static_cast<unsigned long>(error));
  return text.empty() ? std::string(head) : std::string(head) + " (" + text + ")";
}

// The findings of one check: the worst level, what was seen and what to do, in order. The texts are
// formatted in place: one call per finding keeps the executable small.
struct Findings {
  CheckLevel level = CheckLevel::kOk;
  std::string saw, fix;

  __attribute__((format(printf, 4, 5))) void Add(CheckLevel atLevel, const char* todo, const char* format, ...) {
    if (atLevel > level) level = atLevel;
    char text[1536];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (!saw.empty()) saw += "; ";
    if (length > 0) saw.append(text, std::min(static_cast<size_t>(length), sizeof text - 1));
    if (todo != nullptr && fix.find(todo) == std::string::npos) {
      if (!fix.empty()) fix += ' ';
      fix += todo;
    }
  }
  CheckResult Result(const char* check, const std::string& subject) const {
    return CheckResult{check, subject, level, saw, fix};
  }
};

// This executable's path without quotes; "" when it cannot be read whole.
std::string OwnPath() {
  char quoted[kQuotedPathRoom];
  if (!ReadQuotedModulePath(quoted)) return "";
  std::string path = quoted + 1;
  path.pop_back();
  return path;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---- The service's registration ---------------------------------------------------------------

CheckResult Registration(SC_HANDLE service, const std::string& own) {
  Findings f;
  alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[kServiceConfigRoom];
  const QUERY_SERVICE_CONFIGA* config = ReadServiceConfig(service, buffer);
  if (config == nullptr) {
    f.Add(CheckLevel::kFail, kAsAdministrator, "its configuration cannot be read: %s", ErrorText(GetLastError()).c_str());
    return f.Result("registration", g_serviceHost->serviceName);
  }
  const std::string image = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "";
  const size_t close = image.size() > 1 && image[0] == '"' ? image.find('"', 1) : std::string::npos;
  const std::string file = close != std::string::npos ? image.substr(1, close - 1) : image;
  const char* path = image.c_str();
  if (own.empty()) {
    f.Add(CheckLevel::kWarn, nullptr, "image path %s; this executable's path cannot be read to compare", path);
  } else if (!SameFilePath(file.c_str(), own.c_str())) {
    f.Add(CheckLevel::kFail, kReinstall, "image path %s is another executable than this one (%s)", path, own.c_str());
  } else if (close == std::string::npos) {
    f.Add(CheckLevel::kWarn, kReinstall,
          "image path %s is not in double quotes: a program at a shorter path that ends at a blank "
          "(C:\\Program.exe) would run in its place",
          path);
  } else {
    f.Add(CheckLevel::kOk, nullptr, "image path %s (this executable)", path);
  }
  const char* autoStart = "sc config MarrowbankServer start= auto";
  const unsigned long start = config->dwStartType;
  if (start == SERVICE_AUTO_START) {
    f.Add(CheckLevel::kOk, nullptr, "automatic start");
  } else if (start == SERVICE_DISABLED) {
    f.Add(CheckLevel::kFail, autoStart, "disabled");
  } else {
    f.Add(CheckLevel::kWarn, autoStart, "start type %lu, not automatic (2): it does not start with Windows", start);
  }
  const char* account = config->lpServiceStartName != nullptr ? config->lpServiceStartName : "";
  if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, account, -1, "LocalSystem", -1) == CSTR_EQUAL) {
    f.Add(CheckLevel::kOk, nullptr, "account LocalSystem");
  } else {
    f.Add(CheckLevel::kFail, "sc config MarrowbankServer obj= LocalSystem type= own type= interact",
          "account %s, not LocalSystem: only LocalSystem can start the program in the console user's session",
          account);
  }
  if ((config->dwServiceType & ~static_cast<DWORD>(SERVICE_INTERACTIVE_PROCESS)) != SERVICE_WIN32_OWN_PROCESS) {
    f.Add(CheckLevel::kWarn, kReinstall, "service type 0x%08lX, not its own process",
          static_cast<unsigned long>(config->dwServiceType));
  }
  if (config->dwErrorControl == SERVICE_ERROR_NORMAL) {
    f.Add(CheckLevel::kOk, nullptr, "error control normal");
  } else {
    f.Add(CheckLevel::kWarn, kReinstall, "error control %lu, not normal (1)",
          static_cast<unsigned long>(config->dwErrorControl));
  }
  return f.Result("registration", g_serviceHost->serviceName);
}

// "restart after 5000 ms, restart after 5000 ms, nothing".
std::string ActionsText(const SERVICE_FAILURE_ACTIONSA& actions) {
  std::string text;
  for (DWORD i = 0; actions.lpsaActions != nullptr && i < actions.cActions; ++i) {
    const SC_ACTION& action = actions.lpsaActions[i];
    char one[64];
    if (action.Type == SC_ACTION_NONE) {
      std::snprintf(one, sizeof one, "%snothing", i == 0 ? "" : ", ");
    } else {
      std::snprintf(one, sizeof one, "%s%s after %lu ms", i == 0 ? "" : ", ",
                    action.Type == SC_ACTION_RESTART ? "restart" : "another action",
                    static_cast<unsigned long>(action.Delay));
    }
    text += one;
  }
  return text.empty() ? "no actions" : text;
}

CheckResult FailureActions(SC_HANDLE service) {
  Findings f;
  const char* query = "Check them with sc qfailure MarrowbankServer and sc qfailureflag MarrowbankServer.";
  alignas(SERVICE_FAILURE_ACTIONSA) BYTE buffer[1024];
  DWORD needed = 0;
  if (!sys::calls().QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof buffer, &needed)) {
    f.Add(CheckLevel::kWarn, query, "the failure actions cannot be read: %s", ErrorText(GetLastError()).c_str());
  } else {
    const auto& actions = *reinterpret_cast<const SERVICE_FAILURE_ACTIONSA*>(buffer);
    bool expected = actions.dwResetPeriod == kFailureResetSeconds && actions.lpsaActions != nullptr &&
                    actions.cActions == sizeof kFailureActions / sizeof kFailureActions[0];
    for (DWORD i = 0; expected && i < actions.cActions; ++i) {
      expected = actions.lpsaActions[i].Type == kFailureActions[i].Type &&
                 actions.lpsaActions[i].Delay == kFailureActions[i].Delay;
    }
    const unsigned long reset = actions.dwResetPeriod;
    if (expected) {
      f.Add(CheckLevel::kOk, nullptr, "reset after %lu s: %s", reset, ActionsText(actions).c_str());
    } else {
      f.Add(CheckLevel::kWarn, "Run MarrowbankServer.exe /install again: it sets them.",
            "reset after %lu s: %s, not the recovery the service sets (restart after %lu ms twice, then nothing; "
            "reset after %lu s)",
            reset, ActionsText(actions).c_str(), static_cast<unsigned long>(kRestartDelayMs),
            static_cast<unsigned long>(kFailureResetSeconds));
    }
  }
  SERVICE_FAILURE_ACTIONS_FLAG flag{};
  if (!sys::calls().QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, reinterpret_cast<BYTE*>(&flag),
                                         sizeof flag, &needed)) {
    f.Add(CheckLevel::kWarn, query, "their flag for stops with an error code cannot be read: %s",
          ErrorText(GetLastError()).c_str());
  } else if (!flag.fFailureActionsOnNonCrashFailures) {
    f.Add(CheckLevel::kWarn, "sc failureflag MarrowbankServer 1 (or run MarrowbankServer.exe /install again).",
          "they run only when the process crashes, not when the service stops with an error code");
  } else {
    f.Add(CheckLevel::kOk, nullptr, "also when the service stops with an error code");
  }
  return f.Result("failure_actions", g_serviceHost->serviceName);
}

void ServiceChecks(std::vector<CheckResult>& results, const std::string& own) {
  DWORD error = ERROR_SUCCESS;
  const sys::UniqueServiceHandle service = OpenOwnService(SERVICE_QUERY_CONFIG, error);
  if (!service) {
    const bool absent = error == ERROR_SERVICE_DOES_NOT_EXIST;
    const std::string why = absent ? std::string("the service is not registered (1060)")
                                   : "the service cannot be opened: " + ErrorText(error);
    const char* fix = absent ? "Run MarrowbankServer.exe /install (or install the package)." : kAsAdministrator;
    Findings registration, actions;
    registration.Add(CheckLevel::kFail, fix, "%s", why.c_str());
    actions.Add(CheckLevel::kWarn, fix, "not read: %s", why.c_str());
    results.push_back(registration.Result("registration", g_serviceHost->serviceName));
    results.push_back(actions.Result("failure_actions", g_serviceHost->serviceName));
    return;
  }
  results.push_back(Registration(service.get(), own));
  results.push_back(FailureActions(service.get()));
}

CheckResult EventSource(const std::string& own) {
  Findings f;
  std::string registered;
  if (!ReadEventSourceMessageFile(registered)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      f.Add(CheckLevel::kWarn, kReinstall, "no event source is registered: the events show without their texts");
    } else {
      f.Add(CheckLevel::kWarn, kAsAdministrator, "its message file cannot be read: %s: the events show without their "
            "texts", ErrorText(error).c_str());
    }
  } else if (own.empty() || !SameFilePath(registered.c_str(), own.c_str())) {
    f.Add(CheckLevel::kWarn, kReinstall, "its message file is %s, not this executable: the events may show without "
          "their texts", registered.c_str());
  } else {
    f.Add(CheckLevel::kOk, nullptr, "its message file is this executable");
  }
  return f.Result("event_source", kEventSourceName);
}

// ---- Files ----------------------------------------------------------------------------------------

void Permissions(std::vector<CheckResult>& results) {
  const std::vector<std::string> paths = ProtectedPaths();
  if (paths.empty()) {
    Findings f;
    f.Add(CheckLevel::kWarn, nullptr, "this executable's path cannot be read");
    results.push_back(f.Result("permissions", ""));
    return;
  }
  const char* folder = paths.front().c_str();
  char lock[1024];
  std::snprintf(lock, sizeof lock,
                "Remove that right, for the folder with icacls \"%s\" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F "
                "*S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX and for its files with icacls \"%s\\*\" /reset /t, "
                "or install the package, which locks its folder.",
                folder, folder);
  for (const std::string& path : paths) {
    const OtherWriter writer = FindOtherWriter(path.c_str());
    Findings f;
    if (writer.error == ERROR_FILE_NOT_FOUND || writer.error == ERROR_PATH_NOT_FOUND) {
      f.Add(CheckLevel::kWarn, kPutInFolder, "not found");
    } else if (writer.error != ERROR_SUCCESS) {
      f.Add(CheckLevel::kWarn, "Run the self-test as an administrator (elevated). Then see Properties, Security.",
            "its access list cannot be read: %s", ErrorText(writer.error).c_str());
    } else if (writer.found) {
      f.Add(CheckLevel::kWarn, lock,
            "can be changed by %s, not only by SYSTEM, Administrators and TrustedInstaller: whoever can change it "
            "runs code as LocalSystem",
            writer.account.c_str());
    } else {
      f.Add(CheckLevel::kOk, nullptr, "only SYSTEM, Administrators and TrustedInstaller can change it");
    }
    results.push_back(f.Result("permissions", path));
  }
}

// WinVerifyTrust's answer for the file at `path`, with its state released again.
LONG VerifySignature(const std::string& path) {
  wchar_t wide[MAX_PATH + 1];
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide, MAX_PATH + 1) == 0) {
    return static_cast<LONG>(GetLastError());
  }
  WINTRUST_FILE_INFO file{sizeof file, wide, nullptr, nullptr};
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  // No network: revocation is not checked, and only cached retrievals are used.
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG result = sys::calls().WinVerifyTrust(noWindow, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  sys::calls().WinVerifyTrust(noWindow, &action, &data);
  return result;
}

CheckResult Signature(const std::string& path, bool ours) {
  const unsigned long code = static_cast<unsigned long>(VerifySignature(path));
  const char* signedCopy = ours ? "Install a signed release (the package's build signs it when given a certificate)."
                                : "Ask the maker for a signed copy.";
  const char* trusted = ours ? "Install the signer's root certificate, or sign it with a trusted certificate."
                             : "Install the signer's root certificate, or ask the maker for a trusted signature.";
  Findings f;
  switch (code) {
    case ERROR_SUCCESS: f.Add(CheckLevel::kOk, nullptr, "signed, and the signature is trusted"); break;
    case static_cast<unsigned long>(TRUST_E_NOSIGNATURE):
      f.Add(CheckLevel::kWarn, signedCopy, "not signed (0x%08lX): application control and SmartScreen treat it as "
            "suspect", code);
      break;
    case static_cast<unsigned long>(TRUST_E_BAD_DIGEST):
      f.Add(CheckLevel::kFail, kReplace, "signed, but changed after signing (0x%08lX)", code);
      break;
    case static_cast<unsigned long>(TRUST_E_EXPLICIT_DISTRUST):
    case static_cast<unsigned long>(CERT_E_REVOKED):
      f.Add(CheckLevel::kFail, kReplace, "signed with a certificate that is distrusted or revoked (0x%08lX)", code);
      break;
    case static_cast<unsigned long>(TRUST_E_SUBJECT_NOT_TRUSTED):
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT):
    case static_cast<unsigned long>(CERT_E_CHAINING):
    case static_cast<unsigned long>(CERT_E_EXPIRED):
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDTESTROOT):
      f.Add(CheckLevel::kWarn, trusted, "signed, but the signature is not trusted on this machine (0x%08lX)", code);
      break;
    case static_cast<unsigned long>(TRUST_E_SUBJECT_FORM_UNKNOWN):
      f.Add(CheckLevel::kWarn, kReplace, "not a file that can carry a signature (0x%08lX)", code);
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: f.Add(CheckLevel::kWarn, kPutInFolder, "not found"); break;
    default: f.Add(CheckLevel::kWarn, kAsAdministrator, "its signature cannot be verified (0x%08lX)", code);
  }
  return f.Result("signature", path);
}

CheckResult Sdk(const std::string& prefix) {
  Findings f;
  const char* put = "Put the maker's t3FPDll.dll beside MarrowbankServer.exe.";
  const HMODULE module = sys::calls().GetModuleHandleA(kSdkLibraryName);
  char path[MAX_PATH] = {};
  DWORD length = 0;
  if (module == nullptr) {
    f.Add(CheckLevel::kFail, put, "not loaded: %s", ErrorText(GetLastError()).c_str());
  } else if ((length = ReadModulePath(path, MAX_PATH, module)) == 0 || length >= MAX_PATH) {
    f.Add(CheckLevel::kWarn, nullptr, "loaded, but from where cannot be read: %s", ErrorText(GetLastError()).c_str());
  } else if (prefix.empty() || !SameFilePath((std::string(path, static_cast<size_t>(LastPathSeparator(path) + 1))).c_str(),
                                             prefix.c_str())) {
    f.Add(CheckLevel::kFail, put, "loaded from %s, not from the service's folder: Windows found it on its search path",
          path);
  } else {
    f.Add(CheckLevel::kOk, nullptr, "loaded from the service's folder");
  }
  if (module != nullptr) {
    std::string missing;
    for (const char* name : kSdkFunctionNames) {
      if (sys::calls().GetProcAddress(module, name) == nullptr) {
        missing += (missing.empty() ? "" : ", ") + std::string(name) + " (" + ErrorText(GetLastError()) + ")";
      }
    }
    if (missing.empty()) {
      f.Add(CheckLevel::kOk, nullptr, "it exports the seven functions");
    } else {
      f.Add(CheckLevel::kFail, "Replace it with the maker's t3FPDll.dll.", "it lacks %s", missing.c_str());
    }
  }
  return f.Result("sdk", prefix + kSdkLibraryName);
}

CheckResult Bridge(const std::string& prefix) {
  Findings f;
  const std::string path = prefix + BridgeApi::kLibraryName;
  if (!Exists(path)) {
    f.Add(CheckLevel::kFail, "Put the maker's JMUsbDll.dll beside MarrowbankServer.exe.",
          "not found beside this executable");
    return f.Result("bridge", path);
  }
  ::SetLastError(ERROR_SUCCESS);
  bool loadedHere = false;
  const HMODULE module = BridgeApi::Bind(&loadedHere);
  if (module == nullptr) {
    f.Add(CheckLevel::kFail, "Replace it with the maker's JMUsbDll.dll.",
          "does not load, or lacks one of its %d entries: %s", BridgeApi::kEntryCount,
          ErrorText(GetLastError()).c_str());
    return f.Result("bridge", path);
  }
  // Loaded for the check only: nothing may keep an address into it once it is freed.
  if (loadedHere) {
    BridgeApi::Table().Clear();
    sys::UniqueLibrary(module).reset();
  }
  f.Add(CheckLevel::kOk, nullptr, "loads with its %d entries", BridgeApi::kEntryCount);
  return f.Result("bridge", path);
}

// ---- The mode file, the console, the program ------------------------------------------------------

void CheckValue(Findings& f, const char* path, Setting setting) {
  const char* key = SettingRowOf(setting).key;
  char value[kModeValueSize];
  ReadModeValue(path, key, "", value);
  if (!SettingValueAccepted(setting, value)) {
    f.Add(CheckLevel::kWarn, "Correct the value, then restart the service.",
          "%s=%s is not accepted: the key takes its default", key, value);
  }
}

// PollSeconds as the service reads it at start: a value it does not accept is no polling.
unsigned PollSecondsAsRead(const char* path) {
  char value[kModeValueSize];
  ReadModeValue(path, SettingRowOf(Setting::kPollSeconds).key, "", value);
  bool accepted = true;
  return ParsePollSeconds(value, accepted);
}

CheckResult ModeFile() {
  Findings f;
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) {
    f.Add(CheckLevel::kWarn, nullptr, "this executable's path cannot be read");
    return f.Result("mode_file", kModeFileName);
  }
  char settings[96];
  std::snprintf(settings, sizeof settings, "%s=%d, %s=%u, %s=%s", SettingRowOf(Setting::kAutoBack).key,
                ReadAutoBack() ? 1 : 0, SettingRowOf(Setting::kPollSeconds).key, PollSecondsAsRead(path),
                SettingRowOf(Setting::kLaunchAs).key, ReadLaunchAsUser() ? "user" : "service");
  if (!Exists(path)) {
    f.Add(CheckLevel::kOk, nullptr, "absent: every key takes its default (%s)", settings);
    return f.Result("mode_file", path);
  }
  const sys::UniqueHandle file(sys::calls().CreateFileA(path, GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    f.Add(CheckLevel::kWarn, "Give SYSTEM read access to it, or remove it.",
          "it exists but cannot be read: %s; every key takes its default", ErrorText(GetLastError()).c_str());
    return f.Result("mode_file", path);
  }
  const TextMark mark = ReadTextMark(path);
  if (mark != TextMark::kNone) {
    f.Add(CheckLevel::kWarn,
          "Save it as ANSI text without a mark (Notepad: Save As, encoding ANSI; PowerShell 5.1: Set-Content "
          "-Encoding Default).",
          "it begins with a %s byte-order mark%s", TextMarkName(mark),
          mark == TextMark::kUtf8 ? ": Windows finds no section [Fields], and every key but LaunchAs takes its default"
                                  : "");
  }
  for (const Setting setting : {Setting::kPollSeconds, Setting::kLaunchAtLogon, Setting::kLaunchAs}) {
    CheckValue(f, path, setting);
  }
  f.Add(f.level, nullptr, "read as %s", settings);
  return f.Result("mode_file", path);
}

CheckResult ConsoleUser() {
  Findings f;
  const DWORD session = sys::calls().WTSGetActiveConsoleSessionId();
  const unsigned long number = session;
  if (session == 0xFFFFFFFF) {
    f.Add(CheckLevel::kWarn, nullptr, "no session is attached to the console: nothing can be started there now");
    return f.Result("console_user", "console");
  }
  char* raw = nullptr;
  DWORD bytes = 0;
  if (!sys::calls().WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &raw, &bytes)) {
    f.Add(CheckLevel::kWarn, kAsAdministrator, "the user of session %lu cannot be read: %s", number,
          ErrorText(GetLastError()).c_str());
    return f.Result("console_user", "console");
  }
  const sys::UniqueWtsMemory name(raw);
  if (raw == nullptr || raw[0] == '\0') {
    f.Add(CheckLevel::kOk, nullptr,
          "nobody is logged on at the console (session %lu): no program is started there until someone is", number);
  } else {
    f.Add(CheckLevel::kOk, nullptr, "%s is logged on at the console (session %lu)", raw, number);
  }
  return f.Result("console_user", "console");
}

CheckResult Program() {
  Findings f;
  char command[kCommandLineBufferSize];
  if (!BuildDesktopAppCommandLine(command)) {
    f.Add(CheckLevel::kWarn, nullptr, "this executable's path cannot be read");
    return f.Result("program", "Marrowbank.exe");
  }
  std::string path = command + 1;
  path.pop_back();
  if (!Exists(path)) {
    f.Add(CheckLevel::kFail, "Put Marrowbank.exe beside MarrowbankServer.exe.",
          "not found: every start of the program fails with error 2 (event 201)");
    return f.Result("program", path);
  }
  const std::string level = RequestedExecutionLevel(path.c_str());
  const bool asUser = ReadLaunchAsUser();
  const char* shown = level.empty() ? "none" : level.c_str();
  if (asUser && (level == "requireAdministrator" || level == "highestAvailable")) {
    f.Add(CheckLevel::kWarn, "Set LaunchAs=service, or use a program whose manifest level is asInvoker.",
          "present, manifest level %s, LaunchAs=user: a start with the console user's token is refused with 740 "
          "(event 203)",
          shown);
  } else {
    f.Add(CheckLevel::kOk, nullptr, "present, manifest level %s, LaunchAs=%s", shown, asUser ? "user" : "service");
  }
  return f.Result("program", path);
}

}  // namespace

std::vector<CheckResult> RunSelfTestChecks() {
  std::vector<CheckResult> results;
  const std::string own = OwnPath();
  const std::string prefix = ServiceFolderPrefix();
  ServiceChecks(results, own);
  results.push_back(EventSource(own));
  Permissions(results);
  const std::string signedFiles[] = {own.empty() ? std::string("MarrowbankServer.exe") : own,
                                     prefix + kSdkLibraryName, prefix + BridgeApi::kLibraryName};
  for (size_t i = 0; i < 3; ++i) results.push_back(Signature(signedFiles[i], i == 0));
  results.push_back(Sdk(prefix));
  results.push_back(Bridge(prefix));
  results.push_back(ModeFile());
  results.push_back(ConsoleUser());
  results.push_back(Program());
  return results;
}
