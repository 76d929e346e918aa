// The start settings and their warnings, on the real mode file beside this binary.
#include "launch/settings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "launch/mode_file.h"
#include "platform/event_log.h"
#include "platform/syscalls.h"
#include "tests/launch/test_files.h"
#include "tests/platform/event_capture.h"

namespace {

using test_support::OwnDirectory;
using launch_test::SetModeFile;

class StartSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = OwnDirectory() + "language\\ModeConfig.ini"; }
  void TearDown() override {
    ::RemoveDirectoryA(path_.c_str());
    SetModeFile(nullptr);
  }
  std::string path_;
};

// Each key's accepted values, and one warning for each value that is not accepted (absent and
// empty keys are no warning), saying what the key does instead.
TEST_F(StartSettingsTest, ValuesAndWarnings) {
  const std::string kPollDefault = "PollSeconds takes its default.";
  const std::string kLogonDefault = "LaunchAtLogon takes its default.";
  const std::string kAsUser =
      "LaunchAs is taken as user, the lower privilege: the program starts with the token of the user logged on at "
      "the console, never as LocalSystem. Write LaunchAs=service for the service's own token.";
  struct Case {
    const char* file;  // nullptr: no file
    unsigned pollSeconds;
    bool launchAtLogon, launchAsUser;
    std::vector<std::string> rejected;  // "key | value"
  };
  const Case cases[] = {
      {nullptr, 0, false, false, {}},
      {"[Fields]\r\nAutoBack=0\r\n", 0, false, false, {}},
      {"[Fields]\r\nPollSeconds=5\r\nLaunchAtLogon=1\r\nLaunchAs=user\r\n", 5, true, true, {}},
      {"[Fields]\r\nPollSeconds=0\r\nLaunchAtLogon=0\r\nLaunchAs=service\r\n", 0, false, false, {}},
      {"[Fields]\r\nPollSeconds=00\r\nLaunchAs=USER\r\n", 0, false, true, {}},
      {"[Fields]\r\nPollSeconds=\r\nLaunchAtLogon=\r\nLaunchAs=\r\n", 0, false, false, {}},
      {"[Fields]\r\nPollSeconds=soon\r\nLaunchAtLogon=yes\r\nLaunchAs=admin\r\n", 0, false, true,
       {"PollSeconds | soon | " + kPollDefault, "LaunchAtLogon | yes | " + kLogonDefault, "LaunchAs | admin | " + kAsUser}},
      {"[Fields]\r\nPollSeconds=86401\r\nLaunchAtLogon=2\r\n", 0, false, false,
       {"PollSeconds | 86401 | " + kPollDefault, "LaunchAtLogon | 2 | " + kLogonDefault}},
      // A value not understood is a request that was meant: the lower privilege, never LocalSystem. The
      // profile functions keep an inline comment as part of the value.
      {"[Fields]\r\nLaunchAs=user ; for the lab\r\n", 0, false, true, {"LaunchAs | user ; for the lab | " + kAsUser}},
      {"[Fields]\r\nLaunchAs=service ; default\r\n", 0, false, true,
       {"LaunchAs | service ; default | " + kAsUser}},
      {"[Fields]\r\nLaunchAs=SERVICE\r\n", 0, false, false, {}},
      {"[Fields]\r\nLaunchAs=\"service\"\r\n", 0, false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "no file");
    SetModeFile(c.file);
    event_test::ScopedEventCapture events;
    const Settings settings = ReadStartSettings();
    EXPECT_EQ(settings.pollSeconds, c.pollSeconds);
    EXPECT_EQ(settings.launchAtLogon, c.launchAtLogon);
    EXPECT_EQ(settings.launchAsUser, c.launchAsUser);
    EXPECT_EQ(ReadLaunchAsUser(), c.launchAsUser) << "each launch reads it as the start did";
    std::vector<std::string> expected;
    for (const std::string& r : c.rejected) expected.push_back("warning 0x8000012D: " + path_ + " | " + r);
    EXPECT_EQ(events.Events(), expected);
    EXPECT_TRUE(events.Balanced());
  }
}

