// The launch decisions against the SDK simulator in the same process. Launches are caught at the
// process-creation call (the rest of the launcher runs for real) except where a test starts the
// stand-in program for real; "running" is always a real stand-in process.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/device_manager.h"
#include "launch/launch_decisions.h"
#include "platform/handles.h"
#include "platform/syscalls.h"
#include "standins/t3fp_sim/t3fp_sim_control.h"
#include "tests/launch/test_files.h"

namespace {

using test_support::OwnDirectory;
using launch_test::SetModeFile;
using launch_test::StandIn;

// One position with `entries` disks of the family (one list entry each), every one answering
// `sdkStates` (which the manager reads as state 1 for 0, 3 for 1, 2 for 2 and -1 for 7; several
// values answer successive queries).
std::string Disks(int entries, const std::string& sdkStates) {
  std::string text = "position\n  accessory 12\n";
  for (int i = 0; i < entries; ++i) {
    const std::string path = "disk" + std::to_string(i);
    text += "  record\n    kind 2\n    path " + path + "\n    info i" + path +
            "\n    base.model TAVRO211\n    base.vendor Marrowba\n    state " + sdkStates + "\n";
  }
  return text;
}
std::string Disks(int entries, int sdkState) { return Disks(entries, std::to_string(sdkState)); }
const char* const kNoDevices = "";

void Load(const std::string& scenario) { ASSERT_EQ(SimLoadScenario(scenario.c_str()), 1) << SimLastError(); }

int CountCalls(const std::string& prefix) {
  int n = 0;
  for (int i = 0; i < SimCallCount(); ++i) n += std::string(SimCallText(i)).compare(0, prefix.size(), prefix) == 0;
  return n;
}

// ---- Fakes -------------------------------------------------------------------------------------

std::vector<DWORD> g_pauses;                  // Sleep and WaitForSingleObject timeouts, in order
std::function<void(int)> g_onPause;          // runs at the start of pause n (1-based)
std::vector<std::string> g_launches;         // command lines handed to process creation
bool g_creationFails = false;
int g_modulePathCalls = 0;
std::function<void(int)> g_onModulePath;     // runs at module-path call n (1-based)
bool g_modulePathFails = false;

void WINAPI CountSleep(DWORD ms) {
  g_pauses.push_back(ms);
  if (g_onPause) g_onPause(static_cast<int>(g_pauses.size()));
}
// Waits for real only on an event the test signalled; otherwise the pause is over at once.
DWORD WINAPI CountWait(HANDLE handle, DWORD ms) {
  g_pauses.push_back(ms);
  if (g_onPause) g_onPause(static_cast<int>(g_pauses.size()));
  return sys::realCalls().WaitForSingleObject(handle, 0);
}
BOOL WINAPI CatchCreation(HANDLE, LPCSTR, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                          DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION process) {
  g_launches.push_back(commandLine);
  *process = PROCESS_INFORMATION{};
  return g_creationFails ? FALSE : TRUE;
}
DWORD WINAPI WatchModulePath(HMODULE module, LPWSTR buffer, DWORD size) {
  ++g_modulePathCalls;
  if (g_onModulePath) g_onModulePath(g_modulePathCalls);
  if (g_modulePathFails) return 0;
  return sys::realCalls().GetModuleFileNameW(module, buffer, size);
}

class Decisions : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceManager::Teardown();
    LaunchedFlag = 0;
    SetModeFile(nullptr);
    Reset();
    expectedCommandLine_ = "\"" + OwnDirectory() + "Marrowbank.exe\"";
  }
  void TearDown() override {
    DeviceManager::Teardown();
    SimReset();
    SetModeFile(nullptr);
    LaunchedFlag = 0;
    g_onPause = nullptr;
    g_onModulePath = nullptr;
    g_modulePathFails = false;
  }
  static void Reset() {
    g_pauses.clear();
    g_onPause = nullptr;
    g_launches.clear();
    g_creationFails = false;
    g_modulePathCalls = 0;
    g_onModulePath = nullptr;
    g_modulePathFails = false;
  }
  // 0 or 1 launches, each of exactly the program beside this executable, quoted.
  int Launches() {
    for (const std::string& line : g_launches) EXPECT_EQ(line, expectedCommandLine_);
    return static_cast<int>(g_launches.size());
  }

  std::string expectedCommandLine_;
  sys::ScopedCall<decltype(&::Sleep)> sleep_{sys::calls().Sleep, CountSleep};
  sys::ScopedCall<decltype(&::WaitForSingleObject)> wait_{sys::calls().WaitForSingleObject, CountWait};
  sys::ScopedCall<decltype(&::CreateProcessAsUserA)> create_{sys::calls().CreateProcessAsUserA, CatchCreation};
  sys::ScopedCall<decltype(&::GetModuleFileNameW)> modulePath_{sys::calls().GetModuleFileNameW, WatchModulePath};
};

