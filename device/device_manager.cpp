#include "device/device_manager.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "device/bridge_api.h"
#include "device/fp_sdk.h"
#include "platform/syscalls.h"

namespace {

// Creation happens once even when both callers arrive together. Once the manager exists, Instance()
// takes no lock, so a caller holding the manager may call it again without a lock-order inversion
// against Teardown().
std::mutex g_instanceMutex;
std::atomic<DeviceManager*> g_instance{nullptr};

// Positions are handed to the SDK as signed 8-bit values; 0..127 is all that can be named.
constexpr int kMaxPositions = 128;
constexpr int kRecordRoom = 3;

// Copies a fixed field that may fill every byte without a terminator into a terminated buffer of
// the same size, zero-padded: at most N-1 characters survive.
template <size_t N>
void CopyBounded(char (&out)[N], const char (&field)[N]) {
  size_t length = strnlen(field, N - 1);
  std::memcpy(out, field, length);
  std::memset(out + length, 0, N - length);
}

}  // namespace

DeviceManager& DeviceManager::Instance() {
  if (DeviceManager* existing = g_instance.load(std::memory_order_acquire)) return *existing;
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  DeviceManager* manager = g_instance.load(std::memory_order_relaxed);
  if (manager == nullptr) {
    manager = new DeviceManager();
    bool loadedHere = false;
    manager->bridgeModule_ = BridgeApi::Bind(&loadedHere);
    manager->ownsBridge_ = loadedHere;
    g_instance.store(manager, std::memory_order_release);
  }
  return *manager;
}

void DeviceManager::Teardown() {
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  DeviceManager* manager = g_instance.load(std::memory_order_relaxed);
  if (manager == nullptr) return;
  {
    // Let an operation in flight on another thread finish first.
    std::lock_guard<std::recursive_mutex> hold(manager->mutex_);
    // A module that was already loaded when the binding found it carries no reference of ours.
    if (manager->bridgeModule_ != nullptr && manager->ownsBridge_) {
      BridgeApi::Table().Clear();
      sys::calls().FreeLibrary(manager->bridgeModule_);
    }
    g_instance.store(nullptr, std::memory_order_release);
  }
  delete manager;
}

std::unique_lock<std::recursive_mutex> DeviceManager::Hold() {
  return std::unique_lock<std::recursive_mutex>(mutex_);
}

bool DeviceManager::MatchRecord(_accessory_type accessory, const _deviceRecord& record) {
  char devicePath[64];
  char infoPath[256];
  CopyBounded(devicePath, record.devicePath);
  CopyBounded(infoPath, record.infoPath);

  vsInitFP(accessory, devicePath, kInitCryptWay, kInitWorkMode);

  // Both records start cleared, so a call that leaves one unfilled never shows another record's data.
  _device_base_infomation base{};
  vsGetDeviceBaseInfo(devicePath, &base);
  char model[64];
  char vendor[64];
  CopyBounded(model, base.modelId);
  CopyBounded(vendor, base.vendorId);

  _device_infomation info{};
  bool haveInfo = false;
  auto fetchInfo = [&] {
    info = _device_infomation{};
    vsGetDevicInfo(infoPath, &info);
    haveInfo = true;
  };
  auto takeIdsFromInfo = [&] {
    fetchInfo();
    CopyBounded(model, info.modelId);
    CopyBounded(vendor, info.vendorId);
  };
  // Trailing blanks do not count when identifiers are compared, so a vendor of blanks alone is empty.
  if (vendor[std::strspn(vendor, " ")] == '\0') takeIdsFromInfo();
  if (std::strstr(model, "DISK") != nullptr) takeIdsFromInfo();

  if (IsKnownVendorId(vendor) != kVendorKnown) return false;
  bool matched = true;
  if (ClassifyModelId(model) == kModelInSet) {
    if (accessory == kAccessoryNone) return false;
    uint16_t value = kConfigureValue;
    vsConfigureDevice(devicePath, _configerDevice{kConfigureCode, &value});
    if (record.kind != kModelSetRecordKind) {
      matched = false;
    } else if (accessory != kAccessoryWithoutValueCheck) {
      // The value is always this record's own: fetch it when neither step above did.
      if (!haveInfo) fetchInfo();
      matched = info.value272 != kValueNone && info.value272 != kValueRefused;
    }
  }
  if (matched) {
    std::memcpy(modelId_, model, sizeof modelId_);
    std::memcpy(vendorId_, vendor, sizeof vendorId_);
    std::memcpy(lastMatchedPath_, devicePath, sizeof lastMatchedPath_);
  }
  return matched;
}

int32_t DeviceManager::EnumerateDevices() {
  auto hold = Hold();
  int32_t count = 0;
  int positions = std::min(vsRefreshDeviceList(), kMaxPositions);
  for (int i = 0; i < positions; ++i) {
    _deviceConnectInfo connect{};
    if (vsGetADeviceFromDeviceList(static_cast<signed char>(i), &connect) == 0) continue;
    // The record only has room for three device records, whatever count it claims.
    int records = std::min<int>(connect.recordCount, kRecordRoom);
    for (int r = 0; r < records; ++r) {
      if (MatchRecord(connect.accessoryType, connect.records[r])) ++count;
    }
  }
  // The current device follows the device last matched, so that a replaced disk is the one asked
  // about; a pass that matched nothing leaves it alone.
  if (count > 0) std::memcpy(currentPath_, lastMatchedPath_, sizeof currentPath_);
  return count;
}

int32_t DeviceManager::ListDevices(DeviceList& list) {
  auto hold = Hold();
  deviceCount_ = EnumerateDevices();
  if (deviceCount_ == 0) {
    list.clear();
    return 0;
  }
  for (int32_t i = 0; i < deviceCount_; ++i) {
    auto entry = std::make_unique<DeviceEntry>();
    entry->index = 0;
    std::memcpy(entry->devicePath, currentPath_, sizeof entry->devicePath);
    list.push_back(std::move(entry));
  }
  return 1;
}

EncryptionState DeviceManager::QueryEncryptionState(int32_t /*index*/) {
  auto hold = Hold();
  if (IsKnownVendorId(vendorId_) != kVendorKnown) return EncryptionState::kUnknown;
  if (ClassifyModelId(modelId_) != kModelInSet) return EncryptionState::kPlain;
  signed char state = kSdkStatePlain;
  vsGetEncryptState(currentPath_, state);
  switch (state) {
    case kSdkStatePlain:
      return EncryptionState::kPlain;
    case kSdkStateStartsOnArrival:
      return EncryptionState::kStartsOnArrival;
    case kSdkStateOther:
    case kSdkStateOtherToo:
      return EncryptionState::kOther;
    default:
      return EncryptionState::kUnknown;
  }
}
