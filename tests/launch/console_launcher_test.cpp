#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>
#include <userenv.h>

#include <string>
#include <vector>

#include "launch/console_launcher.h"
#include "launch/user_launcher.h"
#include "launch/launch_events.h"
#include "platform/event_log.h"
#include "platform/syscalls.h"
#include "tests/launch/test_files.h"
#include "tests/platform/event_capture.h"

namespace {

using test_support::OwnDirectory;
using launch_test::StandIn;

// ---- The running-instance check ------------------------------------------------------------

HANDLE g_snapshot = nullptr;
std::vector<HANDLE> g_closed;

HANDLE WINAPI RecordSnapshot(DWORD flags, DWORD processId) {
  g_snapshot = sys::realCalls().CreateToolhelp32Snapshot(flags, processId);
  return g_snapshot;
}
HANDLE WINAPI FailSnapshot(DWORD, DWORD) {
  g_snapshot = INVALID_HANDLE_VALUE;
  return g_snapshot;
}
// A handle that is no snapshot: reading its first process entry fails.
HANDLE WINAPI EventForSnapshot(DWORD, DWORD) {
  g_snapshot = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return g_snapshot;
}
BOOL WINAPI RecordClose(HANDLE handle) {
  g_closed.push_back(handle);
  return sys::realCalls().CloseHandle(handle);
}

// Runs the check with the snapshot call swapped for `snapshot`; true when it found the program.
// Also requires that the snapshot, when there was one, was closed exactly once.
bool CheckRunning(decltype(&::CreateToolhelp32Snapshot) snapshot) {
  g_snapshot = nullptr;
  g_closed.clear();
  sys::ScopedCall<decltype(&::CreateToolhelp32Snapshot)> take(sys::calls().CreateToolhelp32Snapshot, snapshot);
  sys::ScopedCall<decltype(&::CloseHandle)> close(sys::calls().CloseHandle, RecordClose);
  const bool running = IsDesktopAppRunning();
  const std::vector<HANDLE> expectedClosed =
      g_snapshot == INVALID_HANDLE_VALUE ? std::vector<HANDLE>{} : std::vector<HANDLE>{g_snapshot};
  EXPECT_EQ(g_closed, expectedClosed);
  return running;
}

// The file name is compared without regard to letter case, as Windows names files: the program
// started under "MARROWBANK.EXE" is running; a different name is not.
TEST(DesktopAppRunning, FindsMarrowbankExeInAnyLetterCaseAndClosesTheSnapshot) {
  const std::string standIn = OwnDirectory() + "Marrowbank.exe";
  EXPECT_FALSE(CheckRunning(RecordSnapshot)) << "a stand-in left running by an earlier test";

  struct Case {
    const char* folder;
    const char* name;
    bool counts;
  };
  const Case cases[] = {{"upper", "MARROWBANK.EXE", true},
                        {"lower", "marrowbank.exe", true},
                        {"longer", "Marrowbank2.exe", false},
                        {"suffixed", "Marrowbank.exe.exe", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = OwnDirectory() + c.folder;
    const std::string copy = folder + "\\" + c.name;
    ::CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(::CopyFileA(standIn.c_str(), copy.c_str(), FALSE));
    StandIn running(copy);
    ASSERT_TRUE(running.started());
    EXPECT_EQ(CheckRunning(RecordSnapshot), c.counts);
  }
  {
    StandIn first(standIn);
    ASSERT_TRUE(first.started());
    EXPECT_TRUE(CheckRunning(RecordSnapshot));
    StandIn second(standIn);
    ASSERT_TRUE(second.started());
    EXPECT_TRUE(CheckRunning(RecordSnapshot));
  }
  EXPECT_FALSE(CheckRunning(RecordSnapshot));
}

// Not knowing counts as running, so that a failure never starts a second copy; only the list's real
// end (ERROR_NO_MORE_FILES) reads "not running".
DWORD g_walkError = 0;
BOOL WINAPI NextFails(HANDLE, LPPROCESSENTRY32) {
  SetLastError(g_walkError);
  return FALSE;
}

TEST(DesktopAppRunning, AProcessListThatCannotBeReadCountsAsRunning) {
  EXPECT_TRUE(CheckRunning(FailSnapshot));      // nothing to close
  EXPECT_TRUE(CheckRunning(EventForSnapshot));  // first entry fails: the handle is still closed

  sys::ScopedCall<decltype(&::Process32Next)> next(sys::calls().Process32Next, NextFails);
  g_walkError = ERROR_NOT_ENOUGH_MEMORY;
  EXPECT_TRUE(CheckRunning(RecordSnapshot));
  g_walkError = ERROR_NO_MORE_FILES;
  EXPECT_FALSE(CheckRunning(RecordSnapshot));
}

// ---- The launcher ----------------------------------------------------------------------------

// Every call the launcher makes, in order, with the arguments that matter; releases are named by
// what they release.
struct Record {
  std::vector<std::string> events;
  HANDLE processToken = nullptr;
  HANDLE newToken = nullptr;
  HANDLE userToken = nullptr;
  DWORD querySession = 0xFFFFFFFF;
  void* environment = nullptr;
  PROCESS_INFORMATION process{};
  DWORD openAccess = 0;
  DWORD duplicateAccess = 0;
  const void* duplicateAttributes = reinterpret_cast<void*>(1);
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  TOKEN_TYPE type = TokenImpersonation;
  HANDLE sessionToken = nullptr;
  TOKEN_INFORMATION_CLASS infoClass = TokenUser;
  DWORD sessionId = 0xFFFFFFFF;
  DWORD sessionIdLength = 0;
  HANDLE environmentToken = nullptr;
  BOOL inherit = TRUE;
  HANDLE createToken = nullptr;
  const char* applicationName = "unset";
  std::string commandLine;
  const void* processAttributes = reinterpret_cast<void*>(1);
  const void* threadAttributes = reinterpret_cast<void*>(1);
  BOOL inheritHandles = TRUE;
  DWORD flags = 0;
  void* createEnvironment = nullptr;
  std::string currentDirectory = "unset";  // "(none)" for a null one
  STARTUPINFOA startup{};
  std::string desktop;
  std::string debugOutput;
} g;

// The call that fails, by name; empty for none. It fails with `g_failError`.
std::string g_failing;
DWORD g_failError = ERROR_ACCESS_DENIED;
// What the console-session call answers; 0: the real answer.
DWORD g_consoleSession = 0;

bool Fails(const char* name) {
  g.events.push_back(name);
  if (g_failing != name) return false;
  SetLastError(g_failError);
  return true;
}

BOOL WINAPI WatchOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  g.openAccess = access;
  if (Fails("OpenProcessToken")) return FALSE;
  const BOOL ok = sys::realCalls().OpenProcessToken(process, access, token);
  g.processToken = *token;
  return ok;
}
BOOL WINAPI WatchDuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                                  SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken) {
  g.duplicateAccess = access;
  g.duplicateAttributes = attributes;
  g.level = level;
  g.type = type;
  if (Fails("DuplicateTokenEx")) return FALSE;
  const BOOL ok = sys::realCalls().DuplicateTokenEx(token, access, attributes, level, type, newToken);
  g.newToken = *newToken;
  return ok;
}
DWORD WINAPI WatchConsoleSession() {
  g.events.push_back("WTSGetActiveConsoleSessionId");
  return g_consoleSession != 0 ? g_consoleSession : sys::realCalls().WTSGetActiveConsoleSessionId();
}
BOOL WINAPI WatchQueryUserToken(ULONG session, PHANDLE token) {
  g.querySession = session;
  if (Fails("WTSQueryUserToken")) return FALSE;
  const BOOL ok = sys::realCalls().WTSQueryUserToken(session, token);
  g.userToken = *token;
  return ok;
}
BOOL WINAPI WatchSetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length) {
  g.sessionToken = token;
  g.infoClass = infoClass;
  g.sessionId = *static_cast<DWORD*>(info);
  g.sessionIdLength = length;
  if (Fails("SetTokenInformation")) return FALSE;
  return sys::realCalls().SetTokenInformation(token, infoClass, info, length);
}
BOOL WINAPI WatchCreateEnvironmentBlock(LPVOID* block, HANDLE token, BOOL inherit) {
  g.environmentToken = token;
  g.inherit = inherit;
  if (Fails("CreateEnvironmentBlock")) return FALSE;
  const BOOL ok = sys::realCalls().CreateEnvironmentBlock(block, token, inherit);
  g.environment = *block;
  return ok;
}
BOOL WINAPI WatchCreateProcessAsUserA(HANDLE token, LPCSTR applicationName, LPSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes,
                                      LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                                      LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startup,
                                      LPPROCESS_INFORMATION process) {
  g.createToken = token;
  g.applicationName = applicationName;
  g.commandLine = commandLine;
  g.processAttributes = processAttributes;
  g.threadAttributes = threadAttributes;
  g.inheritHandles = inheritHandles;
  g.flags = flags;
  g.createEnvironment = environment;
  g.currentDirectory = currentDirectory != nullptr ? currentDirectory : "(none)";
  g.startup = *startup;
  g.desktop = startup->lpDesktop != nullptr ? startup->lpDesktop : "";
  if (Fails("CreateProcessAsUserA")) return FALSE;
  const BOOL ok = sys::realCalls().CreateProcessAsUserA(token, applicationName, commandLine, processAttributes,
                                                        threadAttributes, inheritHandles, flags, environment,
                                                        currentDirectory, startup, process);
  g.process = *process;
  return ok;
}
void WINAPI WatchOutputDebugString(LPCSTR text) {
  g.events.push_back("OutputDebugStringA");
  g.debugOutput += text;
  sys::realCalls().OutputDebugStringA(text);
}
BOOL WINAPI WatchCloseHandle(HANDLE handle) {
  // The service's road closes the user's token before it opens its own, which may get the same value.
  std::string what = "close ?";
  if (handle == g.userToken) what = "close user token";
  if (handle == g.processToken) what = "close process token";
  if (handle == g.newToken) what = "close new token";
  if (handle == g.process.hProcess) what = "close process";
  if (handle == g.process.hThread) what = "close thread";
  g.events.push_back(what);
  return sys::realCalls().CloseHandle(handle);
}
BOOL WINAPI WatchDestroyEnvironmentBlock(LPVOID block) {
  g.events.push_back(block == g.environment ? "destroy environment" : "destroy ?");
  return sys::realCalls().DestroyEnvironmentBlock(block);
}
HANDLE WINAPI WatchSnapshot(DWORD flags, DWORD processId) {
  g.events.push_back("CreateToolhelp32Snapshot");
  return sys::realCalls().CreateToolhelp32Snapshot(flags, processId);
}

