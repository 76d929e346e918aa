// The bridge binding against stand-in libraries: the complete one and variants lacking one entry.
// No JMUsbDll.dll ships beside this test; each test puts the one it needs there itself.
#include "device/bridge_api.h"

#include <windows.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "device/device_manager.h"
#include "platform/syscalls.h"
#include "tests/support/test_support.h"

namespace {

std::string Variant(const std::string& name) { return test_support::OwnDirectory() + "variants\\" + name + "\\JMUsbDll.dll"; }
std::string Beside() { return test_support::OwnDirectory() + "JMUsbDll.dll"; }

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceManager::Teardown();
    BridgeApi::Table().Clear();
    DeleteFileA(Beside().c_str());
    ASSERT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);
  }
  void TearDown() override {
    DeviceManager::Teardown();
    DeleteFileA(Beside().c_str());
  }
  static void PutBeside(const std::string& variant) {
    ASSERT_TRUE(CopyFileA(Variant(variant).c_str(), Beside().c_str(), FALSE)) << Variant(variant);
  }
};

TEST_F(BridgeTest, LoadsFromTheExecutableDirectoryAndResolvesEveryEntry) {
  PutBeside("complete");
  bool loadedHere = false;
  HMODULE module = BridgeApi::Bind(&loadedHere);
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(loadedHere);
  EXPECT_EQ(lstrcmpiA(test_support::ModulePath(module).c_str(), Beside().c_str()), 0);
  for (int i = 0; i < BridgeApi::kEntryCount; ++i) {
    SCOPED_TRACE(BridgeApi::kEntryNames[i]);
    EXPECT_NE(BridgeApi::Table().entries[i], nullptr);
    EXPECT_EQ(BridgeApi::Table().entries[i], GetProcAddress(module, BridgeApi::kEntryNames[i]));
  }
  EXPECT_EQ(BridgeApi::Table().Entry("AP_FwUpdate"), GetProcAddress(module, "AP_FwUpdate"));
  FreeLibrary(module);
  EXPECT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);
}

// A copy reachable through the DLL search path (DLL directory, current directory, PATH) is never
// loaded: only the executable's own directory counts.
TEST_F(BridgeTest, MissingLibraryIsNotLookedForOnTheSearchPath) {
  std::string dir = Variant("complete");
  dir.resize(dir.rfind('\\'));
  char savedDir[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, savedDir);
  char savedPath[32767];
  GetEnvironmentVariableA("PATH", savedPath, sizeof savedPath);
  ASSERT_TRUE(SetDllDirectoryA(dir.c_str()));
  ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
  SetEnvironmentVariableA("PATH", (dir + ";" + savedPath).c_str());

  HMODULE searched = LoadLibraryA("JMUsbDll.dll");  // what a search would have found
  EXPECT_NE(searched, nullptr);
  if (searched != nullptr) FreeLibrary(searched);

  bool loadedHere = true;
  EXPECT_EQ(BridgeApi::Bind(&loadedHere), nullptr);
  EXPECT_FALSE(loadedHere);
  EXPECT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);
  // The manager is created all the same.
  EXPECT_EQ(DeviceManager::Instance().BridgeModule(), nullptr);

  SetDllDirectoryA(nullptr);
  SetCurrentDirectoryA(savedDir);
  SetEnvironmentVariableA("PATH", savedPath);
}

// Groups are resolved in order and the first incomplete one ends the binding: its own entries are
// all looked up, later slots stay null. Where each entry sits and where its group ends are written
// out here, so a moved group boundary fails.
TEST_F(BridgeTest, MissingEntryFailsAtItsGroup) {
  struct Case {
    const char* missing;
    int index;     // its place in lookup order
    int groupEnd;  // one past the last entry of its group
  };
  const Case cases[] = {{"GetDriveList", 0, 2},
                        {"AP_ChangePwd", 20, 21},
                        {"AP_WriteLicense", 21, 23},
                        {"AP_GetFingerprintStatus_VendorEx", 39, 40}};
  for (const Case& c : cases) {
    const char* missing = c.missing;
    SCOPED_TRACE(missing);
    ASSERT_STREQ(BridgeApi::kEntryNames[c.index], missing);
    BridgeApi::Table().Clear();
    // Already loaded, so the binding takes no reference and the slots it filled stay to be seen.
    HMODULE module = LoadLibraryA(Variant(std::string("without_") + missing).c_str());
    ASSERT_NE(module, nullptr);
    bool loadedHere = true;
    EXPECT_EQ(BridgeApi::Bind(&loadedHere), nullptr);
    EXPECT_FALSE(loadedHere);

    for (int i = 0; i < BridgeApi::kEntryCount; ++i) {
      SCOPED_TRACE(BridgeApi::kEntryNames[i]);
      const bool resolved = i < c.groupEnd && i != c.index;
      EXPECT_EQ(BridgeApi::Table().entries[i] != nullptr, resolved);
    }
    EXPECT_EQ(GetModuleHandleA("JMUsbDll"), module);  // not the binding's to release
    FreeLibrary(module);
    ASSERT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);
  }
}