// ---- Arrival -----------------------------------------------------------------------------------

TEST_F(Decisions, ArrivalStartsOnTheSwitchOrOnState3) {
  struct Case {
    const char* modeFile;  // nullptr: no file
    int sdkState;
    EncryptionState state;
    bool running;
    int launches;
  };
  const char* on = "[Fields]\r\nAutoBack=1\r\n";
  const char* off = "[Fields]\r\nAutoBack=0\r\n";
  constexpr EncryptionState kUnknown = EncryptionState::kUnknown, kPlain = EncryptionState::kPlain,
                            kOther = EncryptionState::kOther, kStartsOnArrival = EncryptionState::kStartsOnArrival;
  const Case cases[] = {
      {nullptr, 7, kUnknown, false, 1}, {nullptr, 0, kPlain, false, 1},
      {nullptr, 2, kOther, false, 1},   {nullptr, 1, kStartsOnArrival, false, 1},
      {on, 7, kUnknown, false, 1},      {on, 0, kPlain, false, 1},
      {on, 2, kOther, false, 1},        {on, 1, kStartsOnArrival, false, 1},
      {off, 1, kStartsOnArrival, false, 1}, {off, 0, kPlain, false, 0},
      {off, 2, kOther, false, 0},       {off, 7, kUnknown, false, 0},
      {nullptr, 1, kStartsOnArrival, true, 0}, {off, 1, kStartsOnArrival, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.modeFile ? c.modeFile : "no file") + " state " +
                 std::to_string(static_cast<int>(c.state)) +
                 (c.running ? " running" : ""));
    for (int flag : {0, 1}) {  // the arrival neither reads nor writes the flag
      Reset();
      DeviceManager::Teardown();
      SetModeFile(c.modeFile);
      Load(Disks(1, c.sdkState));
      LaunchedFlag = flag;
      {
        auto app = c.running ? std::make_unique<StandIn>(OwnDirectory() + "Marrowbank.exe") : nullptr;
        ASSERT_TRUE(app == nullptr || app->started());
        OnDeviceArrival();
      }
      EXPECT_EQ(Launches(), c.launches);
      EXPECT_EQ(LaunchedFlag, flag);
      EXPECT_TRUE(g_pauses.empty());
      EXPECT_EQ(CountCalls("vsGetEncryptState("), 1);
      EXPECT_EQ(DeviceManager::Instance().QueryEncryptionState(0), c.state);
    }
  }
}