// Watches every row the launcher may use for the life of the object.
class WatchLauncher {
 public:
  explicit WatchLauncher(const std::string& failing = std::string(), DWORD failError = ERROR_ACCESS_DENIED,
                         DWORD consoleSession = 0) {
    g = Record{};
    g_failing = failing;
    g_failError = failError;
    g_consoleSession = consoleSession;
  }
  std::vector<std::string> Events() { return events_.Events(); }
  bool EventsBalanced() { return events_.Balanced(); }

 private:
  event_test::ScopedEventCapture events_;
  template <typename Fn>
  using Row = sys::ScopedCall<Fn>;
  Row<decltype(&::OpenProcessToken)> open_{sys::calls().OpenProcessToken, WatchOpenProcessToken};
  Row<decltype(&::DuplicateTokenEx)> duplicate_{sys::calls().DuplicateTokenEx, WatchDuplicateTokenEx};
  Row<decltype(&::WTSGetActiveConsoleSessionId)> session_{sys::calls().WTSGetActiveConsoleSessionId,
                                                          WatchConsoleSession};
  Row<decltype(&::WTSQueryUserToken)> user_{sys::calls().WTSQueryUserToken, WatchQueryUserToken};
  Row<decltype(&::SetTokenInformation)> set_{sys::calls().SetTokenInformation, WatchSetTokenInformation};
  Row<decltype(&::CreateEnvironmentBlock)> environment_{sys::calls().CreateEnvironmentBlock,
                                                        WatchCreateEnvironmentBlock};
  Row<decltype(&::CreateProcessAsUserA)> create_{sys::calls().CreateProcessAsUserA, WatchCreateProcessAsUserA};
  Row<decltype(&::OutputDebugStringA)> debug_{sys::calls().OutputDebugStringA, WatchOutputDebugString};
  Row<decltype(&::CloseHandle)> close_{sys::calls().CloseHandle, WatchCloseHandle};
  Row<decltype(&::DestroyEnvironmentBlock)> destroy_{sys::calls().DestroyEnvironmentBlock,
                                                     WatchDestroyEnvironmentBlock};
  Row<decltype(&::CreateToolhelp32Snapshot)> snapshot_{sys::calls().CreateToolhelp32Snapshot, WatchSnapshot};
};

