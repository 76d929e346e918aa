// The library search at process start, in a binary of its own: the restriction lasts for the life
// of the process. A library reachable only through the current directory or PATH is not found;
// one beside the executable is.
#include "platform/dll_search.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(DllSearch, OnlyTheSystemAndTheExecutablesFolderAreSearched) {
  const std::string elsewhere = test_support::OwnDirectory() + "elsewhere";
  ::CreateDirectoryA(elsewhere.c_str(), nullptr);
  ASSERT_TRUE(::CopyFileA((test_support::OwnDirectory() + "JMUsbDll.dll").c_str(),
                          (elsewhere + "\\searched.dll").c_str(), FALSE));
  ASSERT_TRUE(::SetCurrentDirectoryA(elsewhere.c_str()));
  ASSERT_TRUE(::SetEnvironmentVariableA("PATH", elsewhere.c_str()));

  // Before: what a plain search finds.
  HMODULE before = ::LoadLibraryA("searched.dll");
  ASSERT_NE(before, nullptr);
  ::FreeLibrary(before);
  ASSERT_EQ(::GetModuleHandleA("searched.dll"), nullptr);

  ASSERT_TRUE(RestrictDllSearch()) << ::GetLastError();
  EXPECT_EQ(::LoadLibraryA("searched.dll"), nullptr);
  HMODULE beside = ::LoadLibraryA("JMUsbDll.dll");
  EXPECT_NE(beside, nullptr);
  if (beside != nullptr) ::FreeLibrary(beside);
}

}  // namespace
