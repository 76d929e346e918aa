// The process's one view of the attached disks of the family: walks the fingerprint-device SDK's
// device list, keeps the records whose identifiers belong to the family, and answers the encryption
// state of the current device.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// From device/fp_sdk.h.
enum _accessory_type : int32_t;
struct _deviceRecord;

struct DeviceEntry {
  int32_t index;
  char devicePath[64];
};

// The caller creates the list and owns it with every entry appended to it.
using DeviceList = std::vector<std::unique_ptr<DeviceEntry>>;

// -1, 1, 2 or 3.
using EncryptionState = int32_t;

class DeviceManager {
 public:
  // The one manager, created (and the bridge SDK bound) on the first call, from whichever thread.
  static DeviceManager& Instance();
  // Releases the bridge library and destroys the manager; registered with atexit at program start.
  static void Teardown();

  // Held by a caller for a whole sequence (one listing and the state queries that follow) so that
  // another thread's listing cannot change the current device in between. Every operation below
  // also takes it itself, so a single call is safe without it.
  std::unique_lock<std::recursive_mutex> Hold();

  int32_t EnumerateDevices();
  int32_t ListDevices(DeviceList& list);
  EncryptionState QueryEncryptionState(int32_t index);

  HMODULE bridgeModule = nullptr;
  int32_t deviceCount = 0;
  char modelId[64] = {};
  char vendorId[64] = {};
  char currentPath[64] = {};
  char lastMatchedPath[64] = {};

 private:
  DeviceManager() = default;
  bool MatchRecord(_accessory_type accessory, const _deviceRecord& record);

  // Whether bridgeModule holds a reference the binding took, so that teardown frees only that.
  bool ownsBridge_ = false;
  std::recursive_mutex mutex_;
};

// 4 when the identifier is in the model set, -1 otherwise.
int ClassifyModelId(const char* identifier);
// 1 when the identifier is in the vendor set, 0 otherwise.
int IsKnownVendorId(const char* identifier);