// The handles open in this process. Wine's GetProcessHandleCount always reports 0, so the handle
// values are probed one by one instead.
int OpenHandleCount() {
  int open = 0;
  for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
    DWORD flags;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  return open;
}

// The folder the program starts in: its own, without the trailing separator.
std::string ProgramFolder() {
  const std::string own = OwnDirectory();
  return own.substr(0, own.size() - 1);
}

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = OwnDirectory() + "Marrowbank-starts.log";
    folders_ = OwnDirectory() + "Marrowbank-folders.log";
    ::DeleteFileA(log_.c_str());
    ::DeleteFileA(folders_.c_str());
  }
  void TearDown() override { test_support::EndStartedStandIns(test_support::ReadText(log_)); }

  // Waits until the stand-in has recorded `starts` starts; returns the log's text.
  std::string WaitForLoggedStarts(size_t starts) {
    std::string text;
    test_support::WaitUntil([&] { return test_support::CountOf(text = test_support::ReadText(log_), "\r\n") >= starts; });
    return text;
  }

  std::string log_;
  std::string folders_;  // the folder of each start, as the stand-in saw it
};

TEST_F(Launcher, StartsTheProgramInTheConsoleSessionAndKeepsNoHandleOfIt) {
  const std::string quoted = "\"" + OwnDirectory() + "Marrowbank.exe\"";
  std::string commandLine = quoted + " --exit --record-folder";
  const DWORD consoleSession = ::WTSGetActiveConsoleSessionId();

  // The first launch in a process leaves handles the platform caches for good (registry keys and
  // the like); the count is taken around a later one.
  std::string warmUp = commandLine;
  ASSERT_TRUE(LaunchInConsoleSession(&warmUp[0]));
  const int handlesBefore = OpenHandleCount();
  bool launched;
  std::vector<std::string> events;
  {
    WatchLauncher watch;
    launched = LaunchInConsoleSession(&commandLine[0]);
    events = watch.Events();
    EXPECT_TRUE(watch.EventsBalanced());
  }
  const int handlesAfter = OpenHandleCount();
  ASSERT_TRUE(launched);
  EXPECT_GT(handlesBefore, 0);
  EXPECT_EQ(handlesAfter, handlesBefore) << "a handle of the new process, its thread or a token stayed open";

  // The user's token only says that somebody is at the console: closed before the service's is made.
  EXPECT_EQ(g.events, (std::vector<std::string>{"WTSGetActiveConsoleSessionId", "WTSQueryUserToken", "close user token",
                                                "OpenProcessToken", "DuplicateTokenEx", "SetTokenInformation",
                                                "CreateEnvironmentBlock", "CreateProcessAsUserA",
                                                "OutputDebugStringA", "close new token", "close process token",
                                                "destroy environment", "close process", "close thread"}));
  EXPECT_EQ(g.querySession, consoleSession);
  EXPECT_FALSE(AwaitingConsoleLogon());
  EXPECT_EQ(g.debugOutput, "CreateProcessAsUser OK!\r\n");
  EXPECT_EQ(events, std::vector<std::string>{"info 0x400000C8: " + std::to_string(g.process.dwProcessId) + " | " +
                                             std::to_string(consoleSession) + " | " + commandLine});

  EXPECT_EQ(g.openAccess, 0xF01FFu);
  EXPECT_EQ(g.duplicateAccess, static_cast<DWORD>(MAXIMUM_ALLOWED));
  EXPECT_EQ(g.duplicateAttributes, nullptr);
  EXPECT_EQ(g.level, SecurityIdentification);
  EXPECT_EQ(g.type, TokenPrimary);
  EXPECT_EQ(g.sessionToken, g.newToken);
  EXPECT_EQ(g.infoClass, TokenSessionId);
  EXPECT_EQ(g.sessionId, consoleSession);
  EXPECT_EQ(g.sessionIdLength, 4u);
  EXPECT_EQ(g.environmentToken, g.newToken);
  EXPECT_EQ(g.inherit, FALSE);

  EXPECT_EQ(g.createToken, g.newToken);
  EXPECT_EQ(g.applicationName, nullptr);
  EXPECT_EQ(g.commandLine, commandLine);
  EXPECT_EQ(g.processAttributes, nullptr);
  EXPECT_EQ(g.threadAttributes, nullptr);
  EXPECT_EQ(g.inheritHandles, FALSE);
  EXPECT_EQ(g.flags, 0x430u);
  EXPECT_EQ(g.createEnvironment, g.environment);
  EXPECT_EQ(g.currentDirectory, ProgramFolder());
  EXPECT_EQ(g.startup.cb, sizeof(void*) == 4 ? 68u : 104u);  // the record's size on i686; x86_64 test build
  EXPECT_EQ(g.desktop, "winsta0\\default");
  STARTUPINFOA rest = g.startup;
  rest.cb = 0;
  rest.lpDesktop = nullptr;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&rest), sizeof rest), std::string(sizeof rest, '\0'))
      << "every other member of the start-up record is zero";

  // The stand-in itself says it ran, with that command line, in the console session, in its folder.
  const std::string logged = WaitForLoggedStarts(2);  // the warm-up launch and this one
  EXPECT_NE(logged.find(" session=" + std::to_string(consoleSession) + " cmdline=" + commandLine + "\r\n"),
            std::string::npos)
      << logged;
  std::string folders;
  test_support::WaitUntil([&] { return test_support::CountOf(folders = test_support::ReadText(folders_), "\r\n") >= 2; });
  EXPECT_EQ(folders, ProgramFolder() + "\r\n" + ProgramFolder() + "\r\n");
}

