// The device manager against the SDK simulator in the same process.
#include "device/device_manager.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "platform/syscalls.h"
#include "standins/t3fp_sim/t3fp_sim_control.h"

namespace {

constexpr EncryptionState kUnknown = EncryptionState::kUnknown;
constexpr EncryptionState kPlain = EncryptionState::kPlain;
constexpr EncryptionState kOther = EncryptionState::kOther;
constexpr EncryptionState kStartsOnArrival = EncryptionState::kStartsOnArrival;

std::vector<std::string> Calls() {
  std::vector<std::string> out;
  for (int i = 0; i < SimCallCount(); ++i) out.emplace_back(SimCallText(i));
  return out;
}

int CountCalls(const std::string& prefix) {
  int n = 0;
  for (const std::string& call : Calls()) n += call.compare(0, prefix.size(), prefix) == 0;
  return n;
}

std::vector<std::string> Paths(const DeviceList& list) {
  std::vector<std::string> out;
  for (const auto& entry : list) {
    EXPECT_EQ(entry->index, 0);
    EXPECT_NE(std::memchr(entry->devicePath, '\0', sizeof entry->devicePath), nullptr);
    out.emplace_back(entry->devicePath);
  }
  return out;
}

// One disk of the family that passes every test of the model-set branch.
std::string Disk(const std::string& path, const std::string& extra = "state 1\n") {
  return "position\n  accessory 12\n  record\n    kind 2\n    path " + path + "\n    info i" + path +
         "\n    base.model TAVRO211\n    base.vendor Marrowba\n" + extra;
}

class DeviceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { DeviceManager::Teardown(); }
  void TearDown() override {
    DeviceManager::Teardown();
    SimReset();
  }
  void Load(const std::string& text) { ASSERT_EQ(SimLoadScenario(text.c_str()), 1) << SimLastError(); }
  DeviceManager& Manager() { return DeviceManager::Instance(); }
};

// One record per case: what matches, which SDK calls it costs, and the state a query then answers.
struct RecordCase {
  const char* name;
  int accessory;
  int kind;
  const char* lines;  // identifiers and the information record
  int matched;
  int configures;
  int infoFetches;
  EncryptionState state;
  int stateQueries;
};

