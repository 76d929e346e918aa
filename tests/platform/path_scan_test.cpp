// ANSI paths compared as the file system compares names, in code page 936.
#include "platform/path_scan.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/syscalls.h"

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

// The executable's path in the ANSI code page: read in UTF-16 and converted with no best-fit
// look-alike, so a character without an exact form in the code page refuses the path instead of
// naming another file; cut and terminated as GetModuleFileNameA does when it does not fit.
const wchar_t* g_widePath = nullptr;
DWORD WINAPI WidePath(HMODULE module, LPWSTR buffer, DWORD size) {
  if (module != nullptr || g_widePath == nullptr) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(std::wcslen(g_widePath));
  const DWORD copied = length < size ? length : size - 1;
  std::wmemcpy(buffer, g_widePath, copied);
  buffer[copied] = L'\0';
  return length < size ? length : size;
}

TEST(PathScan, ModulePathHasAnExactAnsiFormOrNone) {
  ASSERT_EQ(::GetACP(), 936u) << "the cases are for code page 936";
  const std::wstring longPath = L"C:\\" + std::wstring(300, L'd') + L"\\s.exe";
  const struct {
    const char* name;
    const wchar_t* wide;
    unsigned long result;
    std::string path;
    DWORD error;  // checked when the result is 0
  } cases[] = {
      {"plain", L"C:\\Program Files\\Marrowbank\\MarrowbankServer.exe", 48,
       "C:\\Program Files\\Marrowbank\\MarrowbankServer.exe", 0},
      {"Chinese, exact in 936", L"C:\\\u4E2D\u6587\\s.exe", 13, "C:\\\xD6\xD0\xCE\xC4\\s.exe", 0},
      // No form in 936: refused, never '?' or a look-alike letter.
      {"Hangul", L"C:\\\uD55C\\s.exe", 0, "", ERROR_NO_UNICODE_TRANSLATION},
      {"A with grave accent", L"C:\\\u00C0\\s.exe", 0, "", ERROR_NO_UNICODE_TRANSLATION},
      {"cut to the room", longPath.c_str(), 260, "C:\\" + std::string(256, 'd'), ERROR_INSUFFICIENT_BUFFER},
      {"unreadable", nullptr, 0, "", ERROR_ACCESS_DENIED},
  };
  sys::ScopedCall<decltype(&::GetModuleFileNameW)> fake(sys::calls().GetModuleFileNameW, WidePath);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_widePath = c.wide;
    char path[260];
    std::memset(path, 'z', sizeof path);
    ::SetLastError(0);
    const unsigned long result = ReadModulePath(path, sizeof path);
    const DWORD error = ::GetLastError();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(std::string(path), c.path);
    if (c.result == 0 || c.result == sizeof path) {
      EXPECT_EQ(error, c.error);
    }
  }
}

}  // namespace
