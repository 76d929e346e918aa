// The self-test's checks. Each reads what the service would use, the way the service reads it, and
// turns every failure to read into a WARN or FAIL line with its reason.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>
#include <wtsapi32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/bridge_api.h"
#include "device/fp_sdk.h"
#include "launch/command_line.h"
#include "launch/mode_file_mark.h"
#include "launch/mode_settings.h"
#include "launch/mode_switch.h"
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

std::string ErrorText(DWORD error) {
  const std::string text = Win32ErrorText(error);
  return "error " + std::to_string(error) + (text.empty() ? "" : " (" + text + ")");
}

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

// Gathers the findings of one check: the worst level, what was seen and what to do, in order.
struct Findings {
  CheckLevel level = CheckLevel::kOk;
  std::string saw, fix;
  void Add(CheckLevel atLevel, const std::string& seen, const std::string& todo = "") {
    if (atLevel > level) level = atLevel;
    saw += (saw.empty() ? "" : "; ") + seen;
    if (!todo.empty()) fix += (fix.empty() ? "" : " ") + todo;
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

std::string Directory(const std::string& path) {
  const int separator = LastPathSeparator(path.c_str());
  return separator < 0 ? std::string() : path.substr(0, static_cast<size_t>(separator));
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---- The service's registration ---------------------------------------------------------------

CheckResult Registration(SC_HANDLE service, const std::string& own) {
  Findings f;
  alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[kServiceConfigRoom];
  const QUERY_SERVICE_CONFIGA* config = ReadServiceConfig(service, buffer);
  if (config == nullptr) {
    f.Add(CheckLevel::kFail, "its configuration cannot be read: " + ErrorText(GetLastError()), kAsAdministrator);
    return f.Result("registration", g_serviceHost->serviceName);
  }
  const std::string image = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "";
  const bool quoted = image.size() > 1 && image[0] == '"' && image.find('"', 1) != std::string::npos;
  const std::string file = quoted ? image.substr(1, image.find('"', 1) - 1) : image;
  const std::string reinstall = "Run MarrowbankServer.exe /install from the folder the service is to run from.";
  if (own.empty()) {
    f.Add(CheckLevel::kWarn, "image path " + image + "; this executable's path cannot be read to compare");
  } else if (!SameFilePath(file.c_str(), own.c_str())) {
    f.Add(CheckLevel::kFail, "image path " + image + " is another executable than this one (" + own + ")", reinstall);
  } else if (!quoted) {
    f.Add(CheckLevel::kWarn,
          "image path " + image + " is not in double quotes: a program at a shorter path that ends at a blank "
          "(C:\\Program.exe) would run in its place",
          reinstall);
  } else {
    f.Add(CheckLevel::kOk, "image path " + image + " (this executable)");
  }
  switch (config->dwStartType) {
    case SERVICE_AUTO_START: f.Add(CheckLevel::kOk, "automatic start"); break;
    case SERVICE_DISABLED:
      f.Add(CheckLevel::kFail, "disabled", "sc config MarrowbankServer start= auto");
      break;
    default:
      f.Add(CheckLevel::kWarn, "start type " + std::to_string(config->dwStartType) + ", not automatic (2): it does "
            "not start with Windows", "sc config MarrowbankServer start= auto");
  }
  const char* account = config->lpServiceStartName != nullptr ? config->lpServiceStartName : "";
  if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, account, -1, "LocalSystem", -1) == CSTR_EQUAL) {
    f.Add(CheckLevel::kOk, "account LocalSystem");
  } else {
    f.Add(CheckLevel::kFail,
          std::string("account ") + account + ", not LocalSystem: only LocalSystem can start the program in the "
          "console user's session",
          "sc config MarrowbankServer obj= LocalSystem type= own type= interact");
  }
  if ((config->dwServiceType & ~static_cast<DWORD>(SERVICE_INTERACTIVE_PROCESS)) != SERVICE_WIN32_OWN_PROCESS) {
    f.Add(CheckLevel::kWarn, "service type " + Hex(config->dwServiceType) + ", not its own process", reinstall);
  }
  if (config->dwErrorControl == SERVICE_ERROR_NORMAL) {
    f.Add(CheckLevel::kOk, "error control normal");
  } else {
    f.Add(CheckLevel::kWarn, "error control " + std::to_string(config->dwErrorControl) + ", not normal (1)",
          reinstall);
  }
  return f.Result("registration", g_serviceHost->serviceName);
}

std::string ActionText(const SC_ACTION& action) {
  switch (action.Type) {
    case SC_ACTION_NONE: return "nothing";
    case SC_ACTION_RESTART: return "restart after " + std::to_string(action.Delay) + " ms";
    default: return "action " + std::to_string(action.Type) + " after " + std::to_string(action.Delay) + " ms";
  }
}

CheckResult FailureActions(SC_HANDLE service) {
  Findings f;
  const std::string query = "Check them with sc qfailure MarrowbankServer and sc qfailureflag MarrowbankServer.";
  const std::string reinstall = "Run MarrowbankServer.exe /install again: it sets them.";
  alignas(SERVICE_FAILURE_ACTIONSA) BYTE buffer[1024];
  DWORD needed = 0;
  if (!sys::calls().QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof buffer, &needed)) {
    f.Add(CheckLevel::kWarn, "the failure actions cannot be read: " + ErrorText(GetLastError()), query);
  } else {
    const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSA*>(buffer);
    std::string text = "reset after " + std::to_string(actions->dwResetPeriod) + " s:";
    bool expected = actions->dwResetPeriod == kFailureResetSeconds &&
                    actions->cActions == sizeof kFailureActions / sizeof kFailureActions[0] &&
                    actions->lpsaActions != nullptr;
    for (DWORD i = 0; actions->lpsaActions != nullptr && i < actions->cActions; ++i) {
      text += (i == 0 ? " " : ", ") + ActionText(actions->lpsaActions[i]);
      if (expected && (actions->lpsaActions[i].Type != kFailureActions[i].Type ||
                       actions->lpsaActions[i].Delay != kFailureActions[i].Delay)) {
        expected = false;
      }
    }
    if (actions->cActions == 0) text += " no actions";
    if (expected) {
      f.Add(CheckLevel::kOk, text);
    } else {
      f.Add(CheckLevel::kWarn, text + ", not the recovery the service sets (restart after " +
            std::to_string(kRestartDelayMs) + " ms twice, then nothing; reset after " +
            std::to_string(kFailureResetSeconds) + " s)", reinstall);
    }
  }
  SERVICE_FAILURE_ACTIONS_FLAG flag{};
  if (!sys::calls().QueryServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, reinterpret_cast<BYTE*>(&flag),
                                         sizeof flag, &needed)) {
    f.Add(CheckLevel::kWarn, "their flag for stops with an error code cannot be read: " + ErrorText(GetLastError()),
          f.fix.find(query) == std::string::npos ? query : "");
  } else if (!flag.fFailureActionsOnNonCrashFailures) {
    f.Add(CheckLevel::kWarn, "they run only when the process crashes, not when the service stops with an error code",
          "sc failureflag MarrowbankServer 1 (or run MarrowbankServer.exe /install again).");
  } else {
    f.Add(CheckLevel::kOk, "also when the service stops with an error code");
  }
  return f.Result("failure_actions", g_serviceHost->serviceName);
}