const RecordCase kRecordCases[] = {
    // "QZ" is in the model set: it takes the model-set branch, and its state comes from the SDK.
    {"t3harbor QZ", 5, 2, "base.model QZ\nbase.vendor t3harbor\nvalue 1\n", 1, 1, 1, kStartsOnArrival, 1},
    {"vendor only", 5, 2, "base.model ABC\nbase.vendor t3harbor\n", 1, 0, 0, kPlain, 0},
    {"accessory 12, value 0", 12, 2, "base.model TAVRO211\nbase.vendor Marrowba\nvalue 0\n", 1, 1, 0, kStartsOnArrival, 1},
    {"accessory 12, value 3", 12, 2, "base.model TAVRO211\nbase.vendor Marrowba\nvalue 3\n", 1, 1, 0, kStartsOnArrival, 1},
    {"accessory 0", 0, 2, "base.model TAVRO211\nbase.vendor Marrowba\nvalue 1\n", 0, 0, 0, kUnknown, 0},
    {"info ids, value 3", 5, 2, "info.model NOVRA\ninfo.vendor Marrowba\nvalue 3\n", 0, 1, 1, kUnknown, 0},
    {"info ids, value 0", 5, 2, "info.model NOVRA\ninfo.vendor Marrowba\nvalue 0\n", 0, 1, 1, kUnknown, 0},
    {"info ids, value 1", 5, 2, "info.model NOVRA\ninfo.vendor Marrowba\nvalue 1\n", 1, 1, 1, kStartsOnArrival, 1},
    {"info ids, kind 1", 5, 1, "info.model NOVRA\ninfo.vendor Marrowba\nvalue 1\n", 0, 1, 1, kUnknown, 0},
    {"vendor case", 12, 2, "base.model TAVRO211\nbase.vendor marrowba\n", 0, 0, 0, kUnknown, 0},
    {"model case", 12, 2, "base.model tavro211\nbase.vendor Marrowba\n", 1, 0, 0, kPlain, 0},
    {"vendor prefix", 12, 2, "base.model TAVRO211\nbase.vendor GIRRO2\n", 0, 0, 0, kUnknown, 0},
    {"short member", 5, 2, "base.model NOVRA\nbase.vendor NOVRA\nvalue 1\n", 1, 1, 1, kStartsOnArrival, 1},
    {"DISK in model", 12, 2, "base.model XDISK9\nbase.vendor junk\ninfo.model TAVRO211\ninfo.vendor Marrowba\n",
     1, 1, 1, kStartsOnArrival, 1},
    {"Disk in model", 12, 2, "base.model XDisk9\nbase.vendor junk\ninfo.model TAVRO211\ninfo.vendor Marrowba\n",
     0, 0, 0, kUnknown, 0},
    {"empty vendor, then DISK", 5, 2, "info.model MDISK\ninfo.vendor Hoptrel\n", 1, 0, 2, kPlain, 0},
    // Only the model now taken counts: a base model holding "DISK" is gone once the vendor was empty.
    {"empty vendor, base DISK", 5, 2, "base.model XDISK\ninfo.model QZ\ninfo.vendor Hoptrel\nvalue 1\n",
     1, 1, 1, kStartsOnArrival, 1},
    // The value is the record's own even when the identifiers came from the base information.
    {"own value 1", 5, 2, "base.model NOVRA\nbase.vendor Marrowba\nvalue 1\n", 1, 1, 1, kStartsOnArrival, 1},
    {"own value 3", 5, 2, "base.model NOVRA\nbase.vendor Marrowba\nvalue 3\n", 0, 1, 1, kUnknown, 0},
    {"blank-only vendor", 5, 2, "base.model ABC\nbase.vendor \"   \"\ninfo.model QZ\ninfo.vendor Hoptrel\nvalue 1\n",
     1, 1, 1, kStartsOnArrival, 1},
    {"trailing blanks", 12, 2, "base.model \"QZ \"\nbase.vendor \"Hoptrel  \"\n", 1, 1, 0, kStartsOnArrival, 1},
    {"leading blank", 12, 2, "base.model QZ\nbase.vendor \" Hoptrel\"\n", 0, 0, 0, kUnknown, 0},
    {"inner blank", 12, 2, "base.model QZ\nbase.vendor \"Hop trel\"\n", 0, 0, 0, kUnknown, 0},
    // A model that fills its field runs straight into the vendor; read bounded it is "QZ" and blanks.
    {"unterminated model", 12, 2,
     "base.model \"QZ                                                              \"\nbase.vendor Hoptrel\n",
     1, 1, 0, kStartsOnArrival, 1},
};

TEST_F(DeviceManagerTest, ClassifiesOneRecord) {
  for (const RecordCase& c : kRecordCases) {
    SCOPED_TRACE(c.name);
    DeviceManager::Teardown();
    Load("position\n  accessory " + std::to_string(c.accessory) + "\n  record\n    kind " +
         std::to_string(c.kind) + "\n    path p0\n    info i0\n    state 1\n" + c.lines);
    DeviceList list;
    EXPECT_EQ(Manager().ListDevices(list), c.matched);
    EXPECT_EQ(Paths(list), std::vector<std::string>(c.matched, "p0"));
    EXPECT_EQ(Manager().DeviceCount(), c.matched);
    EXPECT_EQ(CountCalls("vsInitFP("), 1);
    EXPECT_EQ(CountCalls("vsInitFP(" + std::to_string(c.accessory) + ", \"p0\", 2, 0)"), 1);
    EXPECT_EQ(CountCalls("vsConfigureDevice(\"p0\", 4, 0)"), c.configures);
    EXPECT_EQ(CountCalls("vsConfigureDevice("), c.configures);
    EXPECT_EQ(CountCalls("vsGetDevicInfo(\"i0\")"), c.infoFetches);
    EXPECT_EQ(Manager().QueryEncryptionState(0), c.state);
    EXPECT_EQ(CountCalls("vsGetEncryptState(\"p0\", 0)"), c.stateQueries);
    EXPECT_EQ(CountCalls("vsGetEncryptState("), c.stateQueries);
  }
}

