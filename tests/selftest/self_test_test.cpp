// The self-test: its output forms, what it reports under Wine for this test's own folder, and every
// bad input as one WARN or FAIL line with its reason.
#include "selftest/self_test.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/syscalls.h"
#include "service/service_setup.h"
#include "tests/service/service_test_support.h"
#include "tests/support/test_support.h"

namespace {

std::vector<CheckResult> Only(const std::vector<CheckResult>& results, const std::string& check) {
  std::vector<CheckResult> chosen;
  for (const CheckResult& r : results) {
    if (check == r.check) chosen.push_back(r);
  }
  return chosen;
}

CheckResult One(const std::string& check) {
  const std::vector<CheckResult> chosen = Only(RunSelfTestChecks(), check);
  EXPECT_EQ(chosen.size(), 1u) << check;
  return chosen.empty() ? CheckResult{"", "", CheckLevel::kFail, "", ""} : chosen.front();
}

bool Saw(const CheckResult& r, const std::string& part) { return r.saw.find(part) != std::string::npos; }

class SelfTest : public ::testing::Test {
 protected:
  // The product imports the SDK, so Windows' loader has it from the executable's folder before any code
  // runs; this binary calls none of it, and loads it as the loader would.
  static void SetUpTestSuite() {
    ::LoadLibraryExA((test_support::OwnDirectory() + "t3FPDll.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  void SetUp() override { RemoveModeFile(); }
  void TearDown() override { RemoveModeFile(); }
  void RemoveModeFile() {
    ::DeleteFileA((folder_ + "language\\ModeConfig.ini").c_str());
    ::RemoveDirectoryA((folder_ + "language").c_str());
  }
  void WriteModeFile(const std::string& text) {
    ::CreateDirectoryA((folder_ + "language").c_str(), nullptr);
    ASSERT_TRUE(test_support::WriteText(folder_ + "language\\ModeConfig.ini", text));
  }

  const std::string folder_ = test_support::OwnDirectory();
  service_test::ScopedServiceHost host_;
  sys::Calls& c_ = sys::calls();
};

// ---- Output ----------------------------------------------------------------------------------

TEST_F(SelfTest, JsonHasStableFieldsAndEscapesEveryString) {
  const std::vector<CheckResult> results = {
      {"registration", "MarrowbankServer", CheckLevel::kFail, "not \"registered\" (1060)", "C:\\run /install"},
      // Code page 936: the folder's Chinese characters, as the test process reads them.
      {"permissions", "D:\\\xD6\xD0\xCE\xC4", CheckLevel::kWarn, "tab\there\r\nnext", ""},
      // A lead byte with no second byte is no text of the code page: escaped byte by byte.
      {"mode_file", "\x81", CheckLevel::kOk, "ok", ""},
  };
  EXPECT_EQ(SelfTestJson(results),
            "{\"service\":\"MarrowbankServer\",\"exit_code\":2,\"checks\":["
            "{\"check\":\"registration\",\"subject\":\"MarrowbankServer\",\"result\":\"FAIL\","
            "\"saw\":\"not \\\"registered\\\" (1060)\",\"fix\":\"C:\\\\run /install\"},"
            "{\"check\":\"permissions\",\"subject\":\"D:\\\\\\u4e2d\\u6587\",\"result\":\"WARN\","
            "\"saw\":\"tab\\u0009here\\u000d\\u000anext\",\"fix\":\"\"},"
            "{\"check\":\"mode_file\",\"subject\":\"\\u0081\",\"result\":\"OK\",\"saw\":\"ok\",\"fix\":\"\"}]}\r\n");
}

TEST_F(SelfTest, OneLinePerCheckAndTheExitCodeOfTheWorst) {
  const CheckResult ok{"sdk", "t3FPDll.dll", CheckLevel::kOk, "loaded", ""};
  const CheckResult warn{"signature", "x.dll", CheckLevel::kWarn, "not signed", "Ask the maker."};
  const CheckResult fail{"bridge", "JMUsbDll.dll", CheckLevel::kFail, "not found", "Put it there."};
  EXPECT_EQ(SelfTestExitCode({}), 0u);
  EXPECT_EQ(SelfTestExitCode({ok, ok}), 0u);
  EXPECT_EQ(SelfTestExitCode({ok, warn}), 1u);
  EXPECT_EQ(SelfTestExitCode({fail, warn, ok}), 2u);
  EXPECT_EQ(SelfTestText({ok, warn, fail}),
            "OK   sdk t3FPDll.dll: loaded.\r\n"
            "WARN signature x.dll: not signed. To do: Ask the maker.\r\n"
            "FAIL bridge JMUsbDll.dll: not found. To do: Put it there.\r\n"
            "MarrowbankServer self-test: 1 OK, 1 WARN, 1 FAIL; exit code 2\r\n");
}

// ---- What Wine answers ------------------------------------------------------------------------------

// This test's folder under Wine: no service registered in the prefix, unsigned files (Wine's trust
// provider answers TRUST_E_NOSIGNATURE, as Windows does), every file changeable by the Unix user's
// account, the simulator and the stand-ins loading from the folder, a user at the console.
TEST_F(SelfTest, WhatWineAnswersForThisFolder) {
  const std::vector<CheckResult> results = RunSelfTestChecks();
  const char* const kOrder[] = {"registration", "failure_actions", "event_source", "permissions", "permissions",
                                "permissions",  "permissions",     "signature",    "signature",   "signature",
                                "sdk",          "bridge",          "mode_file",    "console_user", "program"};
  ASSERT_EQ(results.size(), std::size(kOrder));
  for (size_t i = 0; i < results.size(); ++i) EXPECT_STREQ(results[i].check, kOrder[i]);

  EXPECT_EQ(results[0].level, CheckLevel::kFail);
  EXPECT_TRUE(Saw(results[0], "not registered (1060)")) << results[0].saw;
  EXPECT_EQ(results[1].level, CheckLevel::kWarn);
  EXPECT_EQ(results[2].level, CheckLevel::kWarn);  // a source, if any, names another executable
  for (size_t i = 3; i < 7; ++i) {
    EXPECT_EQ(results[i].level, CheckLevel::kWarn) << results[i].subject;
    EXPECT_TRUE(Saw(results[i], "can be changed by ")) << results[i].saw;
    EXPECT_NE(results[i].fix.find("icacls"), std::string::npos);
  }
  EXPECT_EQ(results[3].subject + "\\", folder_);
  for (size_t i = 7; i < 10; ++i) {
    EXPECT_EQ(results[i].level, CheckLevel::kWarn) << results[i].subject;
    EXPECT_TRUE(Saw(results[i], "not signed (0x800B0100)")) << results[i].saw;
  }
  for (size_t i = 10; i < results.size(); ++i) {
    EXPECT_EQ(results[i].level, CheckLevel::kOk) << results[i].check << ": " << results[i].saw;
  }
  EXPECT_TRUE(Saw(results[12], "absent")) << results[12].saw;
  EXPECT_TRUE(Saw(results[13], "is logged on at the console (session 1)")) << results[13].saw;
  EXPECT_EQ(SelfTestExitCode(results), 2u);
}

// ---- Bad input ------------------------------------------------------------------------------------

// A JMUsbDll.dll that is no program: the loader refuses it (193) and the trust provider cannot read a
// signature from it (TRUST_E_SUBJECT_FORM_UNKNOWN), both real under Wine.
TEST_F(SelfTest, ABridgeDllThatIsNoProgram) {
  const std::string dll = folder_ + "JMUsbDll.dll", aside = folder_ + "JMUsbDll.dll.aside";
  ASSERT_TRUE(::MoveFileA(dll.c_str(), aside.c_str()));
  const bool written = test_support::WriteText(dll, "not a program");
  const std::vector<CheckResult> results = RunSelfTestChecks();
  ::DeleteFileA(dll.c_str());
  ASSERT_TRUE(::MoveFileA(aside.c_str(), dll.c_str()));
  ASSERT_TRUE(written);

  const CheckResult bridge = Only(results, "bridge").at(0);
  EXPECT_EQ(bridge.level, CheckLevel::kFail);
  EXPECT_TRUE(Saw(bridge, "error 193")) << bridge.saw;
  const CheckResult signature = Only(results, "signature").at(2);
  EXPECT_EQ(signature.subject, dll);
  EXPECT_EQ(signature.level, CheckLevel::kWarn);
  EXPECT_TRUE(Saw(signature, "(0x800B0003)")) << signature.saw;
}

TEST_F(SelfTest, AModeFileWithAMarkAndValuesTheServiceRefuses) {
  WriteModeFile("\xEF\xBB\xBF[Fields]\r\nPollSeconds=abc\r\nLaunchAtLogon=2\r\nLaunchAs=user\r\n");
  const CheckResult mode = One("mode_file");
  EXPECT_EQ(mode.level, CheckLevel::kWarn);
  EXPECT_TRUE(Saw(mode, "UTF-8 byte-order mark")) << mode.saw;
  // Wine's profile functions read past the mark; Windows' find no section and refuse nothing.
  EXPECT_TRUE(Saw(mode, "PollSeconds=abc is not accepted")) << mode.saw;
  EXPECT_TRUE(Saw(mode, "LaunchAtLogon=2 is not accepted")) << mode.saw;
  EXPECT_TRUE(Saw(mode, "LaunchAs=user")) << mode.saw;
  EXPECT_NE(mode.fix.find("ANSI"), std::string::npos);

  WriteModeFile("[Fields]\r\nLaunchAs=User\r\nPollSeconds=5\r\n");
  const CheckResult clean = One("mode_file");
  EXPECT_EQ(clean.level, CheckLevel::kOk);
  EXPECT_TRUE(Saw(clean, "PollSeconds=5, LaunchAs=user")) << clean.saw;
}

HANDLE WINAPI ModeFileDenied(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                             DWORD flags, HANDLE templateFile) {
  if (std::string(path).find("ModeConfig.ini") != std::string::npos) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return sys::realCalls().CreateFileA(path, access, share, security, how, flags, templateFile);
}
DWORD WINAPI AccessListDenied(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                              PSECURITY_DESCRIPTOR*) {
  return ERROR_ACCESS_DENIED;
}

// What Wine does not produce: a mode file and access lists that cannot be read (Windows' answer
// without read access is 5).
TEST_F(SelfTest, WhatCannotBeReadIsAWarningWithItsReason) {
  WriteModeFile("[Fields]\r\n");
  sys::ScopedCall<decltype(c_.CreateFileA)> denied{c_.CreateFileA, ModeFileDenied};
  sys::ScopedCall<decltype(c_.GetNamedSecurityInfoA)> unreadable{c_.GetNamedSecurityInfoA, AccessListDenied};
  const std::vector<CheckResult> results = RunSelfTestChecks();
  const CheckResult mode = Only(results, "mode_file").at(0);
  EXPECT_EQ(mode.level, CheckLevel::kWarn);
  EXPECT_TRUE(Saw(mode, "cannot be read: error 5")) << mode.saw;
  const std::vector<CheckResult> permissions = Only(results, "permissions");
  ASSERT_EQ(permissions.size(), 5u);  // the mode file is there
  for (const CheckResult& p : permissions) {
    EXPECT_EQ(p.level, CheckLevel::kWarn);
    EXPECT_TRUE(Saw(p, "its access list cannot be read: error 5")) << p.saw;
  }
}

// A locked installation, as Windows shows it: every permissions line passes.
TEST_F(SelfTest, ALockedFolderPasses) {
  sys::ScopedCall<decltype(c_.GetNamedSecurityInfoA)> locked{c_.GetNamedSecurityInfoA,
                                                             service_test::LockedFolderSecurity};
  for (const CheckResult& p : Only(RunSelfTestChecks(), "permissions")) {
    EXPECT_EQ(p.level, CheckLevel::kOk) << p.subject << ": " << p.saw;
  }
}

// ---- The registration, through the table -----------------------------------------------------------

struct Registered {
  std::string imagePath;
  DWORD startType = SERVICE_AUTO_START;
  const char* account = "LocalSystem";
  DWORD errorControl = SERVICE_ERROR_NORMAL;
  DWORD actionsError = 0;  // QueryServiceConfig2A's error for the failure actions; 0: answered
  DWORD resetSeconds = kFailureResetSeconds;
  DWORD firstDelay = kRestartDelayMs;
  BOOL nonCrashFlag = TRUE;
};
Registered g_registered;

SC_HANDLE WINAPI FakeOpenManager(LPCSTR, LPCSTR, DWORD) { return reinterpret_cast<SC_HANDLE>(0x51); }
SC_HANDLE WINAPI FakeOpenService(SC_HANDLE, LPCSTR, DWORD) { return reinterpret_cast<SC_HANDLE>(0x52); }
BOOL WINAPI FakeClose(SC_HANDLE) { return TRUE; }
// As QueryServiceConfigA documents it: the record, its strings after it in the caller's buffer.
BOOL WINAPI FakeQueryConfig(SC_HANDLE, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed) {
  *needed = sizeof *config + 600;
  if (size < *needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  char* strings = reinterpret_cast<char*>(config + 1);
  *config = QUERY_SERVICE_CONFIGA{};
  config->dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
  config->dwStartType = g_registered.startType;
  config->dwErrorControl = g_registered.errorControl;
  lstrcpynA(strings, g_registered.imagePath.c_str(), 500);
  lstrcpynA(strings + 500, g_registered.account, 100);
  config->lpBinaryPathName = strings;
  config->lpServiceStartName = strings + 500;
  return TRUE;
}
// As QueryServiceConfig2A documents both levels: the failure actions with their array after the
// record, and the flag.
BOOL WINAPI FakeQueryConfig2(SC_HANDLE, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
    if (g_registered.actionsError != 0) {
      SetLastError(g_registered.actionsError);
      return FALSE;
    }
    *needed = sizeof(SERVICE_FAILURE_ACTIONSA) + 3 * sizeof(SC_ACTION);
    if (size < *needed) return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSA*>(buffer);
    auto* array = reinterpret_cast<SC_ACTION*>(actions + 1);
    array[0] = {SC_ACTION_RESTART, g_registered.firstDelay};
    array[1] = kFailureActions[1];
    array[2] = kFailureActions[2];
    *actions = SERVICE_FAILURE_ACTIONSA{g_registered.resetSeconds, nullptr, nullptr, 3, array};
    return TRUE;
  }
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
    *needed = sizeof(SERVICE_FAILURE_ACTIONS_FLAG);
    if (size < *needed) return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    reinterpret_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(buffer)->fFailureActionsOnNonCrashFailures =
        g_registered.nonCrashFlag;
    return TRUE;
  }
  SetLastError(ERROR_INVALID_LEVEL);
  return FALSE;
}

class RegisteredSelfTest : public SelfTest {
 protected:
  sys::ScopedCall<decltype(c_.OpenSCManagerA)> m_{c_.OpenSCManagerA, FakeOpenManager};
  sys::ScopedCall<decltype(c_.OpenServiceA)> s_{c_.OpenServiceA, FakeOpenService};
  sys::ScopedCall<decltype(c_.CloseServiceHandle)> c1_{c_.CloseServiceHandle, FakeClose};
  sys::ScopedCall<decltype(c_.QueryServiceConfigA)> q_{c_.QueryServiceConfigA, FakeQueryConfig};
  sys::ScopedCall<decltype(c_.QueryServiceConfig2A)> q2_{c_.QueryServiceConfig2A, FakeQueryConfig2};
};

TEST_F(RegisteredSelfTest, Registration) {
  const std::string own = test_support::ModulePath();
  const struct Case {
    const char* name;
    Registered registered;
    CheckLevel level;
    const char* seen;
  } cases[] = {
      {"as /install registers it", {"\"" + own + "\""}, CheckLevel::kOk, "(this executable); automatic start; "
                                                                            "account LocalSystem; error control normal"},
      {"letter case of the path and the account", {"\"" + test_support::OwnDirectory() + "SELFTEST_TESTS.EXE\"",
                                                    SERVICE_AUTO_START, "localsystem"}, CheckLevel::kOk, "(this executable)"},
      {"unquoted", {own}, CheckLevel::kWarn, "is not in double quotes"},
      {"another copy", {"\"C:\\Other\\MarrowbankServer.exe\""}, CheckLevel::kFail, "is another executable"},
      {"manual start", {"\"" + own + "\"", SERVICE_DEMAND_START}, CheckLevel::kWarn, "start type 3, not automatic"},
      {"disabled", {"\"" + own + "\"", SERVICE_DISABLED}, CheckLevel::kFail, "disabled"},
      {"another account", {"\"" + own + "\"", SERVICE_AUTO_START, ".\\svc"}, CheckLevel::kFail, "account .\\svc, not "
                                                                                                  "LocalSystem"},
      {"error control", {"\"" + own + "\"", SERVICE_AUTO_START, "LocalSystem", SERVICE_ERROR_IGNORE},
       CheckLevel::kWarn, "error control 0, not normal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_registered = c.registered;
    const CheckResult r = One("registration");
    EXPECT_EQ(r.level, c.level);
    EXPECT_TRUE(Saw(r, c.seen)) << r.saw;
    EXPECT_EQ(r.fix.empty(), c.level == CheckLevel::kOk) << r.fix;
  }
}

TEST_F(RegisteredSelfTest, FailureActionsAndTheirFlag) {
  const std::string own = "\"" + test_support::ModulePath() + "\"";
  Registered set{own};
  Registered noFlag = set;
  noFlag.nonCrashFlag = FALSE;
  Registered otherDelay = set;
  otherDelay.firstDelay = 60000;
  // Wine answers the failure actions' query with 124: ERROR_INVALID_LEVEL.
  Registered wine = set;
  wine.actionsError = ERROR_INVALID_LEVEL;
  const struct Case {
    const char* name;
    Registered registered;
    CheckLevel level;
    const char* seen;
  } cases[] = {
      {"as /install sets them", set, CheckLevel::kOk,
       "reset after 86400 s: restart after 5000 ms, restart after 5000 ms, nothing; also when the service stops "
       "with an error code"},
      {"without the flag", noFlag, CheckLevel::kWarn, "only when the process crashes"},
      {"other actions", otherDelay, CheckLevel::kWarn, "restart after 60000 ms, restart after 5000 ms, nothing, not "
                                                      "the recovery"},
      {"unreadable", wine, CheckLevel::kWarn, "the failure actions cannot be read: error 124"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_registered = c.registered;
    const CheckResult r = One("failure_actions");
    EXPECT_EQ(r.level, c.level);
    EXPECT_TRUE(Saw(r, c.seen)) << r.saw;
  }
}

// ---- Signatures, through the table ------------------------------------------------------------------

LONG g_trust = 0;
LONG WINAPI FakeVerifyTrust(HWND, GUID*, LPVOID data) {
  auto* trust = static_cast<WINTRUST_DATA*>(data);
  return trust->dwStateAction == WTD_STATEACTION_CLOSE ? ERROR_SUCCESS : g_trust;
}

TEST_F(SelfTest, SignatureAnswersWineDoesNotGive) {
  const struct Case {
    LONG answer;
    CheckLevel level;
    const char* seen;
  } cases[] = {
      {ERROR_SUCCESS, CheckLevel::kOk, "signed, and the signature is trusted"},
      {static_cast<LONG>(CERT_E_UNTRUSTEDROOT), CheckLevel::kWarn, "signed, but the signature is not trusted"},
      {static_cast<LONG>(TRUST_E_BAD_DIGEST), CheckLevel::kFail, "changed after signing"},
      {static_cast<LONG>(TRUST_E_EXPLICIT_DISTRUST), CheckLevel::kFail, "distrusted or revoked"},
      {static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY), CheckLevel::kWarn, "cannot be verified (0x00000008)"},
  };
  sys::ScopedCall<decltype(c_.WinVerifyTrust)> trust{c_.WinVerifyTrust, FakeVerifyTrust};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seen);
    g_trust = c.answer;
    for (const CheckResult& r : Only(RunSelfTestChecks(), "signature")) {
      EXPECT_EQ(r.level, c.level);
      EXPECT_TRUE(Saw(r, c.seen)) << r.saw;
    }
  }
}

}  // namespace
