// The executable's entry: the service itself when the service control manager starts it, its own
// installer and controller when run by hand.
#include <windows.h>

#include <cstdlib>

#include "device/device_manager.h"
#include "platform/dll_search.h"
#include "selftest/self_test.h"
#include "service/command_switches.h"
#include "service/controller.h"
#include "service/service_host.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  // Before anything loads a library at run time.
  RestrictDllSearch();
  std::atexit(DeviceManager::Teardown);

  PublishServiceHost();

  // The administrator's switches; without arguments, the by-hand branch (or the service, when the
  // service control manager started the process).
  if (!NoArguments(arguments)) {
    const CommandSwitches switches = ParseCommandSwitches(arguments);
    if (switches.valid && switches.action == SwitchAction::kSelfTest) {
      return static_cast<int>(RunSelfTest(switches.json, switches.quiet));
    }
    return static_cast<int>(RunCommandSwitches(arguments));
  }
  RunServiceController();
  return 0;
}