TEST_F(Launcher, EachFailingStepReturnsFalseAndReleasesWhatItObtained) {
  struct Case {
    const char* failing;
    std::vector<std::string> after;  // events after the failing call
  };
  const Case cases[] = {
      // Not knowing whether anybody is at the console starts nothing.
      {"WTSQueryUserToken", {}},
      {"OpenProcessToken", {}},
      {"DuplicateTokenEx", {"close process token"}},
      {"SetTokenInformation", {"close new token", "close process token"}},
      {"CreateEnvironmentBlock", {"close new token", "close process token"}},
      {"CreateProcessAsUserA",
       {"OutputDebugStringA", "close new token", "close process token", "destroy environment"}},
  };
  const std::vector<std::string> steps = {"WTSGetActiveConsoleSessionId", "WTSQueryUserToken", "close user token",
                                          "OpenProcessToken", "DuplicateTokenEx", "SetTokenInformation",
                                          "CreateEnvironmentBlock", "CreateProcessAsUserA"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    std::string commandLine = "\"" + OwnDirectory() + "Marrowbank.exe\" --exit";
    bool launched;
    std::vector<std::string> events;
    {
      WatchLauncher watch(c.failing);
      launched = LaunchInConsoleSession(&commandLine[0]);
      events = watch.Events();
    }
    EXPECT_FALSE(launched);
    EXPECT_EQ(events, std::vector<std::string>{"error 0xC00000C9: " + std::string(c.failing) + " | 5 | " +
                                               Win32ErrorText(ERROR_ACCESS_DENIED)});
    std::vector<std::string> expected;
    for (const std::string& step : steps) {
      expected.push_back(step);
      if (step == c.failing) break;
    }
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(g.events, expected);
    EXPECT_EQ(g.debugOutput, g_failing == "CreateProcessAsUserA" ? "CreateProcessAsUser FAILD!\r\n" : "");
  }
  // A process is created by the time the call returns: none may be there.
  EXPECT_FALSE(IsDesktopAppRunning()) << "a failed launch started the program";
}