void ServiceChecks(std::vector<CheckResult>& results, const std::string& own) {
  DWORD error = ERROR_SUCCESS;
  const sys::UniqueServiceHandle service = OpenOwnService(SERVICE_QUERY_CONFIG, error);
  if (!service) {
    const bool absent = error == ERROR_SERVICE_DOES_NOT_EXIST;
    const std::string why = absent ? "the service is not registered (1060)" : "the service cannot be opened: " +
                                                                                  ErrorText(error);
    const std::string fix = absent ? "Run MarrowbankServer.exe /install (or install the package)." : kAsAdministrator;
    results.push_back({"registration", g_serviceHost->serviceName, CheckLevel::kFail, why, fix});
    results.push_back({"failure_actions", g_serviceHost->serviceName, CheckLevel::kWarn, "not read: " + why, fix});
    return;
  }
  results.push_back(Registration(service.get(), own));
  results.push_back(FailureActions(service.get()));
}

CheckResult EventSource(const std::string& own) {
  Findings f;
  std::string registered;
  const std::string reinstall = "Run MarrowbankServer.exe /install from the service's folder.";
  if (!ReadEventSourceMessageFile(registered)) {
    const DWORD error = GetLastError();
    f.Add(CheckLevel::kWarn,
          (error == ERROR_FILE_NOT_FOUND ? std::string("no event source is registered")
                                         : "its message file cannot be read: " + ErrorText(error)) +
              ": the events show without their texts",
          error == ERROR_FILE_NOT_FOUND ? reinstall : kAsAdministrator);
  } else if (own.empty() || !SameFilePath(registered.c_str(), own.c_str())) {
    f.Add(CheckLevel::kWarn, "its message file is " + registered + ", not this executable: the events may show "
          "without their texts", reinstall);
  } else {
    f.Add(CheckLevel::kOk, "its message file is this executable");
  }
  return f.Result("event_source", kEventSourceName);
}

