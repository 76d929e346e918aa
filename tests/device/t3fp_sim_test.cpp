// The simulator answers at the SDK's exact offsets and records what it is asked; both the tests of
// the device manager and the service demonstration rely on that.
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/fp_sdk.h"
#include "standins/t3fp_sim/t3fp_sim_control.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> Calls() {
  std::vector<std::string> out;
  for (int i = 0; i < SimCallCount(); ++i) out.emplace_back(SimCallText(i));
  return out;
}

class SimTest : public ::testing::Test {
 protected:
  void TearDown() override { SimReset(); }
  void Load(const std::string& text) { ASSERT_EQ(SimLoadScenario(text.c_str()), 1) << SimLastError(); }
};

const std::string k64P(64, 'P');

TEST_F(SimTest, FillsConnectRecordAtItsOffsets) {
  Load("position\n"
       "  accessory 12\n"
       "  count 5\n"
       "  record\n    kind 2\n    info i0\n    path p0\n"
       "  record\n    kind 7\n    path p1\n"
       "  record\n    path " + k64P + "\n"
       "  record\n    path never-written\n"
       "position\n  fail\n");
  EXPECT_EQ(vsRefreshDeviceList(), 2);

  unsigned char raw[2038 + 16];
  std::memset(raw, 0, sizeof raw);
  std::memset(raw + 2038, 0xCD, 16);
  ASSERT_EQ(vsGetADeviceFromDeviceList(0, reinterpret_cast<_deviceConnectInfo*>(raw)), 1);
  int32_t value;
  std::memcpy(&value, raw, 4);
  EXPECT_EQ(value, 12);
  EXPECT_EQ(static_cast<signed char>(raw[297]), 5);
  std::memcpy(&value, raw + 298, 4);
  EXPECT_EQ(value, 2);
  EXPECT_STREQ(reinterpret_cast<char*>(raw + 298 + 260), "i0");
  EXPECT_STREQ(reinterpret_cast<char*>(raw + 298 + 516), "p0");
  std::memcpy(&value, raw + 298 + 580, 4);
  EXPECT_EQ(value, 7);
  EXPECT_STREQ(reinterpret_cast<char*>(raw + 298 + 580 + 516), "p1");
  // The third path fills its field to the last byte of the record, with no terminator, and the
  // fourth record has nowhere to go.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw + 298 + 2 * 580 + 516), 64), k64P);
  for (int i = 2038; i < 2038 + 16; ++i) EXPECT_EQ(raw[i], 0xCD) << i;

  _deviceConnectInfo untouched{};
  EXPECT_EQ(vsGetADeviceFromDeviceList(1, &untouched), 0);  // fail
  EXPECT_EQ(vsGetADeviceFromDeviceList(2, &untouched), 0);  // no such position
  EXPECT_EQ(vsGetADeviceFromDeviceList(-1, &untouched), 0);
  EXPECT_EQ(untouched.recordCount, 0);
}

TEST_F(SimTest, FillsInformationRecordsAtTheirOffsets) {
  Load("refresh -4\n"
       "position\n  record\n    info i0\n    path p0\n"
       "    base.model \"QZ \"\n    base.vendor Hoptrel\n"
       "    info.model NOVRA\n    info.vendor Marrowba\n    value 259\n"
       "  record\n    info i1\n    path p1\n    nobase\n    noinfo\n");
  EXPECT_EQ(vsRefreshDeviceList(), -4);

  unsigned char base[192];
  std::memset(base, 0xAA, sizeof base);
  ASSERT_EQ(vsGetDeviceBaseInfo("p0", reinterpret_cast<_device_base_infomation*>(base)), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(base), 4), std::string("QZ \0", 4));
  EXPECT_STREQ(reinterpret_cast<char*>(base + 64), "Hoptrel");
  EXPECT_EQ(base[128], 0xAA);  // past the two identifiers nothing is written

  unsigned char info[280];
  std::memset(info, 0, sizeof info);
  ASSERT_EQ(vsGetDevicInfo("i0", reinterpret_cast<_device_infomation*>(info)), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(info + 72), "NOVRA");
  EXPECT_STREQ(reinterpret_cast<char*>(info + 136), "Marrowba");
  int32_t value;
  std::memcpy(&value, info + 272, 4);
  EXPECT_EQ(value, 259);

  // Refused and unknown paths write nothing.
  for (const char* path : {"p1", "nope"}) {
    SCOPED_TRACE(path);
    _device_base_infomation b;
    std::memset(&b, 0x5A, sizeof b);
    EXPECT_EQ(vsGetDeviceBaseInfo(path, &b), 0);
    EXPECT_EQ(static_cast<unsigned char>(b.vendorId[0]), 0x5A);
  }
  _device_infomation i;
  std::memset(&i, 0x5A, sizeof i);
  EXPECT_EQ(vsGetDevicInfo("i1", &i), 0);
  EXPECT_EQ(i.value272, 0x5A5A5A5A);
}

