// The fingerprint-device SDK as t3FPDll.dll exports it: seven C functions (__cdecl, undecorated
// names) and the records they fill. Layouts are the library's, byte for byte; the asserts below pin
// every offset the device manager reads.
#pragma once

#include <cstddef>
#include <cstdint>

enum _accessory_type : int32_t {};
enum way_crypt : int32_t {};
enum sdk_work_mode : int32_t {};

// The values the device manager hands to the library and reads from its records. Their meanings
// are the library's own; the names say what the manager does with each.
// vsInitFP's way of encryption and work mode for every record.
constexpr way_crypt kInitCryptWay = static_cast<way_crypt>(2);
constexpr sdk_work_mode kInitWorkMode = static_cast<sdk_work_mode>(0);
// A connect record of accessory type 0 never yields a disk of the model set; one of type 12 yields
// it without the check of the device information's value.
constexpr _accessory_type kAccessoryNone = static_cast<_accessory_type>(0);
constexpr _accessory_type kAccessoryWithoutValueCheck = static_cast<_accessory_type>(12);
// The only record kind a disk of the model set matches with.
constexpr int32_t kModelSetRecordKind = 2;
// The configure code sent to every disk of the model set, with a 16-bit argument of 0.
constexpr int32_t kConfigureCode = 4;
constexpr uint16_t kConfigureValue = 0;
// The device information's values for which a disk of the model set is not taken.
constexpr int32_t kValueNone = 0;
constexpr int32_t kValueRefused = 3;
// What vsGetEncryptState writes; anything else is no state of the library's.
constexpr signed char kSdkStatePlain = 0;
constexpr signed char kSdkStateStartsOnArrival = 1;
constexpr signed char kSdkStateOther = 2;
constexpr signed char kSdkStateOtherToo = 3;

#pragma pack(push, 1)

// One device record inside a connect record.
struct _deviceRecord {
  int32_t kind;
  uint8_t reserved0[256];
  char infoPath[256];   // handed to vsGetDevicInfo
  char devicePath[64];  // handed to every per-device call
};

// What vsGetADeviceFromDeviceList fills for one list position. The caller zeroes it first.
struct _deviceConnectInfo {
  _accessory_type accessoryType;
  uint8_t reserved0[293];
  int8_t recordCount;  // may claim more records than there is room for
  _deviceRecord records[3];
};

struct _device_base_infomation {
  char modelId[64];
  char vendorId[64];
  uint8_t reserved0[64];
};

struct _device_infomation {
  uint8_t reserved0[72];
  char modelId[64];
  char vendorId[64];
  uint8_t reserved1[72];
  int32_t value272;  // the library's own meaning; only "0 or 3" versus "anything else" matters here
  uint8_t reserved2[4];
};

#pragma pack(pop)

// Passed by value: a code, then where the library may find its 16-bit argument.
struct _configerDevice {
  int32_t code;
  uint16_t* value;
};

static_assert(sizeof(_deviceConnectInfo) == 2038, "connect record size");
static_assert(offsetof(_deviceConnectInfo, accessoryType) == 0, "accessory type offset");
static_assert(offsetof(_deviceConnectInfo, recordCount) == 297, "record count offset");
static_assert(offsetof(_deviceConnectInfo, records) == 298, "device records offset");
static_assert(sizeof(_deviceRecord) == 580, "device record size");
static_assert(offsetof(_deviceRecord, kind) == 0, "kind offset");
static_assert(offsetof(_deviceRecord, infoPath) == 260, "information path offset");
static_assert(sizeof(_deviceRecord::infoPath) == 256, "information path size");
static_assert(offsetof(_deviceRecord, devicePath) == 516, "device path offset");
static_assert(sizeof(_deviceRecord::devicePath) == 64, "device path size");
static_assert(sizeof(_device_base_infomation) == 192, "base information size");
static_assert(offsetof(_device_base_infomation, modelId) == 0, "base model offset");
static_assert(offsetof(_device_base_infomation, vendorId) == 64, "base vendor offset");
static_assert(sizeof(_device_base_infomation::modelId) == 64, "base model size");
static_assert(sizeof(_device_base_infomation::vendorId) == 64, "base vendor size");
static_assert(sizeof(_device_infomation) == 280, "device information size");
static_assert(offsetof(_device_infomation, modelId) == 72, "information model offset");
static_assert(offsetof(_device_infomation, vendorId) == 136, "information vendor offset");
static_assert(offsetof(_device_infomation, value272) == 272, "information value offset");
static_assert(sizeof(_device_infomation::modelId) == 64, "information model size");
static_assert(sizeof(_device_infomation::vendorId) == 64, "information vendor size");
// The SDK is 32-bit; a 64-bit test build passes the same record with a pointer of its own width.
static_assert(sizeof(_configerDevice) == 2 * sizeof(void*), "configure argument size");
static_assert(offsetof(_configerDevice, value) == sizeof(void*), "configure value offset");
static_assert(sizeof(_accessory_type) == 4 && sizeof(way_crypt) == 4 && sizeof(sdk_work_mode) == 4,
              "32-bit enumerations");

// The library's file name, and its seven functions as it exports them (the order of the declarations
// below).
inline constexpr char kSdkLibraryName[] = "t3FPDll.dll";
inline constexpr const char* kSdkFunctionNames[] = {"vsRefreshDeviceList", "vsGetADeviceFromDeviceList", "vsInitFP",
                                                    "vsGetDeviceBaseInfo", "vsGetDevicInfo", "vsConfigureDevice",
                                                    "vsGetEncryptState"};

extern "C" {
int __cdecl vsRefreshDeviceList(void);
unsigned char __cdecl vsGetADeviceFromDeviceList(signed char position, _deviceConnectInfo* info);
unsigned char __cdecl vsInitFP(_accessory_type accessory, char* devicePath, way_crypt crypt,
                               sdk_work_mode mode);
int __cdecl vsGetDeviceBaseInfo(const char* devicePath, _device_base_infomation* base);
int __cdecl vsGetDevicInfo(const char* infoPath, _device_infomation* info);
unsigned char __cdecl vsConfigureDevice(const char* devicePath, _configerDevice config);
// The state is a pointer at the ABI.
int __cdecl vsGetEncryptState(const char* devicePath, signed char& state);
}
