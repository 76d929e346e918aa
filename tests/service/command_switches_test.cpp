// The administrator's switches in-process: what is parsed, where the text goes, and the bounded
// waits, through the platform-call table. Their effects on a real service are shown by the
// system test under Wine's service manager.
#include "service/command_switches.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/syscalls.h"
#include "service/service_setup.h"
#include "service/service_host.h"
#include "tests/service/service_test_support.h"

namespace {

TEST(CommandSwitchesTest, Parsing) {
  struct Case {
    const char* arguments;
    SwitchAction action;
    bool quiet;
    bool valid;
  } cases[] = {
      {"/install", SwitchAction::kInstall, false, true},
      {"-INSTALL", SwitchAction::kInstall, false, true},
      {"  /Uninstall\t/QUIET ", SwitchAction::kUninstall, true, true},
      {"/quiet /start", SwitchAction::kStart, true, true},
      {"-stop -quiet -quiet", SwitchAction::kStop, true, true},
      {"/status", SwitchAction::kStatus, false, true},
      {"/uninstal", SwitchAction::kNone, false, false},
      {"/install /remove", SwitchAction::kInstall, false, false},
      {"/start /stop", SwitchAction::kStop, false, false},
      {"/quiet", SwitchAction::kNone, true, false},
      {"install", SwitchAction::kNone, false, false},
      {"/", SwitchAction::kNone, false, false},
      {"\"/install\"", SwitchAction::kNone, false, false},
      {"/install/quiet", SwitchAction::kNone, false, false},
      {"\"\" /status \"\"", SwitchAction::kStatus, false, true},
      {"\"\"/status", SwitchAction::kNone, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CommandSwitches parsed = ParseCommandSwitches(c.arguments);
    EXPECT_EQ(parsed.action, c.action);
    EXPECT_EQ(parsed.quiet, c.quiet);
    EXPECT_EQ(parsed.valid, c.valid);
  }
  // The self-test's /json, with it alone.
  const struct JsonCase {
    const char* arguments;
    bool valid;
    bool json;
  } jsonCases[] = {{"/selftest", true, false}, {"-SelfTest /JSON /quiet", true, true}, {"/json /selftest", true, true},
                   {"/status /json", true, true}, {"/start /json", false, true}, {"/json", false, true}, {"/selftest /status", false, false}};
  for (const JsonCase& c : jsonCases) {
    SCOPED_TRACE(c.arguments);
    const CommandSwitches parsed = ParseCommandSwitches(c.arguments);
    EXPECT_EQ(parsed.valid, c.valid);
    EXPECT_EQ(parsed.json, c.json);
  }
  EXPECT_TRUE(NoArguments(""));
  EXPECT_TRUE(NoArguments(" \t "));
  EXPECT_TRUE(NoArguments(nullptr));
  EXPECT_FALSE(NoArguments(" /status"));
  // An empty argument, as some shortcuts and launchers pass, is no argument.
  EXPECT_TRUE(NoArguments("\"\""));
  EXPECT_TRUE(NoArguments(" \"\"\t\"\" "));
  EXPECT_FALSE(NoArguments("\"\"\"\""));
  EXPECT_FALSE(NoArguments("\"x\""));
}

// A scripted service manager: the service holds one state; every call is logged.
struct Fake {
  DWORD state = SERVICE_STOP_PENDING;
  DWORD pid = 0;
  bool processEnds = true;
  DWORD exitCode = 0;
  DWORD serviceCode = 0;
  // What a start ends in: a service that fails at once, with these codes.
  DWORD startExitCode = ERROR_MOD_NOT_FOUND;
  DWORD startServiceCode = 0;
  // The process id the service reports once its process has been opened (0: the same), and the
  // waits on that process.
  DWORD pidAfterOpen = 0;
  DWORD stateAfterOpen = 0;  // 0: the state stays what it is
  bool openFails = false;
  int processWaits = 0;
  DWORD sleeps = 0;
  DWORD controlError = 0;  // ControlService fails with it when not 0
  DWORD starts = 0;
  // The registered configuration QueryServiceConfigA answers, and every ChangeServiceConfigA call as
  // "type start error-control path display".
  DWORD startType = SERVICE_AUTO_START;
  std::string imagePath = "\"C:\\Elsewhere\\MarrowbankServer.exe\"";
  std::vector<std::string> changes;
  std::vector<std::string> boxes;
  std::vector<UINT> styles;
};
Fake* fake = nullptr;

const SC_HANDLE kHandle = reinterpret_cast<SC_HANDLE>(0x3003);

SC_HANDLE WINAPI OpenManager(LPCSTR, LPCSTR, DWORD) { return kHandle; }
SC_HANDLE WINAPI OpenService(SC_HANDLE, LPCSTR, DWORD) { return kHandle; }
BOOL WINAPI CloseService(SC_HANDLE) { return TRUE; }
BOOL WINAPI Query(SC_HANDLE, LPSERVICE_STATUS status) {
  *status = SERVICE_STATUS{};
  status->dwCurrentState = fake->state;
  status->dwWin32ExitCode = fake->exitCode;
  status->dwServiceSpecificExitCode = fake->serviceCode;
  return TRUE;
}
BOOL WINAPI QueryEx(SC_HANDLE, SC_STATUS_TYPE, LPBYTE buffer, DWORD, LPDWORD) {
  auto* status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
  *status = SERVICE_STATUS_PROCESS{};
  status->dwCurrentState = fake->state;
  status->dwProcessId = fake->pid;
  return TRUE;
}
BOOL WINAPI Control(SC_HANDLE, DWORD, LPSERVICE_STATUS) {
  if (fake->controlError != 0 || fake->state == SERVICE_STOPPED) {
    SetLastError(fake->controlError != 0 ? fake->controlError : ERROR_SERVICE_NOT_ACTIVE);
    return FALSE;
  }
  fake->state = SERVICE_STOPPED;
  return TRUE;
}
DWORD WINAPI WaitForProcess(HANDLE, DWORD) {
  ++fake->processWaits;
  return fake->processEnds ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
// Opens the process for real; the service then reports `pidAfterOpen` when one is set, as when the
// process ended before it was opened and its id went to another.
HANDLE WINAPI OpenProcessThenIdMoves(DWORD access, BOOL inherit, DWORD pid) {
  if (fake->openFails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const HANDLE process = sys::realCalls().OpenProcess(access, inherit, pid);
  if (fake->pidAfterOpen != 0) fake->pid = fake->pidAfterOpen;
  if (fake->stateAfterOpen != 0) fake->state = fake->stateAfterOpen;
  return process;
}
BOOL WINAPI StartService(SC_HANDLE, DWORD, LPCSTR*) {
  ++fake->starts;
  fake->state = SERVICE_STOPPED;  // as a service that fails at once
  fake->exitCode = fake->startExitCode;
  fake->serviceCode = fake->startServiceCode;
  return TRUE;
}
VOID WINAPI CountSleep(DWORD) { ++fake->sleeps; }
BOOL WINAPI QueryConfig(SC_HANDLE, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed) {
  static char path[MAX_PATH + 3], display[] = "MarrowbankServer (as registered before)";
  *needed = sizeof(QUERY_SERVICE_CONFIGA);
  if (size < *needed) return FALSE;
  *config = QUERY_SERVICE_CONFIGA{};
  config->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  config->dwStartType = fake->startType;
  config->dwErrorControl = SERVICE_ERROR_IGNORE;
  std::snprintf(path, sizeof path, "%s", fake->imagePath.c_str());
  config->lpBinaryPathName = path;
  config->lpDisplayName = display;
  return TRUE;
}
BOOL WINAPI ChangeConfig(SC_HANDLE, DWORD type, DWORD start, DWORD errorControl, LPCSTR path, LPCSTR, LPDWORD,
                         LPCSTR, LPCSTR, LPCSTR, LPCSTR display) {
  char line[1024];
  std::snprintf(line, sizeof line, "%lx %lx %lx %s %s", static_cast<unsigned long>(type),
                static_cast<unsigned long>(start), static_cast<unsigned long>(errorControl), path, display);
  fake->changes.push_back(line);
  return TRUE;
}
BOOL WINAPI ChangeConfig2(SC_HANDLE, DWORD, LPVOID) { return TRUE; }
BOOL WINAPI ChangeConfig2W(SC_HANDLE, DWORD, LPVOID) { return TRUE; }

// SERVICE_NO_CHANGE as the fake writes it.
std::string NoChange() {
  char text[16];
  std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(SERVICE_NO_CHANGE));
  return text;
}

// This test's own path, quoted, as /install registers it.
std::string OwnQuotedPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string("\"") + path + "\"";
}
HANDLE WINAPI NoStdHandle(DWORD) { return nullptr; }
BOOL WINAPI NoConsole(DWORD) { return FALSE; }
int WINAPI Box(HWND, LPCSTR text, LPCSTR, UINT style) {
  fake->boxes.push_back(text);
  fake->styles.push_back(style);
  return IDOK;
}

class SwitchRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = &fake_;
  }
  void TearDown() override {
    fake = nullptr;
  }

