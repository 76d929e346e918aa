// The controller's branches, driven through the platform-call table by a scripted service control
// manager that logs every call it gets.
#include "service/controller.h"
#include "service/installer_texts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/syscalls.h"
#include "service/service_host.h"
#include "service/service_main.h"
#include "tests/service/service_test_support.h"

namespace {

const SC_HANDLE kManager = reinterpret_cast<SC_HANDLE>(0x1001);
const SC_HANDLE kService = reinterpret_cast<SC_HANDLE>(0x2002);

// What the scripted manager answers, and what it saw.
struct Scm {
  bool exists = true;
  DWORD state = SERVICE_RUNNING;
  std::set<std::string> failing;  // call names that fail, "OpenSCManagerA:<access>" for one access
  std::string modulePath = "C:\\Tools\\Svc\\MarrowbankServer.exe";
  DWORD modulePathResult = ~0u;  // ~0: the path's length (as the system would report)
  int answer = IDNO;

  std::vector<std::string> log;
  std::vector<std::string> boxTexts;  // code page 936, converted back from what the box got
  std::vector<std::wstring> wideBoxTexts;
  bool boxOwnerAndCaptionRight = true;
  std::vector<std::string> createArgs;
  std::string description;  // code page 936, converted back
  std::wstring wideDescription;
  std::string failureActions;
  std::string dispatchName;
  bool dispatchTableRight = false;
};
Scm* scm = nullptr;

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
  return text;
}

bool Fails(const std::string& name) { return scm->failing.count(name) != 0; }

SC_HANDLE WINAPI FakeOpenSCManager(LPCSTR machine, LPCSTR database, DWORD access) {
  const bool fail = Fails("OpenSCManagerA:" + Hex(access)) || machine != nullptr || database != nullptr;
  scm->log.push_back("OpenSCManagerA(" + Hex(access) + ")" + (fail ? "=null" : ""));
  return fail ? nullptr : kManager;
}

SC_HANDLE WINAPI FakeOpenService(SC_HANDLE manager, LPCSTR name, DWORD access) {
  const bool fail = !scm->exists || Fails("OpenServiceA:" + Hex(access)) || manager != kManager ||
                    std::strcmp(name, "MarrowbankServer") != 0;
  scm->log.push_back("OpenServiceA(" + Hex(access) + ")" + (fail ? "=null" : ""));
  return fail ? nullptr : kService;
}

BOOL WINAPI FakeQueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  scm->log.push_back("QueryServiceStatus");
  if (Fails("QueryServiceStatus") || service != kService) return FALSE;
  *status = SERVICE_STATUS{};
  status->dwCurrentState = scm->state;
  return TRUE;
}

BOOL WINAPI FakeCloseServiceHandle(SC_HANDLE handle) {
  scm->log.push_back(handle == kManager ? "Close(manager)" : handle == kService ? "Close(service)" : "Close(?)");
  return TRUE;
}

BOOL WINAPI FakeDispatcher(const SERVICE_TABLE_ENTRYA* table) {
  scm->log.push_back("StartServiceCtrlDispatcherA");
  scm->dispatchName = table[0].lpServiceName;
  scm->dispatchTableRight = table[0].lpServiceProc == ServiceMain && table[1].lpServiceName == nullptr &&
                            table[1].lpServiceProc == nullptr;
  if (!Fails("StartServiceCtrlDispatcherA")) return TRUE;
  SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  return FALSE;
}

DWORD WINAPI FakeGetModuleFileName(HMODULE module, LPWSTR buffer, DWORD size) {
  scm->log.push_back("GetModuleFileNameW");
  if (module != nullptr) return 0;
  if (scm->modulePathResult == 0) return 0;
  return test_support::WideModulePath(scm->modulePath, buffer, size);
}

std::string Text(const char* text) { return text == nullptr ? "(null)" : text; }