// Nobody logged on at the console (WTSQueryUserToken: ERROR_NO_TOKEN): the service's token would put
// a LocalSystem program on the logon screen. Nothing is made or started, one warning says so for a
// run of such launches, and the launch waits for a console logon until one finds a user there.
TEST_F(Launcher, NobodyAtTheConsoleHoldsTheServiceTokenLaunchForALogon) {
  const DWORD consoleSession = ::WTSGetActiveConsoleSessionId();
  std::vector<std::string> events;
  const auto launch = [&](const char* failing) {
    std::string commandLine = "\"" + OwnDirectory() + "Marrowbank.exe\" --exit";
    WatchLauncher watch(failing, ERROR_NO_TOKEN);
    const bool launched = LaunchInConsoleSession(&commandLine[0]);
    for (const std::string& e : watch.Events()) events.push_back(e.substr(0, e.find(':')));
    return launched;
  };
  EXPECT_FALSE(launch("WTSQueryUserToken"));
  EXPECT_EQ(g.events, (std::vector<std::string>{"WTSGetActiveConsoleSessionId", "WTSQueryUserToken"}));
  EXPECT_EQ(g.debugOutput, "");
  EXPECT_TRUE(AwaitingConsoleLogon());
  EXPECT_FALSE(launch("WTSQueryUserToken"));  // the same run: not reported again
  EXPECT_TRUE(AwaitingConsoleLogon());
  EXPECT_EQ(test_support::ReadText(log_), "") << "a held launch started the program";

  EXPECT_TRUE(launch(""));  // a user is there now
  EXPECT_FALSE(AwaitingConsoleLogon());
  EXPECT_EQ(events, (std::vector<std::string>{"warning 0x800000CC", "info 0x400000C8"}));
  WaitForLoggedStarts(1);

  // The warning's own text names the session.
  std::string commandLine = "\"" + OwnDirectory() + "Marrowbank.exe\" --exit";
  WatchLauncher watch("WTSQueryUserToken", ERROR_NO_TOKEN);
  EXPECT_FALSE(LaunchInConsoleSession(&commandLine[0]));
  EXPECT_EQ(watch.Events(), std::vector<std::string>{"warning 0x800000CC: " + std::to_string(consoleSession)});
  EndConsoleLogonWait();
}

