#include "launch/launch_decisions.h"

#include "device/device_manager.h"
#include "launch/command_line.h"
#include "launch/console_launcher.h"
#include "launch/settings.h"
#include "launch/user_launcher.h"
#include "platform/syscalls.h"

int32_t LaunchedFlag = 0;

namespace {

// One pause between listing attempts. False when the service is stopping: the stop event is
// signalled, or cannot be waited on (which would otherwise turn the pauses into a busy loop).
bool Pause(HANDLE stopEvent) {
  if (stopEvent == nullptr) {
    sys::calls().Sleep(kPauseMs);
    return true;
  }
  return sys::calls().WaitForSingleObject(stopEvent, kPauseMs) == WAIT_TIMEOUT;
}

// Nothing is started when the command line cannot be built whole.
bool StartDesktopApp() {
  char commandLine[kCommandLineBufferSize];
  if (!BuildDesktopAppCommandLine(commandLine)) return false;
  return ReadLaunchAsUser() ? LaunchAsConsoleUser(commandLine) : LaunchInConsoleSession(commandLine);
}

// The arrival decision on up to `attempts` listings, with a pause after each that finds nothing
// when `pause` says so.
void DecideOnListing(int attempts, bool pause, HANDLE stopEvent) {
  DeviceManager& manager = DeviceManager::Instance();
  DeviceList list;
  bool launch = false;

  for (int attempt = 0; attempt < attempts; ++attempt) {
    {
      // The listing and the state queries of its entries see the same current device; the
      // manager is not held across a pause, so the timer response is never kept waiting long.
      auto hold = manager.Hold();
      if (manager.ListDevices(list) != 0) {
        // Every entry is evaluated; the last one decides.
        for (const auto& entry : list) {
          const EncryptionState state = manager.QueryEncryptionState(entry->index);
          launch = ReadAutoBack() || state == EncryptionState::kStartsOnArrival;
        }
        break;
      }
    }
    if (pause && !Pause(stopEvent)) return;
  }

  if (launch && !IsDesktopAppRunning()) StartDesktopApp();
}

}  // namespace

void OnDeviceArrival(HANDLE stopEvent) { DecideOnListing(kListingAttempts, true, stopEvent); }

void OnConsoleLogon() {
  // This decision is the one a held-back launch waited for, whatever it finds.
  EndConsoleLogonWait();
  DecideOnListing(1, false, nullptr);
}

void OnLaunchTimer() {
  DeviceManager& manager = DeviceManager::Instance();
  DeviceList list;
  bool known = false;
  {
    auto hold = manager.Hold();
    manager.ListDevices(list);
    for (const auto& entry : list) {
      if (manager.QueryEncryptionState(entry->index) != EncryptionState::kUnknown) {
        known = true;
        break;
      }
    }
  }

  if (list.empty()) {
    LaunchedFlag = 0;
    return;
  }
  // The flag is asked before the process list: either answer alone starts nothing, and the
  // process snapshot is by far the dearest step of a check.
  if (!known || LaunchedFlag != 0 || IsDesktopAppRunning()) return;
  if (StartDesktopApp()) LaunchedFlag = 1;
}
