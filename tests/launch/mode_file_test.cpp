#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "launch/mode_file.h"
#include "launch/settings.h"
#include "platform/syscalls.h"
#include "tests/launch/test_files.h"

namespace {

using launch_test::SetModeFile;

class ModeFile : public ::testing::Test {
 protected:
  void TearDown() override { SetModeFile(nullptr); }
};

TEST_F(ModeFile, OnlyAZeroInSectionFieldsTurnsASwitchOff) {
  struct Case {
    const char* name;
    const char* file;  // nullptr: no file
    bool expected;
  };
  const Case cases[] = {
      {"no file", nullptr, true},
      {"AutoBack=0", "[Fields]\r\nAutoBack=0\r\n", false},
      {"AutoBack=1", "[Fields]\r\nAutoBack=1\r\n", true},
      {"AutoBack=00", "[Fields]\r\nAutoBack=00\r\n", true},
      {"AutoBack=false", "[Fields]\r\nAutoBack=false\r\n", true},
      {"AutoBack=no", "[Fields]\r\nAutoBack=no\r\n", true},
      {"empty value", "[Fields]\r\nAutoBack=\r\n", true},
      {"other key only", "[Fields]\r\nautoload=0\r\n", true},
      {"other section only", "[Other]\r\nAutoBack=0\r\n[Fields]\r\nautoload=0\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetModeFile(c.file);
    EXPECT_EQ(ReadAutoBack(), c.expected);
  }
}

TEST_F(ModeFile, AnEditTakesEffectAtTheNextCall) {
  SetModeFile("[Fields]\r\nAutoBack=0\r\n");
  EXPECT_FALSE(ReadAutoBack());
  SetModeFile("[Fields]\r\nAutoBack=1\r\n");
  EXPECT_TRUE(ReadAutoBack());
  SetModeFile("[Fields]\r\nAutoBack=0\r\n");
  EXPECT_FALSE(ReadAutoBack());
}

HMODULE g_askedModule = reinterpret_cast<HMODULE>(1);
DWORD g_askedSize = 0;
DWORD WINAPI FailModuleFileName(HMODULE module, LPWSTR, DWORD size) {
  g_askedModule = module;
  g_askedSize = size;
  return 0;
}

// Runs `body` with the standard error stream sent to a file, and returns what was written.
template <typename Body>
std::string CaptureStandardError(Body body) {
  const std::string path = test_support::OwnDirectory() + "stderr.txt";
  std::fflush(stderr);
  const int saved = _dup(2);
  const int file = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
  _dup2(file, 2);
  body();
  std::fflush(stderr);
  _dup2(saved, 2);
  _close(saved);
  _close(file);
  const std::string text = test_support::ReadText(path);
  ::DeleteFileA(path.c_str());
  return text;
}

TEST_F(ModeFile, UnreadableModulePathReadsFalseAndSaysSo) {
  SetModeFile(nullptr);  // a missing file would read true
  sys::ScopedCall<decltype(&::GetModuleFileNameW)> fail(sys::calls().GetModuleFileNameW, FailModuleFileName);
  bool value = true;
  const std::string written = CaptureStandardError([&] { value = ReadAutoBack(); });
  EXPECT_FALSE(value);
  EXPECT_EQ(written, "Error getting module file name\n");
  EXPECT_EQ(g_askedModule, nullptr);

  // The start settings fall back to the defaults, silently.
  SetModeFile("[Fields]\r\nPollSeconds=30\r\n");
  unsigned seconds = 1;
  EXPECT_EQ(CaptureStandardError([&] { seconds = ReadStartSettings().pollSeconds; }), "");
  EXPECT_EQ(seconds, 0u);
}

// The directory ends after the last 0x5C byte, byte by byte, even inside a double-byte character;
// with no backslash the whole path is the directory. 259 characters is the longest path that fits.
TEST(ModeFilePath, ByteWiseLastBackslash) {
  const struct {
    const char* module;
    const char* modeFile;
  } cases[] = {
      {"C:\\Program Files\\Marrowbank\\MarrowbankServer.exe", "C:\\Program Files\\Marrowbank\\language\\ModeConfig.ini"},
      {"C:\\A\x81\x5c\\Server.exe", "C:\\A\x81\x5c\\language\\ModeConfig.ini"},
      {"C:\\A\\Server\x81\x5c.exe", "C:\\A\\Server\x81\x5clanguage\\ModeConfig.ini"},
      {"Server.exe", "Server.exelanguage\\ModeConfig.ini"},
      {"", "language\\ModeConfig.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.module);
    char path[kModeFilePathSize];
    ModeFilePathFor(c.module, path);
    EXPECT_STREQ(path, c.modeFile);
  }

  const std::string directory = "C:\\" + std::string(232, 'd') + "\\";  // 236 + 23 = 259
  EXPECT_TRUE(ModeFilePathFits((directory + "MarrowbankServer.exe").c_str()));
  EXPECT_FALSE(ModeFilePathFits((directory + "d\\MarrowbankServer.exe").c_str()));
}

// Values compare by the invariant locale's rules, whatever the locale of the account the service
// runs as: letter case of ASCII letters only, never a double-byte value that folds to the same bytes.
TEST(ModeValues, LaunchAsComparesWithoutLetterCaseByTheInvariantLocale) {
  const struct {
    const char* value;
    bool user, accepted;
  } cases[] = {
      {"user", true, true},       {"USER", true, true},      {"uSeR", true, true},
      {"service", false, true},   {"SERVICE", false, true},  {"", false, true},
      {"sErViCe", false, true},
      // Not understood: taken as user, the lower privilege.
      {"users", true, false},     {" user", true, false},    {"\xD3\xC3\xBB\xA7", true, false},
      {"admin", true, false},     {"services", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    bool accepted = !c.accepted;
    EXPECT_EQ(ParseLaunchAsUser(c.value, accepted), c.user);
    EXPECT_EQ(accepted, c.accepted);
  }
}

TEST_F(ModeFile, PollSecondsIsAWholeNumberFromOneToADay) {
  struct Case {
    const char* file;  // nullptr: no file
    unsigned expected;
  };
  const Case cases[] = {
      {nullptr, 0},
      {"[Fields]\r\nAutoBack=0\r\n", 0},
      {"[Other]\r\nPollSeconds=30\r\n", 0},
      {"[Fields]\r\nPollSeconds=\r\n", 0},
      {"[Fields]\r\nPollSeconds=1\r\n", 1},
      {"[Fields]\r\nPollSeconds=30\r\n", 30},
      {"[Fields]\r\nPollSeconds=  45  \r\n", 45},
      {"[Fields]\r\nPollSeconds=\t45\t\r\n", 45},
      {"[Fields]\r\nPollSeconds=0030\r\n", 30},
      {"[Fields]\r\nPollSeconds=86400\r\n", 86400},
      {"[Fields]\r\nPollSeconds=0\r\n", 0},
      {"[Fields]\r\nPollSeconds=86401\r\n", 0},
      {"[Fields]\r\nPollSeconds=4294967326\r\n", 0},
      {"[Fields]\r\nPollSeconds=99999999999999999999999\r\n", 0},
      {"[Fields]\r\nPollSeconds=+30\r\n", 0},
      {"[Fields]\r\nPollSeconds=-30\r\n", 0},
      {"[Fields]\r\nPollSeconds=30s\r\n", 0},
      {"[Fields]\r\nPollSeconds=3 0\r\n", 0},
      {"[Fields]\r\nPollSeconds=0x1E\r\n", 0},
      {"[Fields]\r\nPollSeconds=thirty\r\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file == nullptr ? "no file" : c.file);
    SetModeFile(c.file);
    EXPECT_EQ(ReadStartSettings().pollSeconds, c.expected);
  }
}

}  // namespace