TEST_F(DeviceManagerTest, CallsTheSdkInOrder) {
  Load("position\n  accessory 5\n  record\n    kind 2\n    path p0\n    info i0\n"
       "    base.model NOVRA\n    base.vendor Marrowba\n    value 1\n    state 1\n");
  DeviceList list;
  EXPECT_EQ(Manager().ListDevices(list), 1);
  EXPECT_EQ(Manager().QueryEncryptionState(0), kStartsOnArrival);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "vsRefreshDeviceList()", "vsGetADeviceFromDeviceList(0)",
                         "vsInitFP(5, \"p0\", 2, 0)", "vsGetDeviceBaseInfo(\"p0\")",
                         "vsConfigureDevice(\"p0\", 4, 0)", "vsGetDevicInfo(\"i0\")",
                         "vsGetEncryptState(\"p0\", 0)"}));
}

TEST_F(DeviceManagerTest, MapsTheSdkState) {
  struct Case {
    const char* sdk;
    EncryptionState expected;
  } cases[] = {{"0", kPlain},     {"1", kStartsOnArrival}, {"2", kOther},    {"3", kOther},
               {"7", kUnknown},   {"-1", kUnknown},        {"-128", kUnknown}, {"none", kPlain}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sdk);
    Load(Disk("p0", std::string("state ") + c.sdk + "\n"));
    DeviceList list;
    ASSERT_EQ(Manager().ListDevices(list), 1);
    EXPECT_EQ(Manager().QueryEncryptionState(0), c.expected);
  }
}

TEST_F(DeviceManagerTest, FreshManagerAnswersUnknownWithoutAskingTheSdk) {
  Load(Disk("p0"));
  EXPECT_EQ(Manager().QueryEncryptionState(0), kUnknown);
  EXPECT_EQ(SimCallCount(), 0);
}

TEST_F(DeviceManagerTest, ListingWithoutMatchEmptiesTheListAndKeepsIdentity) {
  struct Case {
    const char* name;
    std::string scenario;
  } cases[] = {
      {"refresh 0", "refresh 0\n" + Disk("p1")},
      {"refresh -1", "refresh -1\n" + Disk("p1")},
      {"position fails", Disk("p1") + "fail\n"},
      {"record count 0", Disk("p1") + "count 0\n"},
      {"record count -3", Disk("p1") + "count -3\n"},
      {"nothing matches", "position\n  accessory 12\n  record\n    path p1\n    base.vendor nobody\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceManager::Teardown();
    Load(Disk("p0"));
    DeviceList list;
    ASSERT_EQ(Manager().ListDevices(list), 1);
    Load(c.scenario);
    EXPECT_EQ(Manager().ListDevices(list), 0);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(Manager().DeviceCount(), 0);
    EXPECT_STREQ(Manager().CurrentPath(), "p0");
    EXPECT_STREQ(Manager().LastMatchedPath(), "p0");
    EXPECT_STREQ(Manager().VendorId(), "Marrowba");
  }
}

// Positions that fail are passed over; the identity is that of the last matched record; entries
// already in the list stay first.
TEST_F(DeviceManagerTest, CountsMatchedRecordsAcrossPositions) {
  Load("position\n  fail\n" + Disk("A") + "  record\n    kind 2\n    path B\n    base.model QZ\n"
       "    base.vendor Hoptrel\n" + "position\n  accessory 12\n  record\n    path X\n    base.vendor nobody\n");
  DeviceList list;
  list.push_back(std::make_unique<DeviceEntry>(DeviceEntry{7, "old"}));
  EXPECT_EQ(Manager().ListDevices(list), 1);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->index, 7);
  EXPECT_STREQ(list[0]->devicePath, "old");
  list.erase(list.begin());
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"B", "B"}));
  EXPECT_EQ(Manager().DeviceCount(), 2);
  EXPECT_STREQ(Manager().ModelId(), "QZ");
  EXPECT_STREQ(Manager().VendorId(), "Hoptrel");
  EXPECT_EQ(CountCalls("vsGetADeviceFromDeviceList("), 3);
}