SC_HANDLE WINAPI FakeCreateService(SC_HANDLE manager, LPCSTR name, LPCSTR display, DWORD access, DWORD type,
                                   DWORD start, DWORD errorControl, LPCSTR path, LPCSTR group, LPDWORD tag,
                                   LPCSTR dependencies, LPCSTR account, LPCSTR password) {
  scm->log.push_back("CreateServiceA");
  scm->createArgs = {manager == kManager ? "manager" : "?", Text(name), Text(display), Hex(access), Hex(type),
                     Hex(start), Hex(errorControl), Text(path), Text(group), tag ? "tag" : "(null)",
                     Text(dependencies), Text(account), Text(password)};
  if (Fails("CreateServiceA")) return nullptr;
  scm->exists = true;
  return kService;
}

// UTF-16 back to code page 936, byte for byte what the executable holds.
std::string To936(const std::wstring& wide) {
  const int length = ::WideCharToMultiByte(936, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(length > 0 ? length : 1), '\0');
  ::WideCharToMultiByte(936, 0, wide.c_str(), -1, &bytes[0], length, nullptr, nullptr);
  bytes.pop_back();
  return bytes;
}

BOOL WINAPI FakeChangeServiceConfig2W(SC_HANDLE service, DWORD level, LPVOID info) {
  scm->log.push_back("ChangeServiceConfig2W(" + std::to_string(level) + ")");
  if (service == kService && level == SERVICE_CONFIG_DESCRIPTION) {
    scm->wideDescription = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
    scm->description = To936(scm->wideDescription);
  }
  return !Fails("ChangeServiceConfig2W");
}

BOOL WINAPI FakeChangeServiceConfig2(SC_HANDLE service, DWORD level, LPVOID info) {
  scm->log.push_back("ChangeServiceConfig2A(" + std::to_string(level) + ")");
  if (service == kService && level == SERVICE_CONFIG_FAILURE_ACTIONS) {
    const auto* failure = static_cast<SERVICE_FAILURE_ACTIONSA*>(info);
    scm->failureActions = "reset " + std::to_string(failure->dwResetPeriod) +
                          (failure->lpRebootMsg ? " reboot message" : "") + (failure->lpCommand ? " command" : "");
    for (DWORD i = 0; i < failure->cActions; ++i) {
      scm->failureActions += ", " + std::to_string(failure->lpsaActions[i].Type) + "/" +
                             std::to_string(failure->lpsaActions[i].Delay);
    }
  }
  if (service == kService && level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
    scm->failureActions +=
        ", non-crash " + std::to_string(static_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(info)->fFailureActionsOnNonCrashFailures);
  }
  return !Fails("ChangeServiceConfig2A") && !Fails("ChangeServiceConfig2A:" + std::to_string(level));
}

BOOL WINAPI FakeStartService(SC_HANDLE service, DWORD argc, LPCSTR* argv) {
  scm->log.push_back(service == kService && argc == 0 && argv == nullptr ? "StartServiceA" : "StartServiceA(?)");
  return !Fails("StartServiceA");
}

BOOL WINAPI FakeControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  scm->log.push_back("ControlService(" + std::to_string(control) + ")");
  return service == kService && status != nullptr && !Fails("ControlService");
}

const HKEY kSourceKey = reinterpret_cast<HKEY>(0x3003);

