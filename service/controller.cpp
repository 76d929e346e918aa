#include "service/controller.h"

#include <cstdio>
#include <cstring>

#include "launch/mode_switch.h"
#include "platform/handles.h"
#include "service/service_host.h"
#include "service/service_main.h"

namespace {

constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
constexpr DWORD kModulePathRoom = MAX_PATH;  // as GetModuleFileNameA is offered it

void ShowMessage(const char* text, UINT style) {
  sys::calls().MessageBoxA(nullptr, text, g_serviceHost->serviceName, style);
}

// The service's current state, or 0 when the service cannot be opened for reading or queried.
// `opened` tells the two apart: a service that cannot be opened is installed.
DWORD QueryState(bool& opened) {
  opened = false;
  sys::UniqueServiceHandle manager(sys::calls().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return 0;
  sys::UniqueServiceHandle service(
      sys::calls().OpenServiceA(manager.get(), g_serviceHost->serviceName, GENERIC_READ));
  if (!service) return 0;
  opened = true;
  SERVICE_STATUS status{};
  return sys::calls().QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

void Dispatch() {
  char name[256] = {};
  std::strncpy(name, g_serviceHost->serviceName, sizeof(name) - 1);
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (sys::calls().StartServiceCtrlDispatcherA(table)) return;
  char text[1000];
  std::snprintf(text, sizeof(text), kDispatchErrorFormat, static_cast<int>(GetLastError()));
  ShowMessage(text, MB_OK);
}

void Start() {
  {
    sys::UniqueServiceHandle manager(sys::calls().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    sys::UniqueServiceHandle service;
    if (manager) {
      service.reset(sys::calls().OpenServiceA(manager.get(), g_serviceHost->serviceName, SERVICE_ALL_ACCESS));
    }
    if (service && sys::calls().StartServiceA(service.get(), 0, nullptr)) return;
  }
  // The handles are closed before the box, which may stay open for long.
  ShowMessage(kStartFailedMessage, MB_OK);
}

// False when nothing was created; the caller then stops.
bool Install() {
  sys::UniqueServiceHandle manager(sys::calls().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return false;

  // Opening quote, the path as GetModuleFileNameA writes it, closing quote, terminator.
  char command[1 + kModulePathRoom + 2] = {'"'};
  const DWORD length = sys::calls().GetModuleFileNameA(nullptr, command + 1, kModulePathRoom);
  // A path that fills the room has been cut short: registering it would name another file. One
  // whose mode file would not fit could never read it, and would silently run with the defaults.
  if (length == 0 || length >= kModulePathRoom || !ModeFilePathFits(command + 1)) {
    manager.reset();
    ShowMessage(kNoPathMessage, MB_ICONERROR);
    return false;
  }
  command[1 + length] = '"';
  command[2 + length] = '\0';

  sys::UniqueServiceHandle service(sys::calls().CreateServiceA(
      manager.get(), g_serviceHost->serviceName, g_serviceHost->displayName, SERVICE_ALL_ACCESS, kServiceType,
      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command, nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) return false;

  char description[kDescriptionBufferSize] = {};
  std::memcpy(description, kServiceDescription, sizeof(kServiceDescription) - 1);
  SERVICE_DESCRIPTIONA config{description};
  sys::calls().ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, &config);
  return true;
}

void AskToStop() {
  if (sys::calls().MessageBoxA(nullptr, kStopQuestion, g_serviceHost->serviceName, MB_YESNO | MB_ICONQUESTION) !=
      IDYES) {
    return;
  }
  sys::UniqueServiceHandle manager(sys::calls().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return;
  sys::UniqueServiceHandle service(
      sys::calls().OpenServiceA(manager.get(), g_serviceHost->serviceName, SERVICE_ALL_ACCESS));
  if (!service) return;
  SERVICE_STATUS status{};
  sys::calls().ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
}

}  // namespace

void RunServiceController() {
  bool opened = false;
  const DWORD state = QueryState(opened);
  if (!opened) {
    if (Install()) Start();
    return;
  }
  switch (state) {
    case SERVICE_START_PENDING:
      Dispatch();
      return;
    case SERVICE_STOPPED:
      Start();
      return;
    case SERVICE_RUNNING:
      return;
    default:
      AskToStop();
      return;
  }
}