// After one disk is replaced by another, the state query asks about the disk now attached.
TEST_F(DeviceManagerTest, CurrentPathFollowsTheDeviceLastMatched) {
  Load(Disk("A") + "  record\n    kind 2\n    path B\n    base.model TAVRO211\n    base.vendor Marrowba\n");
  DeviceList list;
  ASSERT_EQ(Manager().ListDevices(list), 1);
  EXPECT_EQ(Paths(list), (std::vector<std::string>{"B", "B"}));
  EXPECT_STREQ(Manager().CurrentPath(), "B");

  Load("position\n  accessory 12\n  record\n    kind 2\n    path C\n    base.model QZ\n"
       "    base.vendor t3harbor\n    state 1\n");
  list.clear();
  ASSERT_EQ(Manager().ListDevices(list), 1);
  EXPECT_EQ(Paths(list), std::vector<std::string>{"C"});
  EXPECT_STREQ(Manager().CurrentPath(), "C");
  EXPECT_STREQ(Manager().ModelId(), "QZ");
  EXPECT_STREQ(Manager().VendorId(), "t3harbor");
  SimClearCalls();
  EXPECT_EQ(Manager().QueryEncryptionState(0), kStartsOnArrival);
  EXPECT_EQ(Calls(), std::vector<std::string>{"vsGetEncryptState(\"C\", 0)"});
}