// ---- Files ----------------------------------------------------------------------------------------

void Permissions(std::vector<CheckResult>& results) {
  const std::vector<std::string> paths = ProtectedPaths();
  if (paths.empty()) {
    results.push_back({"permissions", "", CheckLevel::kWarn, "this executable's path cannot be read", ""});
    return;
  }
  const std::string& folder = paths.front();
  for (const std::string& path : paths) {
    const OtherWriter writer = FindOtherWriter(path.c_str());
    Findings f;
    if (writer.error == ERROR_FILE_NOT_FOUND || writer.error == ERROR_PATH_NOT_FOUND) {
      f.Add(CheckLevel::kWarn, "not found", "Put it in the service's folder.");
    } else if (writer.error != ERROR_SUCCESS) {
      f.Add(CheckLevel::kWarn, "its access list cannot be read: " + ErrorText(writer.error),
            std::string(kAsAdministrator) + " Then see Properties, Security.");
    } else if (writer.found) {
      f.Add(CheckLevel::kWarn,
            "can be changed by " + writer.account + ", not only by SYSTEM, Administrators and TrustedInstaller: "
            "whoever can change it runs code as LocalSystem",
            "Remove that right, for the folder with icacls \"" + folder + "\" /inheritance:r /grant:r "
            "*S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX and for its files with icacls \"" +
            folder + "\\*\" /reset /t, or install the package, which locks its folder.");
    } else {
      f.Add(CheckLevel::kOk, "only SYSTEM, Administrators and TrustedInstaller can change it");
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
  const LONG result = VerifySignature(path);
  const std::string code = Hex(static_cast<unsigned long>(result));
  const std::string replace = "Replace it with the original file.";
  const std::string signedCopy = ours ? "Install a signed release (the package's build signs it when given a "
                                        "certificate)."
                                      : "Ask the maker for a signed copy.";
  Findings f;
  switch (static_cast<unsigned long>(result)) {
    case ERROR_SUCCESS: f.Add(CheckLevel::kOk, "signed, and the signature is trusted"); break;
    case static_cast<unsigned long>(TRUST_E_NOSIGNATURE):
      f.Add(CheckLevel::kWarn, "not signed (" + code + "): application control and SmartScreen treat it as suspect",
            signedCopy);
      break;
    case static_cast<unsigned long>(TRUST_E_BAD_DIGEST):
      f.Add(CheckLevel::kFail, "signed, but changed after signing (" + code + ")", replace);
      break;
    case static_cast<unsigned long>(TRUST_E_EXPLICIT_DISTRUST):
    case static_cast<unsigned long>(CERT_E_REVOKED):
      f.Add(CheckLevel::kFail, "signed with a certificate that is distrusted or revoked (" + code + ")", replace);
      break;
    case static_cast<unsigned long>(TRUST_E_SUBJECT_NOT_TRUSTED):
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT):
    case static_cast<unsigned long>(CERT_E_CHAINING):
    case static_cast<unsigned long>(CERT_E_EXPIRED):
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDTESTROOT):
      f.Add(CheckLevel::kWarn, "signed, but the signature is not trusted on this machine (" + code + ")",
            "Install the signer's root certificate, or " +
                std::string(ours ? "sign it with a trusted certificate." : "ask the maker for a trusted signature."));
      break;
    case static_cast<unsigned long>(TRUST_E_SUBJECT_FORM_UNKNOWN):
      f.Add(CheckLevel::kWarn, "not a file that can carry a signature (" + code + ")", replace);
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      f.Add(CheckLevel::kWarn, "not found", "Put it in the service's folder.");
      break;
    default:
      f.Add(CheckLevel::kWarn, "its signature cannot be verified (" + code + ")", kAsAdministrator);
  }
  return f.Result("signature", path);
}