LSTATUS WINAPI FakeRegCreateKey(HKEY root, LPCSTR subKey, DWORD, LPSTR keyClass, DWORD options, REGSAM access,
                                LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD) {
  const bool right = root == HKEY_LOCAL_MACHINE && keyClass == nullptr && options == REG_OPTION_NON_VOLATILE &&
                     access == KEY_SET_VALUE && security == nullptr;
  scm->log.push_back(std::string("RegCreateKeyExA(") + (right ? "HKLM\\" : "?\\") + subKey + ")");
  if (Fails("RegCreateKeyExA")) return ERROR_ACCESS_DENIED;
  *key = kSourceKey;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegSetValue(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  std::string value = "?";
  if (type == REG_EXPAND_SZ && size == std::strlen(reinterpret_cast<const char*>(data)) + 1) {
    value = "REG_EXPAND_SZ " + std::string(reinterpret_cast<const char*>(data));
  } else if (type == REG_DWORD && size == 4) {
    value = "REG_DWORD " + std::to_string(*reinterpret_cast<const DWORD*>(data));
  }
  scm->log.push_back(std::string("RegSetValueExA(") + (key == kSourceKey ? "" : "?, ") + name + ", " + value + ")");
  return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegCloseKey(HKEY key) {
  scm->log.push_back(key == kSourceKey ? "RegCloseKey" : "RegCloseKey(?)");
  return ERROR_SUCCESS;
}

int WINAPI FakeMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  scm->log.push_back("MessageBoxW(" + Hex(style) + ")");
  scm->boxTexts.push_back(To936(text));
  scm->wideBoxTexts.push_back(text);
  if (owner != nullptr || std::wstring(caption) != L"MarrowbankServer") scm->boxOwnerAndCaptionRight = false;
  return scm->answer;
}

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scm = &scm_;
  }
  void TearDown() override {
    scm = nullptr;
  }
  // A fresh service manager: the service there or not, its state, the calls that fail.
  Scm& Arrange(bool exists, DWORD state, const std::set<std::string>& failing) {
    scm_ = Scm{};
    scm_.exists = exists;
    scm_.state = state;
    scm_.failing = failing;
    return scm_;
  }
  const std::vector<std::string>& Run() {
    RunServiceController();
    EXPECT_TRUE(scm_.boxOwnerAndCaptionRight);
    return scm_.log;
  }

  Scm scm_;
  service_test::ScopedServiceHost host_;
  sys::Calls& c_ = sys::calls();
  sys::ScopedCall<decltype(c_.OpenSCManagerA)> r1_{c_.OpenSCManagerA, FakeOpenSCManager};
  sys::ScopedCall<decltype(c_.OpenServiceA)> r2_{c_.OpenServiceA, FakeOpenService};
  sys::ScopedCall<decltype(c_.QueryServiceStatus)> r3_{c_.QueryServiceStatus, FakeQueryServiceStatus};
  sys::ScopedCall<decltype(c_.CloseServiceHandle)> r4_{c_.CloseServiceHandle, FakeCloseServiceHandle};
  sys::ScopedCall<decltype(c_.StartServiceCtrlDispatcherA)> r5_{c_.StartServiceCtrlDispatcherA, FakeDispatcher};
  sys::ScopedCall<decltype(c_.GetModuleFileNameW)> r6_{c_.GetModuleFileNameW, FakeGetModuleFileName};
  sys::ScopedCall<decltype(c_.CreateServiceA)> r7_{c_.CreateServiceA, FakeCreateService};
  sys::ScopedCall<decltype(c_.ChangeServiceConfig2A)> r8_{c_.ChangeServiceConfig2A, FakeChangeServiceConfig2};
  sys::ScopedCall<decltype(c_.StartServiceA)> r9_{c_.StartServiceA, FakeStartService};
  sys::ScopedCall<decltype(c_.ControlService)> r10_{c_.ControlService, FakeControlService};
  sys::ScopedCall<decltype(c_.MessageBoxW)> r11_{c_.MessageBoxW, FakeMessageBox};
  sys::ScopedCall<decltype(c_.ChangeServiceConfig2W)> r15_{c_.ChangeServiceConfig2W, FakeChangeServiceConfig2W};
  sys::ScopedCall<decltype(c_.RegCreateKeyExA)> r12_{c_.RegCreateKeyExA, FakeRegCreateKey};
  sys::ScopedCall<decltype(c_.RegSetValueExA)> r13_{c_.RegSetValueExA, FakeRegSetValue};
  sys::ScopedCall<decltype(c_.RegCloseKey)> r14_{c_.RegCloseKey, FakeRegCloseKey};
};

using Log = std::vector<std::string>;