  Fake fake_;
  service_test::ScopedServiceHost host_;
  sys::Calls& c_ = sys::calls();
  sys::ScopedCall<decltype(c_.OpenSCManagerA)> r1_{c_.OpenSCManagerA, OpenManager};
  sys::ScopedCall<decltype(c_.OpenServiceA)> r2_{c_.OpenServiceA, OpenService};
  sys::ScopedCall<decltype(c_.CloseServiceHandle)> r3_{c_.CloseServiceHandle, CloseService};
  sys::ScopedCall<decltype(c_.QueryServiceStatus)> r4_{c_.QueryServiceStatus, Query};
  sys::ScopedCall<decltype(c_.QueryServiceStatusEx)> r11_{c_.QueryServiceStatusEx, QueryEx};
  sys::ScopedCall<decltype(c_.WaitForSingleObject)> r12_{c_.WaitForSingleObject, WaitForProcess};
  sys::ScopedCall<decltype(c_.OpenProcess)> r17_{c_.OpenProcess, OpenProcessThenIdMoves};
  sys::ScopedCall<decltype(c_.ControlService)> r5_{c_.ControlService, Control};
  sys::ScopedCall<decltype(c_.StartServiceA)> r6_{c_.StartServiceA, StartService};
  sys::ScopedCall<decltype(c_.Sleep)> r7_{c_.Sleep, CountSleep};
  sys::ScopedCall<decltype(c_.GetStdHandle)> r8_{c_.GetStdHandle, NoStdHandle};
  sys::ScopedCall<decltype(c_.AttachConsole)> r9_{c_.AttachConsole, NoConsole};
  sys::ScopedCall<decltype(c_.MessageBoxA)> r10_{c_.MessageBoxA, Box};
  sys::ScopedCall<decltype(c_.QueryServiceConfigA)> r13_{c_.QueryServiceConfigA, QueryConfig};
  sys::ScopedCall<decltype(c_.ChangeServiceConfigA)> r14_{c_.ChangeServiceConfigA, ChangeConfig};
  sys::ScopedCall<decltype(c_.ChangeServiceConfig2A)> r15_{c_.ChangeServiceConfig2A, ChangeConfig2};
  sys::ScopedCall<decltype(c_.ChangeServiceConfig2W)> r16_{c_.ChangeServiceConfig2W, ChangeConfig2W};
};