TEST_F(Launcher, NullCommandLineMakesNoCall) {
  WatchLauncher watch;
  EXPECT_FALSE(LaunchInConsoleSession(nullptr));
  EXPECT_TRUE(g.events.empty());
}

// ---- The launch as the console user -----------------------------------------------------------

TEST_F(Launcher, AsUserStartsWithTheConsoleUsersTokenAndKeepsNoHandle) {
  std::string commandLine = "\"" + OwnDirectory() + "Marrowbank.exe\" --exit --record-folder";
  const DWORD consoleSession = ::WTSGetActiveConsoleSessionId();
  std::string warmUp = commandLine;
  ASSERT_TRUE(LaunchAsConsoleUser(&warmUp[0]));
  const int handlesBefore = OpenHandleCount();
  bool launched;
  std::vector<std::string> events;
  {
    WatchLauncher watch;
    launched = LaunchAsConsoleUser(&commandLine[0]);
    events = watch.Events();
    EXPECT_TRUE(watch.EventsBalanced());
  }
  EXPECT_EQ(OpenHandleCount(), handlesBefore) << "a handle of the new process, its thread or the token stayed open";
  ASSERT_TRUE(launched);

  EXPECT_EQ(g.events, (std::vector<std::string>{"WTSGetActiveConsoleSessionId", "WTSQueryUserToken",
                                                "CreateEnvironmentBlock", "CreateProcessAsUserA",
                                                "OutputDebugStringA", "close user token", "destroy environment",
                                                "close process", "close thread"}));
  EXPECT_EQ(g.querySession, consoleSession);
  EXPECT_NE(g.userToken, nullptr);
  EXPECT_EQ(g.environmentToken, g.userToken);
  EXPECT_EQ(g.inherit, FALSE);
  EXPECT_EQ(g.createToken, g.userToken);
  EXPECT_EQ(g.applicationName, nullptr);
  EXPECT_EQ(g.commandLine, commandLine);
  EXPECT_EQ(g.inheritHandles, FALSE);
  EXPECT_EQ(g.flags, 0x430u);
  EXPECT_EQ(g.createEnvironment, g.environment);
  EXPECT_EQ(g.currentDirectory, ProgramFolder());
  EXPECT_EQ(g.desktop, "winsta0\\default");
  EXPECT_EQ(g.debugOutput, "CreateProcessAsUser OK!\r\n");
  EXPECT_EQ(events, std::vector<std::string>{"info 0x400000C8: " + std::to_string(g.process.dwProcessId) + " | " +
                                             std::to_string(consoleSession) + " | " + commandLine});

  const std::string logged = WaitForLoggedStarts(2);
  EXPECT_NE(logged.find(" session=" + std::to_string(consoleSession) + " cmdline=" + commandLine + "\r\n"),
            std::string::npos)
      << logged;
  std::string folders;
  test_support::WaitUntil([&] { return test_support::CountOf(folders = test_support::ReadText(folders_), "\r\n") >= 2; });
  EXPECT_EQ(folders, ProgramFolder() + "\r\n" + ProgramFolder() + "\r\n");
}