TEST_F(SimTest, AnswersStateAndRecordsEveryCallWithItsArguments) {
  Load("position\n  record\n    path a\n    state 1\n"
       "  record\n    path b\n    state -1\n"
       "  record\n    path c\n    state none\n");
  struct Case {
    const char* path;
    signed char preset;
    int result;
    signed char after;
  } cases[] = {{"a", 0, 1, 1}, {"b", 0, 1, -1}, {"c", 9, 0, 9}, {"gone", 0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    signed char state = c.preset;
    EXPECT_EQ(vsGetEncryptState(c.path, state), c.result);
    EXPECT_EQ(state, c.after);
  }
  char path[] = "a";
  uint16_t zero = 0;
  vsInitFP(static_cast<_accessory_type>(5), path, static_cast<way_crypt>(2), static_cast<sdk_work_mode>(0));
  vsConfigureDevice("a", _configerDevice{4, &zero});
  vsConfigureDevice("a", _configerDevice{4, nullptr});
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "vsGetEncryptState(\"a\", 0)", "vsGetEncryptState(\"b\", 0)",
                         "vsGetEncryptState(\"c\", 9)", "vsGetEncryptState(\"gone\", 0)",
                         "vsInitFP(5, \"a\", 2, 0)", "vsConfigureDevice(\"a\", 4, 0)",
                         "vsConfigureDevice(\"a\", 4, null)"}));
}

TEST_F(SimTest, RejectsMalformedScenarios) {
  const char* bad[] = {"accessory 3\n",          "position\nkind 2\n",    "position\ncount 200\n",
                       "position\nrecord\nstate x\n", "refresh\n",      "position\nrecord\nbogus 1\n",
                       "position\nrecord\npath \"p\n", "block vsInitFP\n", "block vsInitFP -1\n",
                       "block vsFormat 10\n"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    EXPECT_EQ(SimLoadScenario(text), 0);
    EXPECT_STRNE(SimLastError(), "");
    EXPECT_EQ(vsRefreshDeviceList(), 0);  // a rejected scenario has no devices
  }
}

// A blocked call answers first, records that it blocks, then returns (here after 0 ms); other calls
// are not blocked.
TEST_F(SimTest, BlockedCallAnswersAndRecordsTheBlock) {
  Load("block vsRefreshDeviceList 0\nblock vsGetEncryptState 0\nposition\n  record\n    path p0\n    state 2\n");
  EXPECT_EQ(vsRefreshDeviceList(), 1);
  _deviceConnectInfo info{};
  EXPECT_EQ(vsGetADeviceFromDeviceList(0, &info), 1);
  signed char state = 0;
  EXPECT_EQ(vsGetEncryptState("p0", state), 1);
  EXPECT_EQ(state, 2);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"vsRefreshDeviceList()", "vsRefreshDeviceList blocks 0 ms",
                                               "vsGetADeviceFromDeviceList(0)", "vsGetEncryptState(\"p0\", 0)",
                                               "vsGetEncryptState blocks 0 ms"}));
}

// Without a scenario from the control API the simulator reads its file beside the DLL at every
// refresh and logs to a file there: how another process (the service) is driven.
TEST_F(SimTest, FileModeReadsScenarioAtEveryRefreshAndLogsCalls) {
  const std::string scenario = test_support::OwnDirectory() + "t3fp-scenario.txt";
  const std::string log = test_support::OwnDirectory() + "t3fp-calls.log";
  DeleteFileA(scenario.c_str());
  DeleteFileA(log.c_str());
  SimReset();

  EXPECT_EQ(vsRefreshDeviceList(), 0);  // no file, no devices
  std::ofstream(scenario) << "position\n  record\n    path p0\n    state 2\n";
  EXPECT_EQ(vsRefreshDeviceList(), 1);
  signed char state = 0;
  vsGetEncryptState("p0", state);
  EXPECT_EQ(state, 2);
  ASSERT_TRUE(DeleteFileA(scenario.c_str()));
  EXPECT_EQ(vsRefreshDeviceList(), 0);  // unplugged

  std::ostringstream text;
  text << std::ifstream(log, std::ios::binary).rdbuf();
  EXPECT_EQ(text.str(),
            "vsRefreshDeviceList()\r\nvsRefreshDeviceList()\r\nvsGetEncryptState(\"p0\", 0)\r\n"
            "vsRefreshDeviceList()\r\n");
  DeleteFileA(log.c_str());
}

}  // namespace
