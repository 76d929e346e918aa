// The start settings and their warnings, on the real mode file beside this binary.
#include "launch/mode_settings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/event_log.h"
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
// empty keys are no warning).
TEST_F(StartSettingsTest, ValuesAndWarnings) {
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
      {"[Fields]\r\nPollSeconds=soon\r\nLaunchAtLogon=yes\r\nLaunchAs=admin\r\n", 0, false, false,
       {"PollSeconds | soon", "LaunchAtLogon | yes", "LaunchAs | admin"}},
      {"[Fields]\r\nPollSeconds=86401\r\nLaunchAtLogon=2\r\n", 0, false, false,
       {"PollSeconds | 86401", "LaunchAtLogon | 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "no file");
    SetModeFile(c.file);
    event_test::ScopedEventCapture events;
    const StartSettings settings = ReadStartSettings();
    EXPECT_EQ(settings.pollSeconds, c.pollSeconds);
    EXPECT_EQ(settings.launchAtLogon, c.launchAtLogon);
    EXPECT_EQ(settings.launchAsUser, c.launchAsUser);
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
  const StartSettings settings = ReadStartSettings();
  EXPECT_EQ(settings.pollSeconds, 0u);
  EXPECT_FALSE(settings.launchAtLogon);
  EXPECT_EQ(events.Events(), std::vector<std::string>{"warning 0x8000012C: " + path_ + " | 5 | " +
                                                      Win32ErrorText(ERROR_ACCESS_DENIED)});
}

}  // namespace
