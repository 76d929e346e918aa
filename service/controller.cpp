#include "service/controller.h"

#include <cstdio>
#include <cstring>

#include "platform/handles.h"
#include "platform/wide_text.h"
#include "service/installer_texts.h"
#include "service/service_host.h"
#include "service/service_main.h"
#include "service/service_setup.h"

namespace {

// The texts are code page 936 bytes. Converted explicitly and shown through the wide call, they read
// the same on a system of any ANSI code page; where they cannot be converted, the bytes go to the
// ANSI call as they are, which is right on a 936 system.
int ShowBox(const char* text, UINT style) {
  wchar_t wideText[kWideTextRoom];
  wchar_t wideCaption[kWideTextRoom];
  if (!WideFromCodePage936(text, wideText) || !WideFromCodePage936(g_serviceHost->serviceName, wideCaption)) {
    return sys::calls().MessageBoxA(nullptr, text, g_serviceHost->serviceName, style);
  }
  return sys::calls().MessageBoxW(nullptr, wideText, wideCaption, style);
}

void ShowMessage(const char* text, UINT style) { ShowBox(text, style); }

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
  const DWORD error = InstallService();
  if (error == kPathUnreadable) ShowMessage(kNoPathMessage, MB_ICONERROR);
  return error == ERROR_SUCCESS;
}

void AskToStop() {
  if (ShowBox(kStopQuestion, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
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