TEST_F(DeviceManagerTest, ReadsOnlyTheThreeRecordsThereIsRoomFor) {
  struct Case {
    int count;
    int read;
  } cases[] = {{5, 3}, {127, 3}, {3, 3}, {2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    std::string records;
    for (const char* path : {"p0", "p1", "p2", "p3"}) {
      records += "  record\n    kind 2\n    path " + std::string(path) +
                 "\n    base.model TAVRO211\n    base.vendor Marrowba\n";
    }
    Load("position\n  accessory 12\n  count " + std::to_string(c.count) + "\n" + records);
    DeviceList list;
    EXPECT_EQ(Manager().ListDevices(list), 1);
    EXPECT_EQ(list.size(), static_cast<size_t>(c.read));
    EXPECT_EQ(CountCalls("vsInitFP("), c.read);
    EXPECT_EQ(CountCalls("vsInitFP(12, \"p"), c.read);
  }
}

// Paths that fill their field reach the SDK, the identity and the entries one character short, with
// a terminator: a device path as 63 characters, an information path as 255.
TEST_F(DeviceManagerTest, BoundsPathsThatFillTheirField) {
  const std::string q(64, 'Q'), p(64, 'P'), info(256, 'I');
  Load("position\n  accessory 12\n  record\n    kind 2\n    path " + q +
       "\n    base.model TAVRO211\n    base.vendor Marrowba\n"
       "  record\n    kind 2\n    path x\n    info " + info + "\n"
       "  record\n    kind 2\n    path " + p + "\n    base.model TAVRO211\n    base.vendor Marrowba\n"
       "    state 1\n");
  DeviceList list;
  ASSERT_EQ(Manager().ListDevices(list), 1);
  EXPECT_EQ(CountCalls("vsInitFP(12, \"" + q.substr(0, 63) + "\", 2, 0)"), 1);
  EXPECT_EQ(CountCalls("vsGetDeviceBaseInfo(\"" + p.substr(0, 63) + "\")"), 1);
  EXPECT_EQ(CountCalls("vsGetDevicInfo(\"" + info.substr(0, 255) + "\")"), 1);
  EXPECT_EQ(Paths(list), std::vector<std::string>(2, p.substr(0, 63)));
  EXPECT_EQ(std::string(Manager().LastMatchedPath()), p.substr(0, 63));
  EXPECT_EQ(Manager().QueryEncryptionState(0), kStartsOnArrival);
}

// A call that leaves its record unfilled must not show the previous record's data.
TEST_F(DeviceManagerTest, ClearsInformationRecordsBeforeEachFill) {
  Load("position\n  accessory 5\n"
       "  record\n    kind 2\n    path A\n    info iA\n    info.model NOVRA\n    info.vendor Marrowba\n"
       "    value 1\n"
       "  record\n    kind 2\n    path B\n    info iB\n    base.model NOVRA\n    base.vendor Marrowba\n"
       "    noinfo\n"
       "  record\n    kind 2\n    path C\n    info iC\n    nobase\n    noinfo\n");
  DeviceList list;
  EXPECT_EQ(Manager().ListDevices(list), 1);
  EXPECT_EQ(Paths(list), std::vector<std::string>{"A"});
  EXPECT_EQ(CountCalls("vsGetDevicInfo(\"iB\")"), 1);
  EXPECT_EQ(CountCalls("vsGetDevicInfo(\"iC\")"), 1);
}

TEST_F(DeviceManagerTest, AsksForNoMorePositionsThanAnSignedByteNames) {
  Load("refresh 300\n" + Disk("p0"));
  DeviceList list;
  EXPECT_EQ(Manager().ListDevices(list), 1);
  EXPECT_EQ(CountCalls("vsGetADeviceFromDeviceList("), 128);
  EXPECT_EQ(CountCalls("vsGetADeviceFromDeviceList(127)"), 1);
  EXPECT_EQ(CountCalls("vsGetADeviceFromDeviceList(-"), 0);
}

TEST_F(DeviceManagerTest, InstanceBindsTheBridgeOnceAndTeardownReleasesIt) {
  DeviceManager& first = Manager();
  EXPECT_EQ(&Manager(), &first);
  ASSERT_NE(first.BridgeModule(), nullptr);
  EXPECT_EQ(first.BridgeModule(), GetModuleHandleA("JMUsbDll"));
  DeviceManager::Teardown();
  EXPECT_EQ(GetModuleHandleA("JMUsbDll"), nullptr);
}

std::atomic<int> g_loads{0};
HMODULE WINAPI CountingLoad(LPCSTR path, HANDLE file, DWORD flags) {
  ++g_loads;
  return sys::realCalls().LoadLibraryExA(path, file, flags);
}

TEST_F(DeviceManagerTest, ConcurrentFirstCallsCreateOneManager) {
  sys::ScopedCall<decltype(&::LoadLibraryExA)> load(sys::calls().LoadLibraryExA, CountingLoad);
  g_loads = 0;
  std::atomic<bool> go{false};
  DeviceManager* seen[4] = {};
  std::vector<std::thread> threads;
  for (auto& slot : seen) {
    threads.emplace_back([&go, &slot] {
      while (!go) std::this_thread::yield();
      slot = &DeviceManager::Instance();
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  for (DeviceManager* m : seen) EXPECT_EQ(m, seen[0]);
  EXPECT_EQ(g_loads, 1);
}

// While one caller holds the manager for a listing and its state queries, another thread's listing
// waits, so the identity cannot change in between: the other listing comes after the state query
// in the SDK's record of calls, though it was asked for before.
TEST_F(DeviceManagerTest, HoldKeepsOtherCallersOutForAWholeSequence) {
  Load(Disk("A"));
  DeviceManager& manager = Manager();
  std::thread other;
  {
    auto hold = manager.Hold();
    DeviceList list;
    ASSERT_EQ(manager.ListDevices(list), 1);
    sys::UniqueHandle asking(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    other = std::thread([&] {
      ::SetEvent(asking.get());
      DeviceList theirs;
      manager.ListDevices(theirs);
    });
    ASSERT_EQ(::WaitForSingleObject(asking.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(manager.QueryEncryptionState(list[0]->index), kStartsOnArrival);
  }
  other.join();
  const std::vector<std::string> calls = Calls();
  const auto query = std::find(calls.begin(), calls.end(), "vsGetEncryptState(\"A\", 0)");
  ASSERT_NE(query, calls.end());
  EXPECT_EQ(std::count(calls.begin(), query, "vsRefreshDeviceList()"), 1);
  EXPECT_EQ(std::count(query, calls.end(), "vsRefreshDeviceList()"), 1);
}

}  // namespace
