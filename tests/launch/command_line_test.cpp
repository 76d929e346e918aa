#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launch/command_line.h"
#include "platform/syscalls.h"
#include "tests/launch/test_files.h"

namespace {

// What the fake module-path call reports: `path` (code page 936) in UTF-16, cut to the size offered
// as Windows does, or a failure when `path` is null.
const char* g_modulePath = nullptr;
HMODULE g_askedModule = reinterpret_cast<HMODULE>(1);

DWORD WINAPI FakeModuleFileName(HMODULE module, LPWSTR buffer, DWORD size) {
  g_askedModule = module;
  if (g_modulePath == nullptr) return 0;
  return test_support::WideModulePath(g_modulePath, buffer, size);
}

struct Case {
  const char* name;
  const char* modulePath;  // nullptr: the call fails
  std::string expected;    // empty: nothing may be launched
};

TEST(CommandLine, QuotedPathOfTheProgramBesideTheExecutableOrNothing) {
  ASSERT_EQ(::GetACP(), 936u) << "the double-byte cases need code page 936";
  // Quote, directory, "Marrowbank.exe", quote and terminator take 260 bytes with a 243-byte directory.
  const std::string fits = "C:\\" + std::string(239, 'd') + "\\s.exe";
  const std::string tooLong = "C:\\" + std::string(240, 'd') + "\\s.exe";
  const std::string cut = "C:\\Svc\\" + std::string(300, 'x') + ".exe";
  const Case cases[] = {
      {"plain", "C:\\Tools\\Svc\\service.exe", "\"C:\\Tools\\Svc\\Marrowbank.exe\""},
      {"blanks in the directory", "C:\\Program Files\\Svc\\service.exe",
       "\"C:\\Program Files\\Svc\\Marrowbank.exe\""},
      // 0x81 0x5C is one character in code page 936: its second byte is no separator.
      {"double-byte trail 0x5C in the file name", "C:\\Tools\\\x81\x5Cservice.exe", "\"C:\\Tools\\Marrowbank.exe\""},
      {"double-byte trail 0x5C in a directory", "C:\\\x81\x5C\\service.exe", "\"C:\\\x81\x5C\\Marrowbank.exe\""},
      {"slash is no separator", "C:\\Tools/Svc/service.exe", "\"C:\\Marrowbank.exe\""},
      {"longest directory that fits", fits.c_str(), "\"C:\\" + std::string(239, 'd') + "\\Marrowbank.exe\""},
      {"one byte too long", tooLong.c_str(), ""},
      {"no backslash", "service.exe", ""},
      {"path cut at 260 bytes", cut.c_str(), ""},
      {"path cannot be read", nullptr, ""},
  };

  sys::ScopedCall<decltype(&::GetModuleFileNameW)> fake(sys::calls().GetModuleFileNameW, FakeModuleFileName);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_modulePath = c.modulePath;
    char buffer[kCommandLineBufferSize];
    std::memset(buffer, 'z', sizeof buffer);
    const bool built = BuildDesktopAppCommandLine(buffer);
    EXPECT_EQ(g_askedModule, nullptr);
    if (!c.expected.empty()) {
      EXPECT_TRUE(built);
      EXPECT_EQ(std::string(buffer), c.expected);
    } else {
      EXPECT_FALSE(built);
      EXPECT_EQ(buffer[0], '\0') << "nothing of a partial command line may be left";
    }
  }
}

TEST(CommandLine, NamesTheProgramBesideThisExecutable) {
  char buffer[kCommandLineBufferSize];
  ASSERT_TRUE(BuildDesktopAppCommandLine(buffer));
  EXPECT_EQ(std::string(buffer), "\"" + test_support::OwnDirectory() + "Marrowbank.exe\"");
}

// The folder the program starts in, read from the command line the way the file system reads the
// path; a line that names no folder gives none.
TEST(CommandLine, ProgramFolderIsTheQuotedPathsFolder) {
  ASSERT_EQ(::GetACP(), 936u) << "the double-byte case needs code page 936";
  const std::string longest = "\"C:\\" + std::string(239, 'd') + "\\Marrowbank.exe\"";  // 260 with its end
  const struct {
    const char* name;
    std::string commandLine;
    std::string folder;  // empty: none
  } cases[] = {
      {"plain", "\"C:\\Program Files\\Marrowbank\\Marrowbank.exe\"", "C:\\Program Files\\Marrowbank"},
      {"arguments after it", "\"C:\\Tools\\Marrowbank.exe\" --exit \"D:\\x\\y\"", "C:\\Tools"},
      {"a drive's root", "\"C:\\Marrowbank.exe\"", "C:\\"},
      {"double-byte trail 0x5C in the folder", "\"C:\\\x81\x5C\\Marrowbank.exe\"", "C:\\\x81\x5C"},
      {"double-byte trail 0x5C in the file name", "\"C:\\T\\\x81\x5C.exe\"", "C:\\T"},
      {"the longest command line", longest, "C:\\" + std::string(239, 'd')},
      {"unquoted", "C:\\Tools\\Marrowbank.exe", ""},
      {"no closing quote", "\"C:\\Tools\\Marrowbank.exe", ""},
      {"no separator", "\"Marrowbank.exe\"", ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    char folder[kCommandLineBufferSize];
    std::memset(folder, 'z', sizeof folder);
    const bool found = ProgramFolderOf(c.commandLine.c_str(), folder);
    EXPECT_EQ(found, !c.folder.empty());
    if (found) {
      EXPECT_EQ(std::string(folder), c.folder);
    } else {
      EXPECT_EQ(folder[0], '\0');
    }
  }
}

}  // namespace
