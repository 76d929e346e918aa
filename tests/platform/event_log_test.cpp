// The event log: writing an event, the message table's presence and edges, and the source's
// registry key on the real (Wine) registry.
#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/handles.h"
#include "tests/platform/event_capture.h"

namespace {

using event_test::ScopedEventCapture;

TEST(EventLog, WritesOneEventWithItsStringsInOrder) {
  const std::string denied = Win32ErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(denied.empty());
  EXPECT_EQ(denied.find_first_of("\r\n"), std::string::npos) << "one line: " << denied;
  ScopedEventCapture capture;
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_MODE_VALUE_REJECTED, {"a", "b", "c", "d"});
  EXPECT_EQ(capture.Events(), std::vector<std::string>{"warning 0x8000012D: a | b | c | d"});
  EXPECT_TRUE(capture.Balanced());
}

TEST(EventLog, ASourceThatCannotBeOpenedWritesNothing) {
  ScopedEventCapture capture;
  capture.capture().openFails = true;
  WriteEvent(EVENTLOG_INFORMATION_TYPE, MSG_SERVICE_STOPPED, {"0", "0"});
  EXPECT_EQ(capture.capture().calls, std::vector<std::string>{"open"});
}

// FormatMessage as Event Viewer calls it: the message table linked into every executable of this
// build (this one included), in English, with the insert strings in place; "" with the error when the
// table has no such message.
std::string EventText(DWORD id, std::vector<const char*> inserts, DWORD* error = nullptr) {
  char text[1024] = {};
  std::vector<DWORD_PTR> strings;
  for (const char* s : inserts) strings.push_back(reinterpret_cast<DWORD_PTR>(s));
  strings.resize(9, reinterpret_cast<DWORD_PTR>(""));
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, ::GetModuleHandleA(nullptr), id,
                       0x409, text, sizeof text, reinterpret_cast<va_list*>(strings.data()));
  if (error != nullptr) *error = length == 0 ? ::GetLastError() : 0;
  return std::string(text, length);
}

// The table is linked, and Event Viewer reads a message of it whole with its insert strings.
TEST(EventLog, MessageTableIsLinked) {
  EXPECT_EQ(EventText(MSG_MODE_VALUE_REJECTED,
                      {"C:\\M\\language\\ModeConfig.ini", "LaunchAs", "admin", "LaunchAs is taken as user."}),
            "In the mode file C:\\M\\language\\ModeConfig.ini, the value \"admin\" of key LaunchAs is not accepted. "
            "LaunchAs is taken as user.\r\n");
}

// Its edges: the first and last identifier of each range are there, their neighbours are not; an
// insert string that looks like an insert (an administrator's own value) is shown as it is.
TEST(EventLog, MessageTableBoundaries) {
  struct Case {
    DWORD id;
    bool present;
  } cases[] = {
      {MSG_SERVICE_STARTED - 1, false},  {MSG_SERVICE_STARTED, true},   {MSG_START_STEP_FAILED, true},
      {MSG_STOP_FORCED, true},           {MSG_SETTINGS_CHANGED, true},   {MSG_SETTINGS_CHANGED + 1, false}, {MSG_PROGRAM_STARTED - 1, false}, {MSG_PROGRAM_STARTED, true},
      {MSG_PROGRAM_NEEDS_ELEVATION, true}, {MSG_LAUNCH_WAITS_FOR_LOGON, true},
      {MSG_LAUNCH_WAITS_FOR_LOGON + 1, false},
      {MSG_MODE_FILE_UNREADABLE - 1, false}, {MSG_MODE_FILE_UNREADABLE, true},
      {MSG_MODE_FILE_MARKED, true},      {MSG_FOLDER_WRITABLE, true},     {MSG_POLICY_VALUE_REJECTED, true},
      {MSG_POLICY_KEY_UNREADABLE, true}, {MSG_SETTINGS_NOT_WATCHED, true}, {MSG_SETTINGS_NOT_WATCHED + 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    DWORD error = 0;
    const std::string text = EventText(c.id, {"a", "b", "c", "d"}, &error);
    if (c.present) {
      EXPECT_EQ(error, 0u);
      ASSERT_GE(text.size(), 2u);
      EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
      EXPECT_EQ(text.find('%'), std::string::npos) << text;
    } else {
      EXPECT_EQ(text, "");
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    }
  }
  EXPECT_EQ(EventText(MSG_NO_CONSOLE_USER, {"%1%2"}),
            "The desktop program was not started: LaunchAs=user, and no user is logged on at the console (session "
            "%1%2).\r\n");
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
