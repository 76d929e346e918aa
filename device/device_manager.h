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

// What QueryEncryptionState answers for the current device.
enum class EncryptionState : int32_t {
  // Not a disk of the family, or a state the library does not name.
  kUnknown = -1,
  // The library's state 0, and every disk of the family outside the model set.
  kPlain = 1,
  // The library's states 2 and 3.
  kOther = 2,
  // The library's state 1: an arrival starts the desktop program whatever "AutoBack" says.
  kStartsOnArrival = 3,
};

// What ClassifyModelId answers.
constexpr int kModelInSet = 4;
constexpr int kModelNotInSet = -1;
// What IsKnownVendorId answers.
constexpr int kVendorKnown = 1;
constexpr int kVendorUnknown = 0;

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

  // The bridge library the binding found or loaded (null when there is none).
  HMODULE BridgeModule() const { return bridgeModule_; }
  // The devices the last listing matched.
  int32_t DeviceCount() const { return deviceCount_; }
  // The identifiers of the record last matched.
  const char* ModelId() const { return modelId_; }
  const char* VendorId() const { return vendorId_; }
  // The device the state queries ask about: the one last matched by a listing that matched any.
  const char* CurrentPath() const { return currentPath_; }
  const char* LastMatchedPath() const { return lastMatchedPath_; }

 private:
  DeviceManager() = default;
  bool MatchRecord(_accessory_type accessory, const _deviceRecord& record);

  HMODULE bridgeModule_ = nullptr;
  int32_t deviceCount_ = 0;
  char modelId_[64] = {};
  char vendorId_[64] = {};
  char currentPath_[64] = {};
  char lastMatchedPath_[64] = {};
  // Whether bridgeModule_ holds a reference the binding took, so that teardown frees only that.
  bool ownsBridge_ = false;
  std::recursive_mutex mutex_;
};

// kModelInSet when the identifier is in the model set, kModelNotInSet otherwise.
int ClassifyModelId(const char* identifier);
// kVendorKnown when the identifier is in the vendor set, kVendorUnknown otherwise.
int IsKnownVendorId(const char* identifier);
