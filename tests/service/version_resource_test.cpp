// The version resource of the built MarrowbankServer.exe (copied beside this test), read back through
// the version API as Explorer's properties page and inventory tools read it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<char> ReadVersionInfo() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::strcpy(std::strrchr(path, '\\') + 1, "MarrowbankServer.exe");
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
  std::vector<char> data(size);
  if (size == 0 || !::GetFileVersionInfoA(path, 0, size, data.data())) data.clear();
  return data;
}

std::string StringValue(std::vector<char>& data, const char* name) {
  const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
  char* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) return "<missing>";
  return std::string(value);
}

TEST(VersionResource, CarriesTheProjectVersionAndNames) {
  std::vector<char> data = ReadVersionInfo();
  ASSERT_FALSE(data.empty()) << "no version resource, error " << ::GetLastError();

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD high = MAKELONG(MARROWBANK_VERSION_MINOR, MARROWBANK_VERSION_MAJOR);
  const DWORD low = MAKELONG(MARROWBANK_VERSION_TWEAK, MARROWBANK_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  // One translation: US English, Unicode strings.
  WORD* translation = nullptr;
  ASSERT_TRUE(::VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);

  const struct {
    const char* name;
    const char* value;
  } kStrings[] = {
      {"FileVersion", MARROWBANK_VERSION},
      {"ProductVersion", MARROWBANK_VERSION},
      {"ProductName", "MarrowbankServer"},
      {"FileDescription", "Starts Marrowbank when a fingerprint disk is plugged in"},
      {"OriginalFilename", "MarrowbankServer.exe"},
      {"InternalName", "MarrowbankServer"},
  };
  for (const auto& expected : kStrings) EXPECT_EQ(StringValue(data, expected.name), expected.value) << expected.name;
  // No maker is named.
  EXPECT_EQ(StringValue(data, "CompanyName"), "<missing>");
}

}  // namespace