// Each failing step releases what was obtained; no user at the console starts nothing and says so.
TEST_F(Launcher, AsUserFailuresAndNoUser) {
  const std::string denied = " | 5 | " + Win32ErrorText(ERROR_ACCESS_DENIED);
  struct Case {
    const char* name;
    const char* failing;
    DWORD failError;
    DWORD consoleSession;  // 0: the real one
    std::vector<std::string> calls;
    std::string event;
  };
  const Case cases[] = {
      {"no user logged on", "WTSQueryUserToken", ERROR_NO_TOKEN, 0,
       {"WTSGetActiveConsoleSessionId", "WTSQueryUserToken"},
       "warning 0x800000CA: " + std::to_string(::WTSGetActiveConsoleSessionId())},
      {"user token", "WTSQueryUserToken", ERROR_ACCESS_DENIED, 0,
       {"WTSGetActiveConsoleSessionId", "WTSQueryUserToken"}, "error 0xC00000C9: WTSQueryUserToken" + denied},
      {"environment", "CreateEnvironmentBlock", ERROR_ACCESS_DENIED, 0,
       {"WTSGetActiveConsoleSessionId", "WTSQueryUserToken", "CreateEnvironmentBlock", "close user token"},
       "error 0xC00000C9: CreateEnvironmentBlock" + denied},
      {"creation", "CreateProcessAsUserA", ERROR_ACCESS_DENIED, 0,
       {"WTSGetActiveConsoleSessionId", "WTSQueryUserToken", "CreateEnvironmentBlock", "CreateProcessAsUserA",
        "OutputDebugStringA", "close user token", "destroy environment"},
       "error 0xC00000C9: CreateProcessAsUserA" + denied},
      // A program whose manifest asks for administrator rights: the cause and the remedy in plain words.
      {"elevation required", "CreateProcessAsUserA", 740, 0,
       {"WTSGetActiveConsoleSessionId", "WTSQueryUserToken", "CreateEnvironmentBlock", "CreateProcessAsUserA",
        "OutputDebugStringA", "close user token", "destroy environment"},
       std::string("error 0xC00000C9: CreateProcessAsUserA | 740 | ") + kElevationRequiredText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string commandLine = "\"" + OwnDirectory() + "Marrowbank.exe\" --exit";
    bool launched;
    std::vector<std::string> events;
    {
      WatchLauncher watch(c.failing, c.failError, c.consoleSession);
      launched = LaunchAsConsoleUser(&commandLine[0]);
      events = watch.Events();
    }
    EXPECT_FALSE(launched);
    EXPECT_EQ(g.events, c.calls);
    EXPECT_EQ(events, std::vector<std::string>{c.event});
  }
  EXPECT_EQ(test_support::ReadText(log_), "") << "a failed launch started the program";
}

// While no session is attached to the console (WTSGetActiveConsoleSessionId answers 0xFFFFFFFF,
// during a session switch for one) neither road makes a token or a process, nor writes an event:
// nobody is there, and the next arrival or timer check tries again, which starts the program once a
// session is back. Nor does it end a run of a reported problem.
TEST_F(Launcher, NoSessionAtTheConsoleStartsNothingAndSaysNothingOnBothRoads) {
  const struct {
    const char* name;
    bool (*launch)(char*);
  } roads[] = {{"service token", LaunchInConsoleSession}, {"console user", LaunchAsConsoleUser}};
  size_t starts = 0;
  for (const auto& road : roads) {
    SCOPED_TRACE(road.name);
    std::vector<std::string> events;
    const auto launch = [&](const char* failing, DWORD consoleSession) {
      std::string commandLine = "\"" + OwnDirectory() + "Marrowbank.exe\" --exit";
      WatchLauncher watch(failing, ERROR_ACCESS_DENIED, consoleSession);
      const bool launched = road.launch(&commandLine[0]);
      for (const std::string& e : watch.Events()) events.push_back(e.substr(0, e.find(':')));
      return launched;
    };
    EXPECT_FALSE(launch("CreateEnvironmentBlock", 0));
    EXPECT_FALSE(launch("", 0xFFFFFFFF));
    EXPECT_EQ(g.events, std::vector<std::string>{"WTSGetActiveConsoleSessionId"});
    EXPECT_EQ(g.debugOutput, "");
    EXPECT_FALSE(launch("", 0xFFFFFFFF));
    EXPECT_FALSE(launch("CreateEnvironmentBlock", 0));  // the same run: not reported again
    EXPECT_TRUE(launch("", 0));
    EXPECT_EQ(events, (std::vector<std::string>{"error 0xC00000C9", "info 0x400000C8"}));
    WaitForLoggedStarts(++starts);
  }
}

// The polling road tries a failed launch again every period: the same problem is reported once,
// until a start ends the run of it.
TEST_F(Launcher, ARepeatedProblemIsReportedOnceUntilAStart) {
  std::vector<std::string> events;
  const auto launch = [&](const char* failing, DWORD consoleSession) {
    std::string commandLine = "\"" + OwnDirectory() + "Marrowbank.exe\" --exit";
    WatchLauncher watch(failing, ERROR_ACCESS_DENIED, consoleSession);
    const bool launched = LaunchAsConsoleUser(&commandLine[0]);
    for (const std::string& e : watch.Events()) events.push_back(e.substr(0, e.find(':')));
    return launched;
  };
  EXPECT_FALSE(launch("CreateEnvironmentBlock", 0));
  EXPECT_FALSE(launch("CreateEnvironmentBlock", 0));
  EXPECT_FALSE(launch("WTSQueryUserToken", 0));  // fails with access denied: another problem
  EXPECT_FALSE(launch("WTSQueryUserToken", 0));
  EXPECT_FALSE(launch("CreateEnvironmentBlock", 0));
  EXPECT_TRUE(launch("", 0));
  EXPECT_FALSE(launch("CreateEnvironmentBlock", 0));
  EXPECT_EQ(events, (std::vector<std::string>{"error 0xC00000C9", "error 0xC00000C9", "error 0xC00000C9",
                                              "info 0x400000C8", "error 0xC00000C9"}));
  WaitForLoggedStarts(1);
}

}  // namespace