// Each entry's state is queried and the switch read; the last entry's evaluation is the one that
// counts. The disk's state changes while the list is evaluated: the scenario is swapped when the
// switch is read for the first entry (each reading starts with the module path).
TEST_F(Decisions, ArrivalTheLastEntryDecides) {
  struct Case {
    const char* name;
    int firstSdkState, lastSdkState;
    int launches;
  };
  const Case cases[] = {
      {"first 3, last 1", 1, 0, 0},
      {"first 1, last 3", 0, 1, 1},
      {"first 3, last 3", 1, 1, 1},
  };
  SetModeFile("[Fields]\r\nAutoBack=0\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceManager::Teardown();
    DeviceManager::Instance();  // binding the bridge SDK reads the module path too: done first
    Reset();
    Load(Disks(2, c.firstSdkState));
    int queriesBeforeSwap = -1;
    int stateQueries = 0;
    g_onModulePath = [&](int call) {
      if (call == 1) {
        queriesBeforeSwap = CountCalls("vsGetEncryptState(");
        Load(Disks(2, c.lastSdkState));
      }
    };
    OnDeviceArrival();
    stateQueries = queriesBeforeSwap + CountCalls("vsGetEncryptState(");
    EXPECT_EQ(queriesBeforeSwap, 1) << "the switch is read right after the first entry's state";
    EXPECT_EQ(Launches(), c.launches);
    EXPECT_EQ(stateQueries, 2);
    EXPECT_EQ(g_modulePathCalls, 2 + 2 * c.launches)
        << "one switch reading per entry, then the command line and the LaunchAs reading";
  }
}

// Up to 20 listings, a pause of 1000 ms after each empty one (the 20th included); a stop event,
// when given, ends the pauses and the response without a launch.
TEST_F(Decisions, ArrivalWaitsForDevicesAndStopsOnTheStopEvent) {
  struct Case {
    const char* name;
    bool withStopEvent;
    int devicesAtAttempt;  // 0: never
    int stopAtPause;       // 0: never
    int listings, pauses, launches;
  };
  const Case cases[] = {
      {"devices at once", false, 1, 0, 1, 0, 1},
      {"devices at the fifth attempt", false, 5, 0, 5, 4, 1},
      {"devices at the 20th attempt", false, 20, 0, 20, 19, 1},
      {"no devices in 20 attempts", false, 0, 0, 20, 20, 0},
      {"stop event, devices at the third attempt", true, 3, 0, 3, 2, 1},
      {"stop event, no devices in 20 attempts", true, 0, 0, 20, 20, 0},
      {"stopped during the third pause", true, 6, 3, 3, 3, 0},
  };
  sys::UniqueHandle stopEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    ::ResetEvent(stopEvent.get());
    DeviceManager::Teardown();
    Load(c.devicesAtAttempt == 1 ? Disks(1, 0) : kNoDevices);
    int listings = 0;
    g_onPause = [&](int pause) {
      listings += CountCalls("vsRefreshDeviceList(");
      SimClearCalls();
      if (pause + 1 == c.devicesAtAttempt) Load(Disks(1, 0));
      if (pause == c.stopAtPause) ::SetEvent(stopEvent.get());
    };
    OnDeviceArrival(c.withStopEvent ? stopEvent.get() : nullptr);
    listings += CountCalls("vsRefreshDeviceList(");
    EXPECT_EQ(listings, c.listings);
    EXPECT_EQ(g_pauses, std::vector<DWORD>(c.pauses, 1000));
    EXPECT_EQ(Launches(), c.launches);
  }
}

// The real launch, counted on its way through.
int g_realCreations = 0;
BOOL WINAPI CountedCreateProcessAsUser(HANDLE token, LPCSTR application, LPSTR commandLine,
                                       LPSECURITY_ATTRIBUTES process, LPSECURITY_ATTRIBUTES thread, BOOL inherit,
                                       DWORD flags, LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                                       LPPROCESS_INFORMATION information) {
  ++g_realCreations;
  return sys::realCalls().CreateProcessAsUserA(token, application, commandLine, process, thread, inherit, flags,
                                               environment, directory, startup, information);
}