// The executable's directory ends where the file system's does: in code page 936 "\x81\x5c" is one
// character of the executable's name, not a separator.
std::string g_loadedPath;
DWORD WINAPI DoubleByteModulePath(HMODULE, LPWSTR buffer, DWORD size) {
  return test_support::WideModulePath("C:\\Program Files\\Bridge\\Server\x81\x5c.exe", buffer, size);
}
HMODULE WINAPI RecordLoad(LPCSTR path, HANDLE, DWORD) {
  g_loadedPath = path;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

TEST_F(BridgeTest, LibraryPathKeepsADoubleByteCharacterWhole) {
  ASSERT_EQ(GetACP(), 936u);
  sys::ScopedCall<decltype(&::GetModuleFileNameW)> path(sys::calls().GetModuleFileNameW, DoubleByteModulePath);
  sys::ScopedCall<decltype(&::LoadLibraryExA)> load(sys::calls().LoadLibraryExA, RecordLoad);
  EXPECT_EQ(BridgeApi::Bind(), nullptr);
  EXPECT_EQ(g_loadedPath, "C:\\Program Files\\Bridge\\JMUsbDll.dll");
}

// The library is loaded so that its own dependencies are searched for beside it and in the system
// folder only, where the system knows the flags for that (it has SetDefaultDllDirectories); without
// them, the search that starts in the library's folder.
DWORD g_loadFlags = 0;
HMODULE WINAPI RecordFlags(LPCSTR path, HANDLE file, DWORD flags) {
  g_loadFlags = flags;
  return sys::realCalls().LoadLibraryExA(path, file, flags);
}
FARPROC WINAPI WithoutSetDefaultDllDirectories(HMODULE module, LPCSTR name) {
  if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && std::strcmp(name, "SetDefaultDllDirectories") == 0) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return sys::realCalls().GetProcAddress(module, name);
}

TEST_F(BridgeTest, DependenciesAreSearchedBesideTheLibraryAndInTheSystemFolder) {
  PutBeside("complete");
  const struct {
    const char* name;
    bool hasSetDefaultDllDirectories;
    DWORD flags;
  } cases[] = {{"Windows 8, or 7 with KB2533623", true, 0x900},  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | _SYSTEM32
               {"Windows 7 without the update", false, 0x8}};   // LOAD_WITH_ALTERED_SEARCH_PATH
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_loadFlags = 0;
    sys::ScopedCall<decltype(&::LoadLibraryExA)> load(sys::calls().LoadLibraryExA, RecordFlags);
    sys::ScopedCall<decltype(&::GetProcAddress)> lookup(
        sys::calls().GetProcAddress,
        c.hasSetDefaultDllDirectories ? sys::realCalls().GetProcAddress : WithoutSetDefaultDllDirectories);
    bool loadedHere = false;
    HMODULE module = BridgeApi::Bind(&loadedHere);
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(loadedHere);
    EXPECT_EQ(g_loadFlags, c.flags);
    EXPECT_NE(BridgeApi::Table().Entry("AP_FwUpdate"), nullptr);
    BridgeApi::Table().Clear();
    FreeLibrary(module);
    ASSERT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);
  }
}

// A library the failed binding loaded itself is released again and no slot points into it.
TEST_F(BridgeTest, FailedBindingReleasesTheLibraryItLoaded) {
  PutBeside("without_AP_ChangePwd");
  EXPECT_EQ(BridgeApi::Bind(), nullptr);
  EXPECT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);
  for (int i = 0; i < BridgeApi::kEntryCount; ++i) EXPECT_EQ(BridgeApi::Table().entries[i], nullptr) << i;
}

// Teardown releases the library only when the binding loaded it.
TEST_F(BridgeTest, TeardownReleasesOnlyWhatTheBindingLoaded) {
  PutBeside("complete");
  ASSERT_NE(DeviceManager::Instance().BridgeModule(), nullptr);
  DeviceManager::Teardown();
  EXPECT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);

  HMODULE ours = LoadLibraryA(Variant("complete").c_str());
  ASSERT_NE(ours, nullptr);
  EXPECT_EQ(DeviceManager::Instance().BridgeModule(), ours);
  DeviceManager::Teardown();
  EXPECT_EQ(GetModuleHandleA("JMUsbDll"), ours);
  FreeLibrary(ours);
  EXPECT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);
}

}  // namespace
