// A model check of the two launch responses: 10,000 random steps (arrivals, timer checks, the
// simulated device appearing, changing its state and vanishing, the mode file's AutoBack switch
// flipping, the desktop program starting and ending by itself, process creation failing), each
// checked against a small model of the launch rules kept here. The seed is printed; set
// MARROWBANK_MODEL_SEED to replay a failure. Pauses are counted, not slept; launches are caught at
// process creation, and "the program runs" is a real stand-in process. At the end the process holds
// as many handles and threads as it did once warm, and its private bytes grew by less than a leak of
// one heap block per launch response since then would have added.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "device/device_manager.h"
#include "launch/launch_decisions.h"
#include "platform/syscalls.h"
#include "standins/t3fp_sim/t3fp_sim_control.h"
#include "tests/launch/test_files.h"
#include "tests/tools/footprint.h"

namespace {

constexpr unsigned kDefaultSeed = 20261210;
constexpr int kSteps = 10000;
constexpr int kWarmSteps = 1000;  // the footprint is taken once these have run
// The least a heap allocation holds, header included, on either width: a response that leaked one
// block each time would grow private bytes by at least this per response. The heap's own growth,
// committed a page at a time, is not tied to the number of responses and stays below that sum.
constexpr size_t kLeastHeapBlock = 16;

// ---- The model ------------------------------------------------------------------------------------

enum class Device { kNone, kForeign, kFamilyDisk, kVendorOnly };
const char* const kDeviceNames[] = {"none", "foreign device", "disk of the family", "other model of the vendor"};

// What the rules need to know of the world.
struct World {
  Device device = Device::kNone;
  int sdkState = 0;  // what the SDK reports for a disk of the family: 0..3, or 7 (no known state)
  bool autoBack = true;
  bool running = false;        // the desktop program runs
  bool creationFails = false;  // process creation is refused
  bool timerStarted = false;   // the timer started the program and has not since seen no device
};

bool Listed(const World& w) { return w.device == Device::kFamilyDisk || w.device == Device::kVendorOnly; }

// The encryption state the service sees: a disk of the family answers through the SDK (1 unlocked,
// 3 locked and waiting for the program, 2 otherwise set up, unknown outside 0..3); another model of
// the vendor counts as unlocked without asking the SDK.
int SeenState(const World& w) {
  if (w.device == Device::kVendorOnly) return 1;
  switch (w.sdkState) {
    case 0: return 1;
    case 1: return 3;
    case 2:
    case 3: return 2;
    default: return -1;
  }
}

// An arrival starts the program when a device lists and either AutoBack is on or the device's
// state is 3, unless the program runs already. It never touches the timer's memory.
bool ArrivalStarts(const World& w) { return Listed(w) && (w.autoBack || SeenState(w) == 3) && !w.running; }

// A timer check forgets its start when no device lists; otherwise it starts the program for a
// device of known state unless the program runs or the timer has started it before.
bool TimerStarts(World& w) {
  if (!Listed(w)) {
    w.timerStarted = false;
    return false;
  }
  if (SeenState(w) == -1 || w.running || w.timerStarted) return false;
  if (!w.creationFails) w.timerStarted = true;
  return true;
}

std::string Describe(const World& w) {
  return std::string(kDeviceNames[static_cast<int>(w.device)]) + ", SDK state " + std::to_string(w.sdkState) +
         ", AutoBack " + (w.autoBack ? "on" : "off") + (w.running ? ", program running" : "") +
         (w.creationFails ? ", creation fails" : "") + (w.timerStarted ? ", started by the timer" : "");
}

std::string Scenario(const World& w) {
  if (w.device == Device::kNone) return "";
  const char* vendor = w.device == Device::kForeign ? "Elsewhere" : "Marrowba";
  const char* model = w.device == Device::kVendorOnly ? "PLAINDRIVE" : "TAVRO211";
  return "position\n accessory 12\n record\n  kind 2\n  path \\\\?\\usbstor#model-check\n  info info\n"
         "  base.model " + std::string(model) + "\n  base.vendor " + vendor + "\n  state " +
         std::to_string(w.sdkState) + "\n";
}

// ---- The platform as the test answers it ------------------------------------------------------------

int g_pauses = 0;
int g_creations = 0;
bool g_creationFails = false;

DWORD WINAPI CountPause(HANDLE handle, DWORD ms) {
  if (ms == INFINITE) return sys::realCalls().WaitForSingleObject(handle, ms);
  ++g_pauses;
  return WAIT_TIMEOUT;
}
VOID WINAPI CountSleep(DWORD) { ++g_pauses; }
BOOL WINAPI CatchCreation(HANDLE, LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                          LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION process) {
  ++g_creations;
  *process = PROCESS_INFORMATION{};
  if (!g_creationFails) return TRUE;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

unsigned Seed() {
  const char* text = std::getenv("MARROWBANK_MODEL_SEED");
  return text != nullptr && *text != '\0' ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : kDefaultSeed;
}

TEST(ModelCheck, LaunchesExactlyWhenTheRulesSayAndNothingLeaks) {
  const unsigned seed = Seed();
  std::printf("model check seed %u (set MARROWBANK_MODEL_SEED to replay)\n", seed);
  RecordProperty("seed", std::to_string(seed));

  sys::ScopedCall<decltype(&::WaitForSingleObject)> wait(sys::calls().WaitForSingleObject, CountPause);
  sys::ScopedCall<decltype(&::Sleep)> sleep(sys::calls().Sleep, CountSleep);
  sys::ScopedCall<decltype(&::CreateProcessAsUserA)> create(sys::calls().CreateProcessAsUserA, CatchCreation);
  DeviceManager::Teardown();
  LaunchedFlag = 0;
  const std::string program = test_support::OwnDirectory() + "Marrowbank.exe";
  const auto writeMode = [&](bool autoBack) {
    launch_test::SetModeFile(autoBack ? "[Fields]\r\nAutoBack=1\r\n" : "[Fields]\r\nAutoBack=0\r\n");
  };

  World world;
  writeMode(world.autoBack);
  ASSERT_EQ(SimLoadScenario(Scenario(world).c_str()), 1) << SimLastError();
  std::unique_ptr<launch_test::StandIn> running;
  std::mt19937 random(seed);
  tools::Footprint warm{};
  int arrivals = 0, timers = 0, starts = 0;
  int responsesAtWarm = 0;

  for (int step = 1; step <= kSteps; ++step) {
    const int roll = static_cast<int>(random() % 100);
    const World before = world;
    std::string action;
    int expectedStarts = 0, expectedPauses = 0;
    const int pausesBefore = g_pauses, creationsBefore = g_creations;

    if (roll < 35) {
      action = "arrival";
      ++arrivals;
      expectedStarts = ArrivalStarts(world);
      expectedPauses = Listed(world) ? 0 : 20;
      OnDeviceArrival();
    } else if (roll < 70) {
      action = "timer check";
      ++timers;
      expectedStarts = TimerStarts(world);
      OnLaunchTimer();
    } else if (roll < 92) {
      // The device appears (of a random kind and state), changes its state, or vanishes.
      const int change = static_cast<int>(random() % 3);
      if (change == 0 || world.device == Device::kNone) {
        world.device = static_cast<Device>(1 + random() % 3);
        world.sdkState = static_cast<int>(random() % 5);
        if (world.sdkState == 4) world.sdkState = 7;
        action = std::string("appears: ") + kDeviceNames[static_cast<int>(world.device)];
      } else if (change == 1) {
        world.sdkState = static_cast<int>(random() % 5);
        if (world.sdkState == 4) world.sdkState = 7;
        action = "changes state";
      } else {
        world.device = Device::kNone;
        action = "vanishes";
      }
      ASSERT_EQ(SimLoadScenario(Scenario(world).c_str()), 1) << SimLastError();
    } else if (roll < 96) {
      world.autoBack = !world.autoBack;
      writeMode(world.autoBack);
      action = "AutoBack flips";
    } else if (roll < 98) {
      world.creationFails = !world.creationFails;
      g_creationFails = world.creationFails;
      action = "process creation starts to fail or works again";
    } else {
      world.running = !world.running;
      if (world.running) {
        running = std::make_unique<launch_test::StandIn>(program);
        ASSERT_TRUE(running->started());
      } else {
        running.reset();
      }
      action = world.running ? "the program starts by itself" : "the program ends";
    }
    SimClearCalls();

    const std::string where = "step " + std::to_string(step) + " (" + action + ") of seed " + std::to_string(seed) +
                              ", before: " + Describe(before);
    ASSERT_EQ(g_creations - creationsBefore, expectedStarts) << where;
    ASSERT_EQ(g_pauses - pausesBefore, expectedPauses) << where;
    ASSERT_EQ(LaunchedFlag, world.timerStarted ? 1 : 0) << where;
    starts += g_creations - creationsBefore;
    // Taken while no stand-in runs, whose handles this process holds.
    if (step >= kWarmSteps && !world.running && warm.handles == 0) {
      warm = tools::MeasureFootprint();
      responsesAtWarm = arrivals + timers;
    }
  }
  running.reset();

  const tools::Footprint end = tools::MeasureFootprint();
  std::printf("%d arrivals, %d timer checks, %d starts; warm: %zu private bytes, %d handles, %d threads; "
              "end: %zu, %d, %d\n",
              arrivals, timers, starts, warm.privateBytes, warm.handles, warm.threads, end.privateBytes, end.handles,
              end.threads);
  EXPECT_EQ(end.handles, warm.handles);
  EXPECT_EQ(end.threads, warm.threads);
  const size_t responsesSinceWarm = static_cast<size_t>(arrivals + timers - responsesAtWarm);
  ASSERT_GT(responsesSinceWarm, 1000u);
  const size_t growth = end.privateBytes > warm.privateBytes ? end.privateBytes - warm.privateBytes : 0;
  std::printf("%zu responses since warm; private bytes grew by %zu\n", responsesSinceWarm, growth);
  EXPECT_LT(growth, responsesSinceWarm * kLeastHeapBlock);

  DeviceManager::Teardown();
  SimReset();
  launch_test::SetModeFile(nullptr);
  LaunchedFlag = 0;
}

}  // namespace