// /install over an existing registration, with the event source's real key: the registration it
// finds is what the administrator (or another copy) left, and a failed /install leaves it so.
class ReregisterTest : public SwitchRunTest {
 protected:
  void SetUp() override {
    SwitchRunTest::SetUp();
    ASSERT_TRUE(InstallEventSource("C:\\Elsewhere\\MarrowbankServer.exe"));
  }
  void TearDown() override {
    RemoveEventSource();
    SwitchRunTest::TearDown();
  }
  static std::string Source() {
    std::string path;
    return ReadEventSourceMessageFile(path) ? path : "(none)";
  }
};

// A copy elsewhere that cannot be stopped (stuck starting): nothing is changed, and the error says why.
TEST_F(ReregisterTest, AServiceThatCannotBeStoppedKeepsItsRegistration) {
  fake_.state = SERVICE_START_PENDING;
  fake_.controlError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  EXPECT_EQ(RunCommandSwitches("/install /quiet"), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
  EXPECT_TRUE(fake_.changes.empty());
  EXPECT_EQ(fake_.starts, 0u);
  EXPECT_EQ(Source(), "C:\\Elsewhere\\MarrowbankServer.exe");
}

// Stopped first, then registered for this executable and started; when it does not start, the
// previous configuration and event source are put back, the copy that ran is started again, and the
// start's error is the answer.
TEST_F(ReregisterTest, AFailedStartPutsThePreviousRegistrationBack) {
  fake_.state = SERVICE_RUNNING;
  EXPECT_EQ(RunCommandSwitches("/install /quiet"), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(fake_.starts, 2u);
  EXPECT_EQ(fake_.changes,
            (std::vector<std::string>{"110 " + NoChange() + " 1 " + OwnQuotedPath() + " MarrowbankServer",
                                      "10 2 0 \"C:\\Elsewhere\\MarrowbankServer.exe\" MarrowbankServer (as "
                                      "registered before)"}));
  EXPECT_EQ(Source(), "C:\\Elsewhere\\MarrowbankServer.exe");
}

// An administrator's choice stays: a disabled service is registered for this executable, kept
// disabled (the start type is not changed) and not started; /install succeeds and says so.
TEST_F(ReregisterTest, ADisabledServiceStaysDisabledAndStopped) {
  fake_.state = SERVICE_STOPPED;
  fake_.startType = SERVICE_DISABLED;
  fake_.imagePath = OwnQuotedPath();
  EXPECT_EQ(RunCommandSwitches("/install /quiet"), 0u);
  EXPECT_EQ(fake_.changes,
            (std::vector<std::string>{"110 " + NoChange() + " 1 " + OwnQuotedPath() + " MarrowbankServer"}));
  EXPECT_EQ(fake_.starts, 0u);
  EXPECT_EQ("\"" + Source() + "\"", OwnQuotedPath());
}

// A service stuck in STOP_PENDING: /stop gives up after the documented wait, counted in polls
// rather than measured, and says so in a box (no console, not quiet).
TEST_F(SwitchRunTest, StopGivesUpAfterTheWaitWithTimeoutCode) {
  EXPECT_EQ(RunCommandSwitches("/stop"), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
  EXPECT_EQ(fake_.sleeps * 250, kStateWaitMs);
  ASSERT_EQ(fake_.boxes.size(), 1u);
  EXPECT_EQ(fake_.boxes[0], "MarrowbankServer /stop failed: error 1053\r\n");
  EXPECT_EQ(fake_.styles[0], static_cast<UINT>(MB_OK | MB_ICONERROR));
}

// STOPPED is reported a moment before the process ends: /stop waits for that end too, since the
// package replaces the executable right after it.
TEST_F(SwitchRunTest, StopWaitsForTheServiceProcessToEnd) {
  fake_.state = SERVICE_RUNNING;
  fake_.pid = GetCurrentProcessId();  // any process that can be opened
  EXPECT_EQ(RunCommandSwitches("/stop /quiet"), 0u);
  fake_.state = SERVICE_RUNNING;
  fake_.processEnds = false;
  EXPECT_EQ(RunCommandSwitches("/stop /quiet"), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
}

// The id read before the process was opened is the service's only if the service still reports it
// once the process is open: an id that went to another process is not waited on, and a service that
// stopped meanwhile is stopped. A process that cannot be opened leaves the stop to end at STOPPED.
TEST_F(SwitchRunTest, StopWaitsOnlyOnTheProcessTheServiceStillReports) {
  const DWORD other = GetCurrentProcessId();
  struct Case {
    const char* name;
    DWORD pidAfterOpen, stateAfterOpen;
    bool openFails;
    int waits;
  } cases[] = {
      {"the same process", 0, 0, false, 1},
      {"the id went to another process", other + 4, 0, false, 0},
      {"the service stopped meanwhile", 0, SERVICE_STOPPED, false, 0},
      {"the process cannot be opened", 0, 0, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.state = SERVICE_RUNNING;
    fake_.pid = other;
    fake_.pidAfterOpen = c.pidAfterOpen;
    fake_.stateAfterOpen = c.stateAfterOpen;
    fake_.openFails = c.openFails;
    fake_.processWaits = 0;
    fake_.processEnds = true;
    EXPECT_EQ(RunCommandSwitches("/stop /quiet"), 0u);
    EXPECT_EQ(fake_.processWaits, c.waits);
  }
}

// A service that stops while starting: /start answers the Win32 code it stopped with, at once; a
// code of the service's own is 1066, with that code in the text (8 alone would read as "not enough
// memory").
TEST_F(SwitchRunTest, StartAnswersTheCodeTheServiceStoppedWith) {
  struct Case {
    DWORD win32, own, expected;
    const char* text;
  } cases[] = {
      {ERROR_MOD_NOT_FOUND, 0, ERROR_MOD_NOT_FOUND, "MarrowbankServer /start failed: error 126\r\n"},
      {ERROR_SERVICE_SPECIFIC_ERROR, 8, ERROR_SERVICE_SPECIFIC_ERROR,
       "MarrowbankServer /start failed: error 1066, service-specific code 8\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fake_.state = SERVICE_STOPPED;
    fake_.startExitCode = c.win32;
    fake_.startServiceCode = c.own;
    fake_.boxes.clear();
    EXPECT_EQ(RunCommandSwitches("-start -quiet"), c.expected);
    EXPECT_TRUE(fake_.boxes.empty()) << "/quiet shows no box";
    EXPECT_EQ(RunCommandSwitches("-start"), c.expected);
    EXPECT_EQ(fake_.boxes, std::vector<std::string>{c.text});
  }
  EXPECT_EQ(fake_.sleeps, 0u);
}

// A service whose status says STOPPED while a process of its executable still lives (crashed on the
// way out, held by a debugger): /stop and /uninstall wait for that process, as for a running
// service's, within the same bound. Only a process of the registered executable counts, never this
// one; a process list that cannot be read is an error, not "nothing to do".
struct Listed {
  DWORD pid;
  const char* image;
};
std::vector<Listed>* listed = nullptr;
size_t listedAt = 0;
HANDLE WINAPI Snapshot(DWORD, DWORD) {
  listedAt = 0;
  return CreateEventA(nullptr, TRUE, FALSE, nullptr);  // any handle the owner can close
}
BOOL WINAPI NextListed(HANDLE, LPPROCESSENTRY32 entry) {
  if (listedAt == listed->size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  entry->th32ProcessID = (*listed)[listedAt++].pid;
  return TRUE;
}
BOOL WINAPI FirstListed(HANDLE snapshot, LPPROCESSENTRY32 entry) { return NextListed(snapshot, entry); }
// Every listed process is opened as this one, remembering which was asked for.
DWORD openedPid = 0;
HANDLE WINAPI OpenListed(DWORD access, BOOL inherit, DWORD pid) {
  openedPid = pid;
  return sys::realCalls().OpenProcess(access, inherit, GetCurrentProcessId());
}
BOOL WINAPI ImageOfListed(HANDLE, DWORD, LPSTR name, PDWORD size) {
  for (const Listed& process : *listed) {
    if (process.pid != openedPid || process.image == nullptr) continue;
    *size = static_cast<DWORD>(std::snprintf(name, *size, "%s", process.image));
    return TRUE;
  }
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
HANDLE WINAPI NoSnapshot(DWORD, DWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return INVALID_HANDLE_VALUE;
}

TEST_F(SwitchRunTest, AStoppedServiceWaitsForAProcessOfItsExecutable) {
  const std::string registered = "C:\\Elsewhere\\MarrowbankServer.exe";
  const DWORD self = GetCurrentProcessId();
  struct Case {
    const char* name;
    std::vector<Listed> processes;
    bool processEnds;
    int waits;
    DWORD expected;
  } cases[] = {
      {"no process of it", {{self + 4, "C:\\Windows\\explorer.exe"}}, true, 0, 0},
      {"one that ends", {{self + 4, "c:\\elsewhere\\MARROWBANKSERVER.EXE"}}, true, 1, 0},
      {"one that does not end", {{self + 4, registered.c_str()}}, false, 1, ERROR_SERVICE_REQUEST_TIMEOUT},
      {"a copy in another folder", {{self + 4, "C:\\Copy\\MarrowbankServer.exe"}}, true, 0, 0},
      {"this process itself", {{self, registered.c_str()}}, true, 0, 0},
      {"one that cannot be named", {{self + 8, nullptr}}, true, 0, 0},
  };
  sys::ScopedCall<decltype(c_.CreateToolhelp32Snapshot)> snapshot{c_.CreateToolhelp32Snapshot, Snapshot};
  sys::ScopedCall<decltype(c_.Process32First)> first{c_.Process32First, FirstListed};
  sys::ScopedCall<decltype(c_.Process32Next)> next{c_.Process32Next, NextListed};
  sys::ScopedCall<decltype(c_.OpenProcess)> open{c_.OpenProcess, OpenListed};
  sys::ScopedCall<decltype(c_.QueryFullProcessImageNameA)> image{c_.QueryFullProcessImageNameA, ImageOfListed};
  fake_.imagePath = "\"" + registered + "\"";
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    listed = &c.processes;
    fake_.state = SERVICE_STOPPED;
    fake_.processEnds = c.processEnds;
    fake_.processWaits = 0;
    EXPECT_EQ(RunCommandSwitches("/stop /quiet"), c.expected);
    EXPECT_EQ(fake_.processWaits, c.waits);
    listed = nullptr;
  }
  fake_.state = SERVICE_STOPPED;
  sys::ScopedCall<decltype(c_.CreateToolhelp32Snapshot)> broken{c_.CreateToolhelp32Snapshot, NoSnapshot};
  EXPECT_EQ(RunCommandSwitches("/stop /quiet"), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

// A service still on its way down (an upgrade's stop not finished, a forced stop under way) is not a
// reason to give up: /start, the rollback's /start and /install wait for it to stop, then start it.
// No stop is asked of it a second time.
BOOL WINAPI StartOnceStopped(SC_HANDLE, DWORD, LPCSTR*) {
  ++fake->starts;
  if (fake->state != SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
  }
  fake->state = SERVICE_RUNNING;
  return TRUE;
}
VOID WINAPI StopsWhileWaited(DWORD) {
  ++fake->sleeps;
  if (fake->sleeps == 3) fake->state = SERVICE_STOPPED;
}
BOOL WINAPI NoControl(SC_HANDLE, DWORD, LPSERVICE_STATUS) {
  ADD_FAILURE() << "a stop was asked of a service already stopping";
  SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  return FALSE;
}

TEST_F(ReregisterTest, AStoppingServiceIsStartedOnceItHasStopped) {
  sys::ScopedCall<decltype(c_.StartServiceA)> start{c_.StartServiceA, StartOnceStopped};
  sys::ScopedCall<decltype(c_.Sleep)> sleep{c_.Sleep, StopsWhileWaited};
  sys::ScopedCall<decltype(c_.ControlService)> control{c_.ControlService, NoControl};
  fake_.imagePath = OwnQuotedPath();
  for (const char* arguments : {"/start /quiet", "/install /quiet"}) {
    SCOPED_TRACE(arguments);
    fake_.state = SERVICE_STOP_PENDING;
    fake_.sleeps = fake_.starts = 0;
    EXPECT_EQ(RunCommandSwitches(arguments), 0u);
    EXPECT_EQ(fake_.state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(fake_.starts, 2u) << "refused while stopping, then accepted";
    EXPECT_EQ(fake_.sleeps, 3u);
  }
}

TEST_F(SwitchRunTest, UsageInABoxUnlessQuietOrAConsole) {
  EXPECT_EQ(RunCommandSwitches("/remove"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_EQ(fake_.boxes.size(), 1u);
  EXPECT_EQ(fake_.boxes[0].rfind("Usage: MarrowbankServer.exe [/install | /uninstall | /start | /stop | /status [/json] | "
                                 "/selftest [/json]] [/quiet]\r\n",
                                 0),
            0u);
  EXPECT_EQ(RunCommandSwitches("/remove /quiet"), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(fake_.boxes.size(), 1u);
}

// A reading with nothing found: every setting at its default.
Settings Defaults() {
  Settings settings{};
  settings.autoBack = true;
  return settings;
}

void Ignore(Settings& settings, SettingOrigin source, Setting setting, const char* value, const char* why) {
  std::snprintf(settings.ignored.Add(source, setting, value).why, sizeof(IgnoredSetting::why), "%s", why);
}

void SetModeFilePath(Settings& settings, const char* path) {
  std::snprintf(settings.modeFilePath, sizeof settings.modeFilePath, "%s", path);
}

// /status's settings: one line per row in table order, each value passed over, each source unread.
TEST(StatusOutputTest, TextLines) {
  service_test::ScopedServiceHost host;
  Settings settings = Defaults();
  settings.pollSeconds = 30;
  settings.origin[static_cast<std::size_t>(Setting::kPollSeconds)] = SettingOrigin::kModeFile;
  Ignore(settings, SettingOrigin::kPolicy, Setting::kPollSeconds, "99999", "It is not from 0 to 86400.");
  settings.policyError = ERROR_ACCESS_DENIED;
  settings.modeFileError = ERROR_SHARING_VIOLATION;
  SetModeFilePath(settings, "C:\\x\\MarrowbankServer.ini");
  EXPECT_EQ(StatusText({ERROR_SUCCESS, SERVICE_RUNNING, "\"C:\\x\\MarrowbankServer.exe\""}, settings),
            "MarrowbankServer is RUNNING (4); image path \"C:\\x\\MarrowbankServer.exe\"\r\n"
            "  AutoBack = 1 (default)\r\n"
            "  PollSeconds = 30 (mode file)\r\n"
            "  LaunchAtLogon = 0 (default)\r\n"
            "  LaunchAs = service (default)\r\n"
            "  ignored: policy PollSeconds=99999: It is not from 0 to 86400.\r\n"
            "  policy key HKLM\\SOFTWARE\\Policies\\Marrowbank\\MarrowbankServer cannot be read: error 5\r\n"
            "  mode file C:\\x\\MarrowbankServer.ini cannot be read: error 32\r\n");
  EXPECT_EQ(StatusText({ERROR_SERVICE_DOES_NOT_EXIST, 0, "?"}, Defaults())
                .rfind("MarrowbankServer is not installed (1060)\r\n  AutoBack = 1 (default)\r\n", 0),
            0u);
}

// The JSON's field names are what fleet tools read: pinned here and in README.md.
TEST(StatusOutputTest, JsonObject) {
  service_test::ScopedServiceHost host;
  Settings origins = Defaults();
  origins.launchAsUser = true;
  origins.origin[static_cast<std::size_t>(Setting::kLaunchAs)] = SettingOrigin::kPolicy;
  Ignore(origins, SettingOrigin::kModeFile, Setting::kLaunchAtLogon, "yes\t\"2\"", "Not 0 or 1.");
  SetModeFilePath(origins, "C:\\a\\MarrowbankServer.ini");
  const Settings nothingFound = Defaults();
  Settings oddPath = Defaults();
  SetModeFilePath(oddPath, "C:\\\xE9\x01");  // é in code page 1252, and a control character
  oddPath.policyError = ERROR_ACCESS_DENIED;
  const std::string defaults =
      "\"settings\":{\"AutoBack\":{\"value\":\"1\",\"origin\":\"default\"},"
      "\"PollSeconds\":{\"value\":\"0\",\"origin\":\"default\"},"
      "\"LaunchAtLogon\":{\"value\":\"0\",\"origin\":\"default\"},";
  const struct {
    const char* name;
    ServiceStatusFacts facts;
    const Settings& settings;
    std::string json;
  } cases[] = {
      {"running, origins and an ignored value",
       {ERROR_SUCCESS, SERVICE_RUNNING, "\"C:\\a\\MarrowbankServer.exe\""},
       origins,
       "{\"service\":\"MarrowbankServer\",\"state\":\"RUNNING\",\"stateCode\":4,"
       "\"imagePath\":\"\\\"C:\\\\a\\\\MarrowbankServer.exe\\\"\",\"error\":0," +
           defaults +
           "\"LaunchAs\":{\"value\":\"user\",\"origin\":\"policy\"}},"
           "\"ignored\":[{\"source\":\"mode file\",\"key\":\"LaunchAtLogon\",\"value\":\"yes\\u0009\\\"2\\\"\","
           "\"why\":\"Not 0 or 1.\"}],\"policyKeyError\":0,\"modeFileError\":0,"
           "\"modeFilePath\":\"C:\\\\a\\\\MarrowbankServer.ini\"}\r\n"},
      {"absent, a path beyond ASCII",
       {ERROR_SERVICE_DOES_NOT_EXIST, 0, "?"},
       oddPath,
       "{\"service\":\"MarrowbankServer\",\"state\":\"ABSENT\",\"stateCode\":0,\"imagePath\":null,\"error\":1060," +
           defaults +
           "\"LaunchAs\":{\"value\":\"service\",\"origin\":\"default\"}},"
           "\"ignored\":[],\"policyKeyError\":5,\"modeFileError\":0,\"modeFilePath\":\"C:\\\\" +
           (GetACP() == 1252 ? std::string("\\u00e9") : std::string("")) + "\\u0001\"}\r\n"},
      {"not queried",
       {ERROR_ACCESS_DENIED, 0, "?"},
       nothingFound,
       "{\"service\":\"MarrowbankServer\",\"state\":\"UNKNOWN\",\"stateCode\":0,\"imagePath\":null,\"error\":5," +
           defaults +
           "\"LaunchAs\":{\"value\":\"service\",\"origin\":\"default\"}},"
           "\"ignored\":[],\"policyKeyError\":0,\"modeFileError\":0,\"modeFilePath\":\"\"}\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (GetACP() != 1252 && c.settings.policyError != 0) continue;  // the escape depends on the code page
    EXPECT_EQ(StatusJson(c.facts, c.settings), c.json);
  }
}

// A policy value in the real registry shows as the setting's origin, and one out of range as ignored.
TEST(StatusOutputTest, PolicyValuesFromTheRegistry) {
  service_test::ScopedServiceHost host;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const DWORD atLogon = 1, poll = 99999;
  RegSetValueExA(key, "LaunchAtLogon", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&atLogon), sizeof atLogon);
  RegSetValueExA(key, "PollSeconds", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&poll), sizeof poll);
  RegCloseKey(key);
  const std::string text = StatusText({ERROR_SERVICE_DOES_NOT_EXIST, 0, "?"}, ReadSettings());
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, KEY_WOW64_64KEY, 0);
  EXPECT_NE(text.find("\r\n  LaunchAtLogon = 1 (policy)\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n  ignored: policy PollSeconds=99999: "), std::string::npos) << text;
}

}  // namespace