// A mode file that exists but cannot be read (here a directory of that name) reads as every key
// absent, with one warning naming the file and the error.
TEST_F(StartSettingsTest, AFileThatCannotBeReadIsOneWarning) {
  SetModeFile(nullptr);
  ::CreateDirectoryA((OwnDirectory() + "language").c_str(), nullptr);
  ASSERT_TRUE(::CreateDirectoryA(path_.c_str(), nullptr));
  event_test::ScopedEventCapture events;
  const Settings settings = ReadStartSettings();
  EXPECT_EQ(settings.pollSeconds, 0u);
  EXPECT_FALSE(settings.launchAtLogon);
  EXPECT_EQ(events.Events(), std::vector<std::string>{"warning 0x8000012C: " + path_ + " | 5 | " +
                                                      Win32ErrorText(ERROR_ACCESS_DENIED)});
}

// A file another program holds open without sharing it cannot be read either: one warning with the
// system's error, every key absent, and the check's own handle closed.
TEST_F(StartSettingsTest, AFileHeldOpenWithoutSharingIsOneWarning) {
  SetModeFile("[Fields]\r\nPollSeconds=5\r\n");
  const HANDLE held = ::CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  event_test::ScopedEventCapture events;
  const Settings settings = ReadStartSettings();
  ::CloseHandle(held);
  EXPECT_EQ(settings.pollSeconds, 0u);
  EXPECT_EQ(events.Events(), std::vector<std::string>{"warning 0x8000012C: " + path_ + " | 32 | " +
                                                      Win32ErrorText(ERROR_SHARING_VIOLATION)});
}

// Each key is read from the file once at start, and the value read is the one used and reported: a
// file edited while it is read cannot give a setting and a warning that disagree.
std::map<std::string, int> g_reads;
DWORD WINAPI ValueChangingAfterFirstRead(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR value, DWORD size,
                                         LPCSTR path) {
  const int read = g_reads[key]++;
  if (read == 0 || std::string(key) != "PollSeconds") {
    return sys::realCalls().GetPrivateProfileStringA(section, key, fallback, value, size, path);
  }
  return static_cast<DWORD>(std::snprintf(value, size, "soon"));
}

TEST_F(StartSettingsTest, EachKeyIsReadOnceAndTheValueReadIsTheOneReported) {
  SetModeFile("[Fields]\r\nPollSeconds=5\r\nLaunchAtLogon=1\r\nLaunchAs=user\r\n");
  g_reads.clear();
  sys::ScopedCall<decltype(&::GetPrivateProfileStringA)> edited(sys::calls().GetPrivateProfileStringA,
                                                                ValueChangingAfterFirstRead);
  event_test::ScopedEventCapture events;
  const Settings settings = ReadStartSettings();
  EXPECT_EQ(settings.pollSeconds, 5u);
  EXPECT_TRUE(settings.launchAtLogon);
  EXPECT_TRUE(settings.launchAsUser);
  EXPECT_EQ(events.Events(), std::vector<std::string>{});
  EXPECT_EQ(g_reads, (std::map<std::string, int>{{"AutoBack", 1}, {"LaunchAs", 1}, {"LaunchAtLogon", 1}, {"PollSeconds", 1}}));
}

// A file saved with a byte-order mark (PowerShell 5.1's Set-Content -Encoding UTF8, older Notepad)
// is one warning at start, naming the file, the mark and the remedy. LaunchAs=user in a UTF-8 file is
// read past the mark, which Windows' profile functions do not skip: such a file never turns the
// launch as the user into one as LocalSystem. A UTF-16 file is read by the profile functions.
std::string Utf16LittleEndian(const std::string& ascii) {
  std::string wide = "\xFF\xFE";
  for (char c : ascii) wide += std::string{c, '\0'};
  return wide;
}

