// The least any service can do, which every reference step runs: register a control handler, report
// RUNNING, wait for STOP or SHUTDOWN, report STOPPED. A step adds its pieces through the three
// hooks, each called where the product does the same work. advapi32 alone.
#pragma once

#include <windows.h>

namespace reference {

struct Hooks {
  // After the handler is registered, before RUNNING.
  void (*startUp)() = nullptr;
  // In the control handler on STOP or SHUTDOWN, before the stop event is set.
  void (*onStop)() = nullptr;
  // After the stop event, before STOPPED.
  void (*shutDown)() = nullptr;
};

// Runs the service `name` under the dispatcher; the program's exit code.
int Serve(const char* name, const Hooks& hooks = Hooks());

// The handle RegisterServiceCtrlHandlerExA gave (what device notifications are registered on).
SERVICE_STATUS_HANDLE ServiceStatusHandle();

// One status report of this service.
void Report(DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0);

// The state query the product makes before it hands over to the dispatcher: the service manager,
// the service, its status.
void QueryState(const char* name);

}  // namespace reference