// The real thing: the stand-in program is started, once. A second arrival finds it running: the
// process the first one made exists by the time that launch returned, so nothing more is created.
TEST_F(Decisions, ArrivalStartsTheProgramForReal) {
  const std::string log = OwnDirectory() + "Marrowbank-starts.log";
  ::DeleteFileA(log.c_str());
  g_realCreations = 0;
  sys::ScopedCall<decltype(&::CreateProcessAsUserA)> real(sys::calls().CreateProcessAsUserA,
                                                          CountedCreateProcessAsUser);
  SetModeFile("[Fields]\r\nAutoBack=0\r\n");
  Load(Disks(1, 1));
  OnDeviceArrival();

  std::string text;
  ASSERT_TRUE(test_support::WaitUntil([&] { return (text = test_support::ReadText(log)).find("\r\n") != std::string::npos; }));
  EXPECT_NE(text.find(" cmdline=" + expectedCommandLine_ + "\r\n"), std::string::npos) << text;
  EXPECT_EQ(g_realCreations, 1);

  OnDeviceArrival();
  EXPECT_EQ(g_realCreations, 1);
  test_support::EndStartedStandIns(test_support::ReadText(log));
}

// ---- Timer -------------------------------------------------------------------------------------

// One road of timer messages (and arrivals) with the flag carried from step to step.
TEST_F(Decisions, TimerStartsOnceUntilItSeesTheListEmpty) {
  enum Kind { kTimer, kArrival };
  struct Step {
    const char* name;
    Kind kind;
    int entries;    // devices listed (two entries show how far the walk goes)
    const char* sdkStates;  // 7 reads -1; several values answer successive state queries
    bool running;
    bool creationFails;
    int launches, flagAfter, stateQueries;
  };
  const Step steps[] = {
      {"arrival starts it", kArrival, 1, "1", false, false, 1, 0, 1},
      {"it exited; the timer starts it again", kTimer, 2, "2", false, false, 1, 1, 1},
      {"it exited again: the flag holds", kTimer, 2, "1", false, false, 0, 1, 1},
      {"running", kTimer, 2, "0", true, false, 0, 1, 1},
      {"every entry unknown", kTimer, 2, "7", false, false, 0, 1, 2},
      {"list empty: flag cleared", kTimer, 0, "0", false, false, 0, 0, 0},
      {"list empty again", kTimer, 0, "0", false, false, 0, 0, 0},
      {"running, flag 0", kTimer, 2, "1", true, false, 0, 0, 1},
      {"every entry unknown, flag 0", kTimer, 2, "7", false, false, 0, 0, 2},
      {"creation fails", kTimer, 1, "0", false, true, 1, 0, 1},
      {"tried again", kTimer, 1, "0", false, false, 1, 1, 1},
      {"list empty", kTimer, 0, "0", false, false, 0, 0, 0},
      {"first entry unknown, the second decides", kTimer, 2, "7 2", false, false, 1, 1, 2},
      {"arrival ignores the flag", kArrival, 1, "1", false, false, 1, 1, 1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    Reset();
    g_creationFails = s.creationFails;
    Load(s.entries == 0 ? std::string(kNoDevices) : Disks(s.entries, s.sdkStates));
    {
      auto app = s.running ? std::make_unique<StandIn>(OwnDirectory() + "Marrowbank.exe") : nullptr;
      ASSERT_TRUE(app == nullptr || app->started());
      if (s.kind == kTimer) {
        OnLaunchTimer();
      } else {
        OnDeviceArrival();
      }
    }
    EXPECT_EQ(Launches(), s.launches);
    EXPECT_EQ(LaunchedFlag, s.flagAfter);
    EXPECT_EQ(CountCalls("vsGetEncryptState("), s.stateQueries) << "the walk ends at the first known state";
    EXPECT_EQ(CountCalls("vsRefreshDeviceList("), 1);
    EXPECT_TRUE(g_pauses.empty());
  }
}

// Without this executable's path there is no command line: neither road starts anything (the
// arrival decides to, on state 3), and the timer road's flag stays 0 so that it tries again.
TEST_F(Decisions, NothingStartsWhenTheExecutablesPathCannotBeRead) {
  DeviceManager::Instance();  // binding the bridge SDK reads the module path too: done first
  Load(Disks(1, 1));
  g_modulePathFails = true;
  OnLaunchTimer();
  OnDeviceArrival();
  EXPECT_EQ(Launches(), 0);
  EXPECT_EQ(LaunchedFlag, 0);
  EXPECT_GE(g_modulePathCalls, 2);

  g_modulePathFails = false;
  OnLaunchTimer();
  EXPECT_EQ(Launches(), 1);
  EXPECT_EQ(LaunchedFlag, 1);
}

}  // namespace