CheckResult Sdk(const std::string& prefix) {
  Findings f;
  const std::string put = std::string("Put the maker's ") + kSdkLibraryName + " beside MarrowbankServer.exe.";
  const HMODULE module = sys::calls().GetModuleHandleA(kSdkLibraryName);
  char path[MAX_PATH] = {};
  DWORD length = 0;
  if (module == nullptr) {
    f.Add(CheckLevel::kFail, "not loaded: " + ErrorText(GetLastError()), put);
  } else if ((length = sys::calls().GetModuleFileNameA(module, path, MAX_PATH)) == 0 || length >= MAX_PATH) {
    f.Add(CheckLevel::kWarn, "loaded, but from where cannot be read: " + ErrorText(GetLastError()));
  } else if (prefix.empty() || !SameFilePath((Directory(path) + "\\").c_str(), prefix.c_str())) {
    f.Add(CheckLevel::kFail,
          std::string("loaded from ") + path + ", not from the service's folder: Windows found it on its search path",
          put);
  } else {
    f.Add(CheckLevel::kOk, "loaded from the service's folder");
  }
  if (module != nullptr) {
    std::string missing;
    for (const char* name : kSdkFunctionNames) {
      if (sys::calls().GetProcAddress(module, name) == nullptr) {
        missing += (missing.empty() ? "" : ", ") + std::string(name) + " (" + ErrorText(GetLastError()) + ")";
      }
    }
    if (missing.empty()) {
      f.Add(CheckLevel::kOk, "it exports the seven functions");
    } else {
      f.Add(CheckLevel::kFail, "it lacks " + missing, "Replace it with the maker's " + std::string(kSdkLibraryName) +
                                                          ".");
    }
  }
  return f.Result("sdk", prefix + kSdkLibraryName);
}

CheckResult Bridge(const std::string& prefix) {
  Findings f;
  const std::string path = prefix + BridgeApi::kLibraryName;
  const std::string put = std::string("Put the maker's ") + BridgeApi::kLibraryName + " beside MarrowbankServer.exe.";
  if (!Exists(path)) {
    f.Add(CheckLevel::kFail, "not found beside this executable", put);
    return f.Result("bridge", path);
  }
  ::SetLastError(ERROR_SUCCESS);
  bool loadedHere = false;
  const HMODULE module = BridgeApi::Bind(&loadedHere);
  if (module == nullptr) {
    f.Add(CheckLevel::kFail, "does not load, or lacks one of its " + std::to_string(BridgeApi::kEntryCount) +
          " entries: " + ErrorText(GetLastError()), "Replace it with the maker's " + std::string(BridgeApi::kLibraryName) + ".");
    return f.Result("bridge", path);
  }
  // Loaded for the check only: nothing may keep an address into it once it is freed.
  if (loadedHere) {
    BridgeApi::Table().Clear();
    sys::UniqueLibrary(module).reset();
  }
  f.Add(CheckLevel::kOk, "loads with its " + std::to_string(BridgeApi::kEntryCount) + " entries");
  return f.Result("bridge", path);
}

// ---- The mode file, the console, the program ------------------------------------------------------

void CheckValue(Findings& f, const char* path, const char* key, bool (*accepts)(const char*)) {
  char value[kModeValueSize];
  ReadModeValue(path, key, "", value);
  if (!accepts(value)) {
    f.Add(CheckLevel::kWarn, std::string(key) + "=" + value + " is not accepted: the key takes its default",
          "Correct the value, then restart the service.");
  }
}

