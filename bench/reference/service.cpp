#include "bench/reference/service.h"

namespace reference {
namespace {

// The dispatcher's thread runs ServiceMainOf, the control handler runs on it too; both read these.
char g_name[64] = {};
Hooks g_hooks;
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    if (g_hooks.onStop != nullptr) g_hooks.onStop();
    SetEvent(g_stop);
  }
  return NO_ERROR;
}

void WINAPI ServiceMainOf(DWORD, LPSTR*) {
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_status = RegisterServiceCtrlHandlerExA(g_name, Handler, nullptr);
  if (g_status == nullptr) return;
  if (g_hooks.startUp != nullptr) g_hooks.startUp();
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stop, INFINITE);
  if (g_hooks.shutDown != nullptr) g_hooks.shutDown();
  Report(SERVICE_STOPPED);
}

}  // namespace

SERVICE_STATUS_HANDLE ServiceStatusHandle() { return g_status; }

void Report(DWORD state, DWORD checkPoint, DWORD waitHint) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  SetServiceStatus(g_status, &status);
}

void QueryState(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return;
  if (SC_HANDLE service = OpenServiceA(manager, name, GENERIC_READ)) {
    SERVICE_STATUS status{};
    QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

int Serve(const char* name, const Hooks& hooks) {
  lstrcpynA(g_name, name, sizeof g_name);
  g_hooks = hooks;
  SERVICE_TABLE_ENTRYA table[] = {{g_name, ServiceMainOf}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}

}  // namespace reference
