// ANSI paths compared as the file system compares names, in code page 936.
#include "platform/path_scan.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

namespace {

// Letter case is ignored character by character: never inside a double-byte character, whose
// second byte may look like an ASCII letter (0x81 0x41 and 0x81 0x61 are two different characters,
// which a byte-wise case fold takes for one).
TEST(PathScan, SameFilePathComparesCharactersNotBytes) {
  ASSERT_EQ(::GetACP(), 936u) << "the double-byte cases need code page 936";
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"\"C:\\Program Files\\Marrowbank\\MarrowbankServer.exe\"",
       "\"c:\\PROGRAM FILES\\marrowbank\\MarrowbankServer.EXE\"", true},
      {"\"C:\\Program Files\\Marrowbank\\MarrowbankServer.exe\"", "\"D:\\Marrowbank\\MarrowbankServer.exe\"", false},
      {"C:\\\x81\x41\\MarrowbankServer.exe", "C:\\\x81\x61\\MarrowbankServer.exe", false},
      {"C:\\\x81\x41\\MarrowbankServer.exe", "C:\\\x81\x41\\marrowbankserver.exe", true},
      {"C:\\\xD6\xD0\xCE\xC4\\a.exe", "C:\\\xD6\xD0\xCE\xC4\\A.EXE", true},
      {"", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a + std::string(" / ") + c.b);
    EXPECT_EQ(SameFilePath(c.a, c.b), c.same);
  }
  // What the byte-wise fold says about the double-byte pair.
  EXPECT_EQ(_stricmp("C:\\\x81\x41\\x", "C:\\\x81\x61\\x"), 0);
}

}  // namespace