Log Join(std::initializer_list<Log> parts) {
  Log all;
  for (const Log& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Log kQuery = {"OpenSCManagerA(0x1)", "OpenServiceA(0x80000000)", "QueryServiceStatus", "Close(service)",
                    "Close(manager)"};
const Log kStartOk = {"OpenSCManagerA(0xF003F)", "OpenServiceA(0xF01FF)", "StartServiceA", "Close(service)",
                      "Close(manager)"};
// The event source names the executable, unquoted, as its message file.
const Log kEventSourceOk = {
    "RegCreateKeyExA(HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer)",
    "RegSetValueExA(EventMessageFile, REG_EXPAND_SZ C:\\Tools\\Svc\\MarrowbankServer.exe)",
    "RegSetValueExA(TypesSupported, REG_DWORD 7)", "RegCloseKey"};
const Log kInstallOk = Join({{"OpenSCManagerA(0x2)", "GetModuleFileNameW", "CreateServiceA",
                              "ChangeServiceConfig2W(1)", "ChangeServiceConfig2A(2)", "ChangeServiceConfig2A(4)"},
                             kEventSourceOk,
                             {"Close(service)", "Close(manager)"}});

// Message texts, code page 936.
const std::string kDispatchError1063 =
    "\xC6\xF4\xB6\xAF\xB7\xFE\xCE\xF1\xB3\xF6\xB4\xED\xA3\xAC\xB4\xED\xCE\xF3\xC2\xEB\xA3\xBA" "1063";
const std::string kStopText = "\xCD\xA3\xD6\xB9\xB7\xFE\xCE\xF1?";
const std::string kNoPathText =
    "\xB4\xB4\xBD\xA8\xB7\xFE\xCE\xF1\xCA\xA7\xB0\xDC\xA3\xAC\xCE\xB4\xC4\xDC\xBB\xF1\xC8\xA1\xD3\xA6\xD3\xC3"
    "\xB3\xCC\xD0\xF2\xB5\xB1\xC7\xB0\xB5\xC4\xC2\xB7\xBE\xB6";
const std::string kStartFailedText = "\xC6\xF4\xB6\xAF\xB7\xFE\xCE\xF1\xCA\xA7\xB0\xDC";

struct BranchCase {
  const char* name;
  bool exists;
  DWORD state;
  std::set<std::string> failing;
  int answer;
  Log expected;
  std::vector<std::string> boxes;
};

TEST_F(ControllerTest, EachStateAndFailureTakesItsBranch) {
  const Log kStopQuestionNo = Join({kQuery, {"MessageBoxW(0x24)"}});
  const Log kStopQuestionYes =
      Join({kQuery, {"MessageBoxW(0x24)", "OpenSCManagerA(0xF003F)", "OpenServiceA(0xF01FF)", "ControlService(1)",
                     "Close(service)", "Close(manager)"}});
  const BranchCase cases[] = {
      {"running: nothing", true, SERVICE_RUNNING, {}, IDNO, kQuery, {}},
      {"stopped: started, not installed", true, SERVICE_STOPPED, {}, IDNO, Join({kQuery, kStartOk}), {}},
      {"start pending: dispatched", true, SERVICE_START_PENDING, {}, IDNO,
       Join({kQuery, {"StartServiceCtrlDispatcherA"}}), {}},
      {"start pending, dispatcher fails: code shown", true, SERVICE_START_PENDING, {"StartServiceCtrlDispatcherA"},
       IDNO, Join({kQuery, {"StartServiceCtrlDispatcherA", "MessageBoxW(0x0)"}}), {kDispatchError1063}},
      {"stop pending, No", true, SERVICE_STOP_PENDING, {}, IDNO, kStopQuestionNo, {kStopText}},
      {"continue pending, No", true, SERVICE_CONTINUE_PENDING, {}, IDCANCEL, kStopQuestionNo, {kStopText}},
      {"pause pending, Yes", true, SERVICE_PAUSE_PENDING, {}, IDYES, kStopQuestionYes, {kStopText}},
      {"paused, Yes", true, SERVICE_PAUSED, {}, IDYES, kStopQuestionYes, {kStopText}},
      {"status query fails: stop question", true, SERVICE_RUNNING, {"QueryServiceStatus"}, IDYES, kStopQuestionYes,
       {kStopText}},
      {"stop: manager fails, no message", true, SERVICE_PAUSED, {"OpenSCManagerA:0xF003F"}, IDYES,
       Join({kQuery, {"MessageBoxW(0x24)", "OpenSCManagerA(0xF003F)=null"}}), {kStopText}},
      {"stop: service fails, no message", true, SERVICE_PAUSED, {"OpenServiceA:0xF01FF"}, IDYES,
       Join({kQuery, {"MessageBoxW(0x24)", "OpenSCManagerA(0xF003F)", "OpenServiceA(0xF01FF)=null",
                      "Close(manager)"}}),
       {kStopText}},
      {"stop: ControlService fails, no message", true, SERVICE_PAUSED, {"ControlService"}, IDYES, kStopQuestionYes,
       {kStopText}},
      {"absent: installed and started", false, 0, {}, IDNO,
       Join({{"OpenSCManagerA(0x1)", "OpenServiceA(0x80000000)=null", "Close(manager)"}, kInstallOk, kStartOk}), {}},
      {"query connect fails: install attempted", true, 0, {"OpenSCManagerA:0x1", "CreateServiceA"}, IDNO,
       {"OpenSCManagerA(0x1)=null", "OpenSCManagerA(0x2)", "GetModuleFileNameW", "CreateServiceA",
        "Close(manager)"},
       {}},
      {"opening for reading fails: install, exists, no message", true, 0,
       {"OpenServiceA:0x80000000", "CreateServiceA"}, IDNO,
       {"OpenSCManagerA(0x1)", "OpenServiceA(0x80000000)=null", "Close(manager)", "OpenSCManagerA(0x2)",
        "GetModuleFileNameW", "CreateServiceA", "Close(manager)"},
       {}},
      {"manager for creation fails: no message", false, 0, {"OpenSCManagerA:0x2"}, IDNO,
       {"OpenSCManagerA(0x1)", "OpenServiceA(0x80000000)=null", "Close(manager)", "OpenSCManagerA(0x2)=null"}, {}},
      // An old system that does not know the flag refuses it with 87: recovery from a crash stays.
      {"failure-actions flag refused: started all the same", false, 0, {"ChangeServiceConfig2A:4"}, IDNO,
       Join({{"OpenSCManagerA(0x1)", "OpenServiceA(0x80000000)=null", "Close(manager)"}, kInstallOk, kStartOk}), {}},
      {"description fails: started all the same", false, 0, {"ChangeServiceConfig2W"}, IDNO,
       Join({{"OpenSCManagerA(0x1)", "OpenServiceA(0x80000000)=null", "Close(manager)"}, kInstallOk, kStartOk}), {}},
      {"event source fails: started all the same", false, 0, {"RegCreateKeyExA"}, IDNO,
       Join({{"OpenSCManagerA(0x1)", "OpenServiceA(0x80000000)=null", "Close(manager)", "OpenSCManagerA(0x2)",
              "GetModuleFileNameW", "CreateServiceA", "ChangeServiceConfig2W(1)", "ChangeServiceConfig2A(2)", "ChangeServiceConfig2A(4)",
              "RegCreateKeyExA(HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer)",
              "Close(service)", "Close(manager)"},
             kStartOk}),
       {}},
      {"start: manager fails", true, SERVICE_STOPPED, {"OpenSCManagerA:0xF003F"}, IDNO,
       Join({kQuery, {"OpenSCManagerA(0xF003F)=null", "MessageBoxW(0x0)"}}), {kStartFailedText}},
      {"start: service fails", true, SERVICE_STOPPED, {"OpenServiceA:0xF01FF"}, IDNO,
       Join({kQuery, {"OpenSCManagerA(0xF003F)", "OpenServiceA(0xF01FF)=null", "Close(manager)", "MessageBoxW(0x0)"}}),
       {kStartFailedText}},
      {"start: StartServiceA fails, handles closed before the box", true, SERVICE_STOPPED, {"StartServiceA"}, IDNO,
       Join({kQuery, {"OpenSCManagerA(0xF003F)", "OpenServiceA(0xF01FF)", "StartServiceA", "Close(service)",
                      "Close(manager)", "MessageBoxW(0x0)"}}),
       {kStartFailedText}},
  };
  for (const BranchCase& c : cases) {
    SCOPED_TRACE(c.name);
    Arrange(c.exists, c.state, c.failing).answer = c.answer;
    EXPECT_EQ(Run(), c.expected);
    EXPECT_EQ(scm_.boxTexts, c.boxes);
  }
}

// The boxes get their texts as UTF-16 through MessageBoxW: the Chinese texts whatever the system's
// ANSI code page. The suite also runs in a process of code page 1252 (MARROWBANK_EXPECT_ACP says so).
TEST_F(ControllerTest, BoxTextsReachTheWideCallAsTheChineseTexts) {
  if (const char* expected = std::getenv("MARROWBANK_EXPECT_ACP")) {
    ASSERT_EQ(::GetACP(), std::strtoul(expected, nullptr, 10));
  }
  const struct {
    const char* name;
    bool exists;
    DWORD state;
    std::set<std::string> failing;
    DWORD modulePathResult;
    std::wstring text;
  } cases[] = {
      {"dispatcher fails", true, SERVICE_START_PENDING, {"StartServiceCtrlDispatcherA"}, ~0u,
       L"\u542f\u52a8\u670d\u52a1\u51fa\u9519\uff0c\u9519\u8bef\u7801\uff1a" L"1063"},
      {"stop question", true, SERVICE_PAUSED, {}, ~0u, L"\u505c\u6b62\u670d\u52a1?"},
      {"start fails", true, SERVICE_STOPPED, {"StartServiceA"}, ~0u, L"\u542f\u52a8\u670d\u52a1\u5931\u8d25"},
      {"no path", false, 0, {}, 0,
       L"\u521b\u5efa\u670d\u52a1\u5931\u8d25\uff0c\u672a\u80fd\u83b7\u53d6\u5e94\u7528\u7a0b\u5e8f\u5f53"
       L"\u524d\u7684\u8def\u5f84"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Arrange(c.exists, c.state, c.failing).modulePathResult = c.modulePathResult;
    Run();
    EXPECT_EQ(scm_.wideBoxTexts, std::vector<std::wstring>{c.text});
  }
}

TEST_F(ControllerTest, DispatchTableNamesTheServiceAndServiceMain) {
  scm_.state = SERVICE_START_PENDING;
  Run();
  EXPECT_EQ(scm_.dispatchName, "MarrowbankServer");
  EXPECT_TRUE(scm_.dispatchTableRight);
}

TEST_F(ControllerTest, InstallsWithExactParametersAndDescription) {
  scm_.exists = false;
  Run();
  const std::vector<std::string> expected = {
      "manager",  "MarrowbankServer", "MarrowbankServer", "0xF01FF", "0x110",  "0x2",    "0x1",
      "\"C:\\Tools\\Svc\\MarrowbankServer.exe\"", "(null)", "(null)", "(null)", "(null)", "(null)"};
  EXPECT_EQ(scm_.createArgs, expected);

  const std::string description =
      "\xC8\xE7\xB9\xFB\xCD\xA3\xD6\xB9\xB4\xCB\xB7\xFE\xCE\xF1\xA3\xAC" "KOLVA"
      "\xB5\xC4\xC9\xE8\xB1\xB8\xBD\xAB\xB2\xBB\xBB\xE1\xB1\xBB\xB7\xA2\xCF\xD6\xA1\xA3\xC8\xE7\xB9\xFB\xBD\xFB"
      "\xD3\xC3\xB4\xCB\xB7\xFE\xCE\xF1\xA3\xAC\xC8\xCE\xBA\xCE\xD2\xC0\xC0\xB5\xB4\xCB\xB7\xFE\xCE\xF1\xB5\xC4"
      "\xB7\xFE\xCE\xF1\xB6\xBC\xCE\xDE\xB7\xA8\xD5\xFD\xB3\xA3\xC6\xF4\xB6\xAF\xA1\xA3";
  ASSERT_EQ(description.size(), 93u);
  EXPECT_EQ(scm_.description, description);
  EXPECT_EQ(scm_.wideDescription,
            L"\u5982\u679c\u505c\u6b62\u6b64\u670d\u52a1\uff0cKOLVA\u7684\u8bbe\u5907\u5c06\u4e0d\u4f1a\u88ab"
            L"\u53d1\u73b0\u3002\u5982\u679c\u7981\u7528\u6b64\u670d\u52a1\uff0c\u4efb\u4f55\u4f9d\u8d56\u6b64"
            L"\u670d\u52a1\u7684\u670d\u52a1\u90fd\u65e0\u6cd5\u6b63\u5e38\u542f\u52a8\u3002");
  // Restart after five seconds, twice, then nothing; the failure count resets after a day; and so
  // also for a STOPPED report with the service's own exit code. Wine stores the actions but cannot
  // read them back, and refuses the flag (87), so only these calls show them.
  EXPECT_EQ(scm_.failureActions, "reset 86400, 1/5000, 1/5000, 0/0, non-crash 1");
}

// The quoted path is registered whole while "language\ModeConfig.ini" beside it fits in 259
// characters: for "MarrowbankServer.exe" up to 256, for a long file name up to 259. A path that fills
// the room (the system cut it short), leaves no room for the mode file, or cannot be read is not
// registered at all; nor is one that holds a character outside the ANSI code page, which
// has no exact form in it (here '?' itself, which no file name holds).
TEST_F(ControllerTest, ExecutablePathLengths) {
  struct PathCase {
    size_t length;
    bool productName;  // "C:\\aaa...\\MarrowbankServer.exe"; else "C:\\aaa...a.exe"
    DWORD result;
    bool registered;
  };
  const PathCase cases[] = {{256, true, ~0u, true},   {257, true, ~0u, false}, {259, true, ~0u, false},
                            {259, false, ~0u, true},  {260, false, ~0u, false}, {300, false, ~0u, false},
                            {20, false, 0, false},    {40, true, ~0u, false}};
  for (const PathCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + (c.productName ? " MarrowbankServer.exe" : " long name"));
    scm_ = Scm{};
    scm_.exists = false;
    scm_.modulePath = c.productName ? "C:\\" + std::string(c.length - 24, 'a') + "\\MarrowbankServer.exe"
                                    : "C:\\" + std::string(c.length - 7, 'a') + ".exe";
    if (c.length == 40) scm_.modulePath[4] = '?';  // "C:\a?aa...": a folder named outside the code page
    ASSERT_EQ(scm_.modulePath.size(), c.length);
    scm_.modulePathResult = c.result;
    const Log log = Run();
    if (c.registered) {
      ASSERT_EQ(scm_.createArgs.size(), 13u);
      EXPECT_EQ(scm_.createArgs[7], "\"" + scm_.modulePath + "\"");
      EXPECT_TRUE(scm_.boxTexts.empty());
    } else {
      EXPECT_EQ(log, Join({{"OpenSCManagerA(0x1)", "OpenServiceA(0x80000000)=null", "Close(manager)",
                            "OpenSCManagerA(0x2)", "GetModuleFileNameW", "Close(manager)", "MessageBoxW(0x10)"}}));
      EXPECT_EQ(scm_.boxTexts, std::vector<std::string>{kNoPathText});
    }
  }
}

}  // namespace
