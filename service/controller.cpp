#include "service/controller.h"

#include <cstdio>
#include <cstring>

#include "launch/mode_switch.h"
#include "platform/event_log.h"
#include "platform/handles.h"
#include "platform/wide_text.h"
#include "service/service_host.h"
#include "service/service_main.h"

namespace {

constexpr DWORD kStatePollMs = 250;

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

// Polls the service's state until it is `wanted`, for at most kStateWaitMs. A service that stops
// while it should be starting answers with the code it stopped with.
DWORD WaitForState(SC_HANDLE service, DWORD wanted) {
  for (DWORD waited = 0;; waited += kStatePollMs) {
    SERVICE_STATUS status{};
    if (!sys::calls().QueryServiceStatus(service, &status)) return GetLastError();
    if (status.dwCurrentState == wanted) return ERROR_SUCCESS;
    if (status.dwCurrentState == SERVICE_STOPPED) {
      if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) return status.dwServiceSpecificExitCode;
      return status.dwWin32ExitCode != ERROR_SUCCESS ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
    }
    if (waited >= kStateWaitMs) return ERROR_SERVICE_REQUEST_TIMEOUT;
    sys::calls().Sleep(kStatePollMs);
  }
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

bool ReadQuotedModulePath(char (&command)[kQuotedPathRoom]) {
  command[0] = '"';
  const DWORD length = sys::calls().GetModuleFileNameA(nullptr, command + 1, kModulePathRoom);
  // A path that fills the room has been cut short: registering it would name another file. One
  // whose mode file would not fit could never read it, and would silently run with the defaults.
  if (length == 0 || length >= kModulePathRoom) return false;
  // A character the ANSI code page cannot hold comes back as '?', which no file name contains: the
  // path names no file, as good as none.
  if (std::strchr(command + 1, '?') != nullptr) return false;
  if (!ModeFilePathFits(command + 1)) return false;
  command[1 + length] = '"';
  command[2 + length] = '\0';
  return true;
}

void ConfigureService(SC_HANDLE service) {
  // Registered as UTF-16, so that the service list shows it on a system of any code page; the bytes
  // as they are where they cannot be converted.
  wchar_t wide[kWideTextRoom];
  if (WideFromCodePage936(kServiceDescription, wide)) {
    SERVICE_DESCRIPTIONW config{wide};
    sys::calls().ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &config);
  } else {
    char description[kDescriptionBufferSize] = {};
    std::memcpy(description, kServiceDescription, sizeof(kServiceDescription) - 1);
    SERVICE_DESCRIPTIONA config{description};
    sys::calls().ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &config);
  }

  SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMs}, {SC_ACTION_RESTART, kRestartDelayMs},
                         {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSA failure{kFailureResetSeconds, nullptr, nullptr, 3, actions};
  sys::calls().ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

void RegisterEventSourceFor(const char (&command)[kQuotedPathRoom]) {
  char path[kQuotedPathRoom];
  const size_t length = std::strlen(command + 1) - 1;  // without the quotes
  std::memcpy(path, command + 1, length);
  path[length] = '\0';
  InstallEventSource(path);
}

DWORD InstallService() {
  sys::UniqueServiceHandle manager(sys::calls().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return GetLastError();

  char command[kQuotedPathRoom];
  if (!ReadQuotedModulePath(command)) return kPathUnreadable;

  sys::UniqueServiceHandle service(sys::calls().CreateServiceA(
      manager.get(), g_serviceHost->serviceName, g_serviceHost->displayName, SERVICE_ALL_ACCESS, kServiceType,
      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command, nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) return GetLastError();
  ConfigureService(service.get());
  RegisterEventSourceFor(command);
  return ERROR_SUCCESS;
}

DWORD StartAndWait(SC_HANDLE service) {
  if (!sys::calls().StartServiceA(service, 0, nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) return error;
    SERVICE_STATUS status{};
    if (!sys::calls().QueryServiceStatus(service, &status)) return GetLastError();
    // Paused, or on its way down: no start brings it to RUNNING.
    const DWORD state = status.dwCurrentState;
    if (state != SERVICE_RUNNING && state != SERVICE_START_PENDING && state != SERVICE_CONTINUE_PENDING) {
      return error;
    }
  }
  return WaitForState(service, SERVICE_RUNNING);
}

DWORD StopAndWait(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS running{};
  DWORD needed = 0;
  if (!sys::calls().QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running),
                                         sizeof(running), &needed)) {
    return GetLastError();
  }
  if (running.dwCurrentState == SERVICE_STOPPED) return ERROR_SUCCESS;
  // The process reports STOPPED a moment before it ends, and its executable cannot be replaced or
  // removed until it has: the package replaces or removes it right after a stop.
  sys::UniqueHandle process(running.dwProcessId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId) : nullptr);
  // A stop already under way takes no second control; the service manager would refuse it.
  SERVICE_STATUS status{};
  if (running.dwCurrentState != SERVICE_STOP_PENDING &&
      !sys::calls().ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    return GetLastError();
  }
  const DWORD error = WaitForState(service, SERVICE_STOPPED);
  if (error == ERROR_SUCCESS && process &&
      sys::calls().WaitForSingleObject(process.get(), kStateWaitMs) != WAIT_OBJECT_0) {
    return ERROR_SERVICE_REQUEST_TIMEOUT;
  }
  return error;
}

DWORD UninstallService() {
  sys::UniqueServiceHandle manager(sys::calls().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return GetLastError();
  sys::UniqueServiceHandle service(sys::calls().OpenServiceA(
      manager.get(), g_serviceHost->serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_DOES_NOT_EXIST) return error;
  } else {
    if (const DWORD error = StopAndWait(service.get())) return error;
    if (!sys::calls().DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
      return GetLastError();
    }
  }
  // Also when the service was gone already: a source left behind names an executable that may be
  // gone too. A key that cannot be removed does not undo the uninstallation.
  RemoveEventSource();
  return ERROR_SUCCESS;
}

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
