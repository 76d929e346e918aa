#include "device/bridge_api.h"

#include <cstring>

#include "platform/dll_search.h"
#include "platform/path_scan.h"
#include "platform/syscalls.h"

const char* const BridgeApi::kEntryNames[BridgeApi::kEntryCount] = {
    "GetDriveList", "GetUsbIdList",                                             // 1
    "JMChipRst", "JMChipRstEx",                                                 // 2
    "JMGetDiskLetter", "JMGetDiskLetterEx", "JMGetUsbId",                       // 3
    "JMGetVolumeName",                                                          // 4
    "JMSafeRemove", "JMSafeRemoveEx",                                           // 5
    "AP_Login", "AP_SetPwd", "AP_GetSecurityStatus", "AP_EraseSecurityInfo",    // 6
    "AP_EraseSecurityInfoSafeMode", "AP_CreateHandle", "AP_WriteCustomData",
    "AP_WriteCustomData_New", "AP_ReadCustomData", "AP_ReadCustomData_New", "AP_ChangePwd",
    "AP_WriteLicense", "AP_ReadLicense",                                        // 7
    "AP_SendFingerprint", "AP_ReceiveFingerprint",                              // 8
    "AP_GetDiskSize", "AP_ModifyPartition",                                     // 9
    "AP_FormatDisk", "AP_DiskPartition", "AP_PartitionSize36M",                 // 10
    "AP_CheckArea",                                                             // 11
    "AP_GetProductInfo",                                                        // 12
    "AP_ChangeLunNumber", "AP_FingerPrintPowerControl",                         // 13
    "AP_FingerPrintFunctControl",                                               // 14
    "AP_GetFwVersion",                                                          // 15
    "AP_FwUpdate",                                                              // 16
    "AP_CheckLoadBinFileMatch",                                                 // 17
    "AP_GetFingerprintStatus_SetupEx", "AP_GetFingerprintStatus_VendorEx",      // 18
};

namespace {

constexpr int SumGroups(int i = 0) {
  return i == BridgeApi::kGroupCount ? 0 : BridgeApi::kGroupSizes[i] + SumGroups(i + 1);
}

BridgeApi g_table{};

}  // namespace

BridgeApi& BridgeApi::Table() { return g_table; }

void BridgeApi::Clear() {
  for (FARPROC& e : entries) e = nullptr;
}

FARPROC BridgeApi::Entry(const char* name) const {
  for (int i = 0; i < kEntryCount; ++i) {
    if (std::strcmp(kEntryNames[i], name) == 0) return entries[i];
  }
  return nullptr;
}

HMODULE BridgeApi::Bind(bool* loadedHere) {
  static_assert(SumGroups() == kEntryCount, "groups cover every entry");
  if (loadedHere != nullptr) *loadedHere = false;

  bool loaded = false;
  HMODULE module = sys::calls().GetModuleHandleA("JMUsbDll");
  if (module == nullptr) {
    char path[MAX_PATH];
    if (!PathBesideExecutable(BridgeApi::kLibraryName, path, MAX_PATH)) return nullptr;
    // The SDK's own dependencies are looked for beside it and in the system folder only, where the
    // system can restrict the search; elsewhere the altered search order at least starts beside it.
    module = sys::calls().LoadLibraryExA(path, nullptr, FullPathLoadFlags());
    if (module == nullptr) return nullptr;
    loaded = true;
  }

  BridgeApi& table = Table();
  int next = 0;
  for (int group = 0; group < kGroupCount; ++group) {
    bool complete = true;
    for (int k = 0; k < kGroupSizes[group]; ++k, ++next) {
      table.entries[next] = sys::calls().GetProcAddress(module, kEntryNames[next]);
      if (table.entries[next] == nullptr) complete = false;
    }
    if (!complete) {
      if (loaded) {
        table.Clear();
        sys::calls().FreeLibrary(module);
      }
      return nullptr;
    }
  }
  if (loadedHere != nullptr) *loadedHere = loaded;
  return module;
}