TEST_F(StartSettingsTest, AMarkedFileIsOneWarningAndKeepsLaunchAsUser) {
  const std::string utf8Consequence =
      "Windows does not skip this mark: the section [Fields] on the first line is not found and every key takes "
      "its default, except LaunchAs, which the service reads past the mark.";
  const std::string utf16Consequence =
      "The service expects the ANSI text it ships with; Windows reads a file with this mark as Unicode, Wine and "
      "older tools may not.";
  struct Case {
    const char* name;
    std::string bytes;
    bool launchAsUser;
    std::string warning;  // "" for none
  };
  const Case cases[] = {
      {"UTF-8, user", "\xEF\xBB\xBF[Fields]\r\nLaunchAs=user\r\n", true, "UTF-8 | " + utf8Consequence},
      {"UTF-8, service", "\xEF\xBB\xBF[Fields]\r\nAutoBack=0\r\nLaunchAs=service\r\n", false,
       "UTF-8 | " + utf8Consequence},
      {"UTF-16, user", Utf16LittleEndian("[Fields]\r\nLaunchAs=user\r\n"), true,
       "UTF-16 little-endian | " + utf16Consequence},
      {"UTF-16 big-endian mark", "\xFE\xFF", false, "UTF-16 big-endian | " + utf16Consequence},
      {"no mark", "[Fields]\r\nLaunchAs=user\r\n", true, ""},
      {"a mark's first byte only", "\xEF[Fields]\r\n", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetModeFile("");
    ASSERT_TRUE(test_support::WriteText(path_, c.bytes));
    event_test::ScopedEventCapture events;
    EXPECT_EQ(ReadStartSettings().launchAsUser, c.launchAsUser);
    EXPECT_EQ(ReadLaunchAsUser(), c.launchAsUser);
    const std::vector<std::string> expected =
        c.warning.empty() ? std::vector<std::string>{}
                          : std::vector<std::string>{"warning 0x8000012E: " + path_ + " | " + c.warning};
    EXPECT_EQ(events.Events(), expected);
    EXPECT_TRUE(events.Balanced());
  }
}

// Past the mark, LaunchAs reads as the profile functions read the same file without it: each case
// is checked against Wine's GetPrivateProfileStringA on the unmarked text.
TEST_F(StartSettingsTest, TheValuePastAMarkReadsAsTheProfileFunctionsReadAnUnmarkedFile) {
  const char* const texts[] = {
      "[Fields]\r\nLaunchAs=user",
      "  [ fields ]  \n  launchas  =  \"User\"  \n",
      "[Fields]\r\nLaunchAs='user'\r\n",
      "[Other]\r\nLaunchAs=user\r\n[Fields]\r\nAutoBack=0\r\n",
      "[Fields]\r\nAutoBack=0\r\n[Other]\r\nLaunchAs=user\r\n",
      "[Fields]\r\nLaunchAs=service\r\nLaunchAs=user\r\n",
      "LaunchAs=user\r\n[Fields]\r\n",
      "[Fields]\r\n;LaunchAs=user\r\nLaunchAs = \r\n",
      "",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    SetModeFile(text);
    char expected[260] = {};
    ::GetPrivateProfileStringA("Fields", "LaunchAs", "", expected, sizeof expected, path_.c_str());
    EXPECT_EQ(ReadValuePastMark(path_.c_str(), "LaunchAs"), "") << "an unmarked file is not read";
    ASSERT_TRUE(test_support::WriteText(path_, std::string("\xEF\xBB\xBF") + text));
    EXPECT_EQ(ReadValuePastMark(path_.c_str(), "LaunchAs"), expected);
  }
}

// The policy key on the real registry, in the view the service reads; removed again at the end.
class PolicyKeyTest : public StartSettingsTest {
 protected:
  void TearDown() override {
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, kPolicyView, 0);
    StartSettingsTest::TearDown();
  }
  static void SetPolicy(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_SET_VALUE | kPolicyView, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  static void SetPolicyNumber(const char* name, DWORD value) { SetPolicy(name, REG_DWORD, &value, sizeof value); }
  static void SetPolicyText(const char* name, const char* text) {
    SetPolicy(name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
  }
};

// For each key: a policy value wins over the mode file, which wins over the default; a policy value
// that cannot be used is passed over (reported, and shown as ignored) for the mode file's. LaunchAs
// that is there but not understood is the lower privilege, wherever it comes from.
TEST_F(PolicyKeyTest, PolicyWinsOverTheModeFileWhichWinsOverTheDefault) {
  enum Policy { kNone, kNumber, kText };
  struct Case {
    const char* name;
    Setting setting;
    Policy policy;
    DWORD number;
    const char* text;
    const char* modeFile;  // the [Fields] line, or nullptr
    const char* value;
    SettingOrigin origin;
    bool ignored;
  };
  const Case cases[] = {
      {"poll: nothing", Setting::kPollSeconds, kNone, 0, nullptr, nullptr, "0", SettingOrigin::kDefault, false},
      {"poll: mode file", Setting::kPollSeconds, kNone, 0, nullptr, "PollSeconds=5", "5", SettingOrigin::kModeFile, false},
      {"poll: policy over mode file", Setting::kPollSeconds, kNumber, 30, nullptr, "PollSeconds=5", "30",
       SettingOrigin::kPolicy, false},
      {"poll: policy out of range", Setting::kPollSeconds, kNumber, 86401, nullptr, "PollSeconds=5", "5",
       SettingOrigin::kModeFile, true},
      {"poll: policy of the wrong type", Setting::kPollSeconds, kText, 0, "30", nullptr, "0", SettingOrigin::kDefault,
       true},
      {"poll: both refused", Setting::kPollSeconds, kNumber, 90000, nullptr, "PollSeconds=soon", "0",
       SettingOrigin::kDefault, true},
      {"autoback: policy off", Setting::kAutoBack, kNumber, 0, nullptr, "AutoBack=1", "0", SettingOrigin::kPolicy, false},
      {"autoback: policy 2", Setting::kAutoBack, kNumber, 2, nullptr, "AutoBack=0", "0", SettingOrigin::kModeFile, true},
      {"logon: policy on", Setting::kLaunchAtLogon, kNumber, 1, nullptr, nullptr, "1", SettingOrigin::kPolicy, false},
      {"logon: mode file on, policy off", Setting::kLaunchAtLogon, kNumber, 0, nullptr, "LaunchAtLogon=1", "0",
       SettingOrigin::kPolicy, false},
      {"launch as: policy user over mode file service", Setting::kLaunchAs, kText, 0, "USER", "LaunchAs=service",
       "user", SettingOrigin::kPolicy, false},
      {"launch as: policy service over mode file user", Setting::kLaunchAs, kText, 0, "service", "LaunchAs=user",
       "service", SettingOrigin::kPolicy, false},
      {"launch as: policy not understood", Setting::kLaunchAs, kText, 0, "admin", "LaunchAs=service", "user",
       SettingOrigin::kPolicy, true},
      {"launch as: policy of the wrong type", Setting::kLaunchAs, kNumber, 0, nullptr, "LaunchAs=service", "user",
       SettingOrigin::kPolicy, true},
      {"launch as: empty policy is none", Setting::kLaunchAs, kText, 0, "", "LaunchAs=user", "user",
       SettingOrigin::kModeFile, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, kPolicyView, 0);
    const char* key = SettingRowOf(c.setting).key;
    if (c.policy == kNumber) SetPolicyNumber(key, c.number);
    if (c.policy == kText) SetPolicyText(key, c.text);
    SetModeFile(c.modeFile == nullptr ? nullptr : (std::string("[Fields]\r\n") + c.modeFile + "\r\n").c_str());
    const Settings settings = ReadSettings();
    EXPECT_EQ(SettingValueText(settings, c.setting), c.value);
    EXPECT_EQ(settings.OriginOf(c.setting), c.origin);
    EXPECT_EQ(settings.ignored.empty(), !c.ignored);
    if (c.setting == Setting::kAutoBack) {
      EXPECT_EQ(ReadAutoBack(), settings.autoBack) << "each decision reads it so";
    }
    if (c.setting == Setting::kLaunchAs) {
      EXPECT_EQ(ReadLaunchAsUser(), settings.launchAsUser) << "each launch too";
    }
  }
}

// A value the policy gives that cannot be used is one warning naming the policy key; a re-read while
// the service runs reports only problems the last read did not have.
TEST_F(PolicyKeyTest, AProblemIsReportedOncePerRun) {
  SetModeFile(nullptr);
  SetPolicyNumber("PollSeconds", 99999);
  const std::string warning = std::string("warning 0x80000130: HKEY_LOCAL_MACHINE\\") + kPolicyKey +
                              " | PollSeconds | 99999 | It is not from 0 to 86400. PollSeconds takes the mode "
                              "file's value, or its default.";
  {
    event_test::ScopedEventCapture events;
    ReadStartSettings();
    EXPECT_EQ(events.Events(), std::vector<std::string>{warning});
  }
  {
    event_test::ScopedEventCapture events;
    RereadSettings();
    EXPECT_EQ(events.Events(), std::vector<std::string>{}) << "the same problem, already told";
    SetPolicyNumber("PollSeconds", 30);
    EXPECT_EQ(RereadSettings().pollSeconds, 30u);
    SetPolicyNumber("PollSeconds", 99999);
    RereadSettings();
    EXPECT_EQ(events.Events(), std::vector<std::string>{warning}) << "mended, then broken again";
  }
}

}  // namespace
