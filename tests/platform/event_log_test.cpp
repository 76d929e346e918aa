// The event log: the exact events each helper writes, the message table's texts, and the source's
// registry key on the real (Wine) registry.
#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/handles.h"
#include "tests/platform/event_capture.h"

namespace {

using event_test::ScopedEventCapture;

TEST(EventLog, EachHelperWritesItsEventWithItsStrings) {
  const std::string denied = Win32ErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(denied.empty());
  EXPECT_EQ(denied.find_first_of("\r\n"), std::string::npos) << "one line: " << denied;

  struct Case {
    const char* name;
    void (*report)();
    std::string event;
  };
  const Case cases[] = {
      {"started", [] { ReportServiceStarted(5, true, false); },
       "info 0x40000064: 5 | 1 | service"},
      {"started, defaults", [] { ReportServiceStarted(0, false, true); }, "info 0x40000064: 0 | 0 | user"},
      {"stopped", [] { ReportServiceStopped(1066, 3); }, "info 0x40000065: 1066 | 3"},
      {"start-up step failed", [] { ReportStartStepFailed("Could not create the thread.", ERROR_ACCESS_DENIED, 0); },
       "error 0xC0000066: Could not create the thread. | 5 | " + denied + " | 0"},
      {"program started", [] { ReportProgramStarted(4242, 1, "\"C:\\P Q\\Marrowbank.exe\""); },
       "info 0x400000C8: 4242 | 1 | \"C:\\P Q\\Marrowbank.exe\""},
      {"program failed", [] { ReportProgramFailed("WTSQueryUserToken", ERROR_ACCESS_DENIED); },
       "error 0xC00000C9: WTSQueryUserToken | 5 | " + denied},
      {"no console user", [] { ReportNoConsoleUser(1); }, "warning 0x800000CA: 1"},
      {"mode file unreadable", [] { ReportModeFileUnreadable("C:\\a\\ModeConfig.ini", ERROR_ACCESS_DENIED); },
       "warning 0x8000012C: C:\\a\\ModeConfig.ini | 5 | " + denied},
      {"value rejected", [] { ReportModeValueRejected("C:\\a\\ModeConfig.ini", "PollSeconds", "soon"); },
       "warning 0x8000012D: C:\\a\\ModeConfig.ini | PollSeconds | soon"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEventCapture capture;
    c.report();
    EXPECT_EQ(capture.Events(), std::vector<std::string>{c.event});
    EXPECT_TRUE(capture.Balanced());
  }
}

TEST(EventLog, ASourceThatCannotBeOpenedWritesNothing) {
  ScopedEventCapture capture;
  capture.capture().openFails = true;
  ReportServiceStopped(0, 0);
  EXPECT_EQ(capture.capture().calls, std::vector<std::string>{"open"});
}

// The texts Event Viewer shows, from the message table linked into every executable of this build
// (this one included), with the insert strings in place.
TEST(EventLog, MessageTableTexts) {
  struct Case {
    DWORD id;
    std::vector<const char*> strings;
    const char* text;
  };
  const Case cases[] = {
      {MSG_SERVICE_STARTED, {"5", "1", "user"},
       "The service started. Read from the mode file at start: PollSeconds=5, LaunchAtLogon=1, LaunchAs=user."},
      {MSG_SERVICE_STOPPED, {"0", "0"}, "The service stopped. Win32 exit code 0, service-specific exit code 0."},
      {MSG_START_STEP_FAILED, {"Could not create the worker thread.", "1066", "Service-specific error.", "5"},
       "The service could not start. Could not create the worker thread. Win32 error 1066: Service-specific error. "
       "Service-specific code 5."},
      {MSG_PROGRAM_STARTED, {"42", "1", "\"C:\\M\\Marrowbank.exe\""},
       "The desktop program was started as process 42 in session 1 with the command line "
       "\"C:\\M\\Marrowbank.exe\""},
      {MSG_PROGRAM_FAILED, {"CreateEnvironmentBlock", "5", "Access denied."},
       "The desktop program could not be started: CreateEnvironmentBlock failed with Win32 error 5: Access "
       "denied."},
      {MSG_NO_CONSOLE_USER, {"1"},
       "The desktop program was not started: LaunchAs=user, and no user is logged on at the console (session "
       "1)."},
      {MSG_MODE_FILE_UNREADABLE, {"C:\\M\\language\\ModeConfig.ini", "5", "Access denied."},
       "The mode file C:\\M\\language\\ModeConfig.ini exists but cannot be read (Win32 error 5: Access denied.). "
       "Every key takes its default."},
      {MSG_MODE_VALUE_REJECTED, {"C:\\M\\language\\ModeConfig.ini", "LaunchAs", "admin"},
       "In the mode file C:\\M\\language\\ModeConfig.ini, the value \"admin\" of key LaunchAs is not accepted. "
       "LaunchAs takes its default."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    char text[512] = {};
    std::vector<DWORD_PTR> strings;
    for (const char* s : c.strings) strings.push_back(reinterpret_cast<DWORD_PTR>(s));
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, ::GetModuleHandleA(nullptr),
                         c.id, 0x409, text, sizeof text, reinterpret_cast<va_list*>(strings.data()));
    ASSERT_GT(length, 0u) << ::GetLastError();
    EXPECT_EQ(std::string(text), std::string(c.text) + "\r\n");
  }
}

// The source's key on the real registry: both values written, then removed; removing what is not
// there is success.
TEST(EventLog, InstallAndRemoveTheSource) {
  ASSERT_TRUE(RemoveEventSource());
  ASSERT_TRUE(InstallEventSource("C:\\Program Files\\Marrowbank\\MarrowbankServer.exe"));

  sys::UniqueRegistryKey key;
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer", 0,
                            KEY_READ, key.receive()),
            ERROR_SUCCESS);
  char path[MAX_PATH] = {};
  DWORD type = 0, size = sizeof path;
  ASSERT_EQ(::RegQueryValueExA(key.get(), "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(path), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_STREQ(path, "C:\\Program Files\\Marrowbank\\MarrowbankServer.exe");
  DWORD types = 0;
  size = sizeof types;
  ASSERT_EQ(::RegQueryValueExA(key.get(), "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(types, 7u);
  key.reset();

  EXPECT_TRUE(RemoveEventSource());
  EXPECT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer", 0,
                            KEY_READ, key.receive()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(RemoveEventSource());
}

// A value that cannot be written: false, and the key is closed all the same.
int g_closedKeys = 0;
LSTATUS WINAPI FailSetValue(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) { return ERROR_ACCESS_DENIED; }
LSTATUS WINAPI CountCloseKey(HKEY key) {
  ++g_closedKeys;
  return sys::realCalls().RegCloseKey(key);
}

TEST(EventLog, AValueThatCannotBeWrittenFailsAndClosesTheKey) {
  sys::ScopedCall<decltype(&::RegSetValueExA)> fail(sys::calls().RegSetValueExA, FailSetValue);
  sys::ScopedCall<decltype(&::RegCloseKey)> count(sys::calls().RegCloseKey, CountCloseKey);
  g_closedKeys = 0;
  EXPECT_FALSE(InstallEventSource("C:\\M\\MarrowbankServer.exe"));
  EXPECT_EQ(g_closedKeys, 1);
  RemoveEventSource();
}

}  // namespace