CheckResult ModeFile() {
  Findings f;
  char path[kModeFilePathSize];
  if (!ModeFilePath(path)) {
    f.Add(CheckLevel::kWarn, "this executable's path cannot be read");
    return f.Result("mode_file", kModeFileName);
  }
  const std::string settings = std::string("AutoBack=") + (ReadModeSwitch("AutoBack") ? "1" : "0") +
                               ", PollSeconds=" + std::to_string(ReadPollSeconds()) +
                               ", LaunchAs=" + (ReadLaunchAsUser() ? "user" : "service");
  if (!Exists(path)) {
    f.Add(CheckLevel::kOk, "absent: every key takes its default (" + settings + ")");
    return f.Result("mode_file", path);
  }
  const sys::UniqueHandle file(sys::calls().CreateFileA(path, GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    f.Add(CheckLevel::kWarn, "it exists but cannot be read: " + ErrorText(GetLastError()) + "; every key takes its "
          "default", "Give SYSTEM read access to it, or remove it.");
    return f.Result("mode_file", path);
  }
  const TextMark mark = ReadTextMark(path);
  if (mark != TextMark::kNone) {
    f.Add(CheckLevel::kWarn,
          std::string("it begins with a ") + TextMarkName(mark) + " byte-order mark" +
              (mark == TextMark::kUtf8 ? ": Windows finds no section [Fields], and every key but LaunchAs takes its "
                                         "default"
                                       : ""),
          "Save it as ANSI text without a mark (Notepad: Save As, encoding ANSI; PowerShell 5.1: Set-Content "
          "-Encoding Default).");
  }
  CheckValue(f, path, "PollSeconds", [](const char* v) { bool ok = true; ParsePollSeconds(v, ok); return ok; });
  CheckValue(f, path, "LaunchAtLogon", [](const char* v) { bool ok = true; ParseLaunchAtLogon(v, ok); return ok; });
  CheckValue(f, path, "LaunchAs", [](const char* v) { bool ok = true; ParseLaunchAsUser(v, ok); return ok; });
  f.Add(f.level, "read as " + settings);
  return f.Result("mode_file", path);
}

CheckResult ConsoleUser() {
  Findings f;
  const DWORD session = sys::calls().WTSGetActiveConsoleSessionId();
  const std::string subject = "console";
  if (session == 0xFFFFFFFF) {
    f.Add(CheckLevel::kWarn, "no session is attached to the console: nothing can be started there now");
    return f.Result("console_user", subject);
  }
  char* raw = nullptr;
  DWORD bytes = 0;
  if (!sys::calls().WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &raw, &bytes)) {
    f.Add(CheckLevel::kWarn, "the user of session " + std::to_string(session) + " cannot be read: " +
          ErrorText(GetLastError()), kAsAdministrator);
    return f.Result("console_user", subject);
  }
  const sys::UniqueWtsMemory name(raw);
  if (raw == nullptr || raw[0] == '\0') {
    f.Add(CheckLevel::kOk, "nobody is logged on at the console (session " + std::to_string(session) +
          "): no program is started there until someone is");
  } else {
    f.Add(CheckLevel::kOk, std::string(raw) + " is logged on at the console (session " + std::to_string(session) + ")");
  }
  return f.Result("console_user", subject);
}

CheckResult Program() {
  Findings f;
  char command[kCommandLineBufferSize];
  if (!BuildDesktopAppCommandLine(command)) {
    f.Add(CheckLevel::kWarn, "this executable's path cannot be read");
    return f.Result("program", "Marrowbank.exe");
  }
  std::string path = command + 1;
  path.pop_back();
  if (!Exists(path)) {
    f.Add(CheckLevel::kFail, "not found: every start of the program fails with error 2 (event 201)",
          "Put Marrowbank.exe beside MarrowbankServer.exe.");
    return f.Result("program", path);
  }
  const std::string level = RequestedExecutionLevel(path.c_str());
  const bool asUser = ReadLaunchAsUser();
  const std::string seen = "present, manifest level " + (level.empty() ? std::string("none") : level) +
                           ", LaunchAs=" + (asUser ? "user" : "service");
  if (asUser && (level == "requireAdministrator" || level == "highestAvailable")) {
    f.Add(CheckLevel::kWarn, seen + ": a start with the console user's token is refused with 740 (event 203)",
          "Set LaunchAs=service, or use a program whose manifest level is asInvoker.");
  } else {
    f.Add(CheckLevel::kOk, seen);
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