// ---- Logon -------------------------------------------------------------------------------------

// A logon runs the arrival decision once: one listing, no pause, the switch, the state and the
// running check as on an arrival.
TEST_F(Decisions, LogonDecidesOnOneListingWithoutWaiting) {
  struct Case {
    const char* name;
    const char* modeFile;
    const char* scenario;  // nullptr: no devices
    bool running;
    int launches;
  };
  const char* off = "[Fields]\r\nAutoBack=0\r\n";
  const std::string state3 = Disks(1, 1), state1 = Disks(1, 0);
  const Case cases[] = {
      {"no file, a disk", nullptr, state1.c_str(), false, 1},
      {"AutoBack=0, state 3", off, state3.c_str(), false, 1},
      {"AutoBack=0, state 1", off, state1.c_str(), false, 0},
      {"no devices", nullptr, nullptr, false, 0},
      {"running", nullptr, state3.c_str(), true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    DeviceManager::Teardown();
    SetModeFile(c.modeFile);
    Load(c.scenario ? c.scenario : kNoDevices);
    {
      auto app = c.running ? std::make_unique<StandIn>(OwnDirectory() + "Marrowbank.exe") : nullptr;
      ASSERT_TRUE(app == nullptr || app->started());
      OnConsoleLogon();
    }
    EXPECT_EQ(Launches(), c.launches);
    EXPECT_EQ(CountCalls("vsRefreshDeviceList("), 1);
    EXPECT_TRUE(g_pauses.empty());
    EXPECT_EQ(LaunchedFlag, 0);
  }
}

// ---- Which launcher ----------------------------------------------------------------------------

// The service's own road opens its process token; the console user's never does.
int g_serviceTokens = 0;
BOOL WINAPI CountServiceToken(HANDLE process, DWORD access, PHANDLE token) {
  ++g_serviceTokens;
  return sys::realCalls().OpenProcessToken(process, access, token);
}

// LaunchAs=user (any letter case), read at each launch, takes the console user's token, and so does
// any value not understood; only an absent or empty key, or service, keeps the service's own launch.
TEST_F(Decisions, LaunchAsUserChoosesTheConsoleUsersToken) {
  struct Case {
    const char* modeFile;
    bool serviceToken;
  };
  const Case cases[] = {
      {nullptr, true},
      {"[Fields]\r\nLaunchAs=user\r\n", false},
      {"[Fields]\r\nLaunchAs=User\r\n", false},
      {"[Fields]\r\nLaunchAs=service\r\n", true},
      {"[Fields]\r\nLaunchAs=users\r\n", false},
      {"[Fields]\r\nLaunchAs=user ; for the lab\r\n", false},
      {"[Fields]\r\nLaunchAs=\r\n", true},
  };
  sys::ScopedCall<decltype(&::OpenProcessToken)> open(sys::calls().OpenProcessToken, CountServiceToken);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modeFile ? c.modeFile : "no file");
    Reset();
    g_serviceTokens = 0;
    SetModeFile(c.modeFile);
    Load(Disks(1, 1));
    OnDeviceArrival();
    EXPECT_EQ(Launches(), 1);
    EXPECT_EQ(g_serviceTokens, c.serviceToken ? 1 : 0);
  }
}
