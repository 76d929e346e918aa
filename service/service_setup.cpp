#include "service/service_setup.h"

#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "launch/mode_file.h"
#include "platform/event_log.h"
#include "platform/path_scan.h"
#include "platform/wide_text.h"
#include "service/installer_texts.h"
#include "service/service_host.h"

namespace {

constexpr DWORD kStatePollMs = 250;

// Polls the service's state until it is `wanted`, for at most kStateWaitMs. A service that stops
// while it should be starting answers with the Win32 code it stopped with, its own in `serviceCode`.
DWORD WaitForState(SC_HANDLE service, DWORD wanted, DWORD& serviceCode) {
  serviceCode = 0;
  for (DWORD waited = 0;; waited += kStatePollMs) {
    SERVICE_STATUS status{};
    if (!sys::calls().QueryServiceStatus(service, &status)) return GetLastError();
    if (status.dwCurrentState == wanted) return ERROR_SUCCESS;
    if (status.dwCurrentState == SERVICE_STOPPED) {
      if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) serviceCode = status.dwServiceSpecificExitCode;
      return status.dwWin32ExitCode != ERROR_SUCCESS ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
    }
    if (waited >= kStateWaitMs) return ERROR_SERVICE_REQUEST_TIMEOUT;
    sys::calls().Sleep(kStatePollMs);
  }
}

// The state and process of the service; false, with the error left, when it cannot be queried.
bool QueryProcess(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return sys::calls().QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                           sizeof(status), &needed) != FALSE;
}

// Waits for the end of every process, other than this one, that runs the executable the service is
// registered for. A service can report STOPPED while its process lives on (one that crashed on its
// way out and is held by a debugger), and its files can be neither replaced nor removed until that
// process ends. A process that cannot be opened or named is not the service's to wait on.
DWORD WaitForImageProcesses(SC_HANDLE service) {
  alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[kServiceConfigRoom];
  const QUERY_SERVICE_CONFIGA* config = ReadServiceConfig(service, buffer);
  if (config == nullptr) return GetLastError();
  if (config->lpBinaryPathName == nullptr) return ERROR_SUCCESS;
  sys::UniqueHandle snapshot(sys::calls().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return GetLastError();
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  if (!sys::calls().Process32First(snapshot.get(), &entry)) return GetLastError();
  const DWORD self = ::GetCurrentProcessId();
  do {
    if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
    sys::UniqueHandle process(sys::calls().OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                                       entry.th32ProcessID));
    if (!process) continue;
    char quoted[kQuotedPathRoom];
    DWORD length = kModulePathRoom;
    if (!sys::calls().QueryFullProcessImageNameA(process.get(), 0, quoted + 1, &length) ||
        length >= kModulePathRoom) {
      continue;
    }
    quoted[0] = '"';
    quoted[1 + length] = '"';
    quoted[2 + length] = '\0';
    if (!SameFilePath(config->lpBinaryPathName, quoted)) continue;
    switch (sys::calls().WaitForSingleObject(process.get(), kStateWaitMs)) {
      case WAIT_OBJECT_0: break;
      case WAIT_FAILED: return GetLastError();
      default: return ERROR_SERVICE_REQUEST_TIMEOUT;
    }
  } while (sys::calls().Process32Next(snapshot.get(), &entry));
  // Only the list's real end says that no such process is left.
  return ::GetLastError() == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : ::GetLastError();
}

// Puts back the registration InstallAndStart replaced: the configuration it changed (type, start
// type, error control, image path, display name) and the event source. Its failure is not reported:
// the installation's own error is what the caller answers.
void Restore(SC_HANDLE service, const QUERY_SERVICE_CONFIGA& previous, bool hadSource, const std::string& source) {
  sys::calls().ChangeServiceConfigA(service, previous.dwServiceType, previous.dwStartType, previous.dwErrorControl,
                                    previous.lpBinaryPathName, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    previous.lpDisplayName);
  if (hadSource) {
    InstallEventSource(source.c_str());
  } else {
    RemoveEventSource();
  }
}

// Points the existing service at this executable with the installation's configuration and starts
// it. A service still running another executable (the folder was moved or copied) is stopped before
// anything changes, so a copy that cannot be stopped keeps its registration. The start type an
// administrator chose is kept; a disabled service is registered but not started (`started` false).
// When the service does not start, the previous registration is put back, and the copy it stopped
// is started again.
DWORD Reregister(SC_HANDLE service, bool& started, DWORD& serviceCode) {
  started = false;
  char command[kQuotedPathRoom];
  if (!ReadQuotedModulePath(command)) return kPathUnreadable;
  alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[kServiceConfigRoom];
  const QUERY_SERVICE_CONFIGA* previous = ReadServiceConfig(service, buffer);
  if (previous == nullptr) return GetLastError();
  const bool moved = previous->lpBinaryPathName == nullptr || !SameFilePath(previous->lpBinaryPathName, command);
  bool wasRunning = false;
  if (moved) {
    SERVICE_STATUS status{};
    wasRunning = sys::calls().QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
    if (const DWORD error = StopAndWait(service)) return error;
  }
  std::string source;
  const bool hadSource = ReadEventSourceMessageFile(source);
  if (!sys::calls().ChangeServiceConfigA(service, kServiceType, SERVICE_NO_CHANGE, SERVICE_ERROR_NORMAL, command,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, g_serviceHost->displayName)) {
    return GetLastError();
  }
  ConfigureService(service);
  RegisterEventSourceFor(command);
  if (previous->dwStartType == SERVICE_DISABLED) return ERROR_SUCCESS;
  const DWORD error = StartAndWait(service, serviceCode);
  if (error != ERROR_SUCCESS) {
    Restore(service, *previous, hadSource, source);
    // The copy this one replaced was running: it runs again.
    if (wasRunning) sys::calls().StartServiceA(service, 0, nullptr);
    return error;
  }
  started = true;
  return ERROR_SUCCESS;
}

}  // namespace

bool ReadQuotedModulePath(char (&command)[kQuotedPathRoom]) {
  command[0] = '"';
  const DWORD length = ReadModulePath(command + 1, kModulePathRoom);
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

  SC_ACTION actions[] = {kFailureActions[0], kFailureActions[1], kFailureActions[2]};
  SERVICE_FAILURE_ACTIONSA failure{kFailureResetSeconds, nullptr, nullptr, 3, actions};
  sys::calls().ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
  // The actions above run when the process ends without reporting STOPPED; with this flag also when it
  // reports STOPPED with an exit code of its own (a stop asked for reports 0). A system that refuses
  // the flag still restarts a crashed service, so its failure, like the actions', stops nothing.
  SERVICE_FAILURE_ACTIONS_FLAG nonCrash{TRUE};
  sys::calls().ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &nonCrash);
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

DWORD StartAndWait(SC_HANDLE service, DWORD& serviceCode) {
  serviceCode = 0;
  if (!sys::calls().StartServiceA(service, 0, nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING) return error;
    SERVICE_STATUS status{};
    if (!sys::calls().QueryServiceStatus(service, &status)) return GetLastError();
    // On its way down (an upgrade's stop that has not finished, a forced stop under way): started
    // once it has stopped and its process has ended, within the same bound.
    if (status.dwCurrentState == SERVICE_STOP_PENDING) {
      if (const DWORD stopped = StopAndWait(service)) return stopped;
      if (!sys::calls().StartServiceA(service, 0, nullptr)) return GetLastError();
      return WaitForState(service, SERVICE_RUNNING, serviceCode);
    }
    // Paused: no start brings it to RUNNING.
    const DWORD state = status.dwCurrentState;
    if (state != SERVICE_RUNNING && state != SERVICE_START_PENDING && state != SERVICE_CONTINUE_PENDING) {
      return error;
    }
  }
  return WaitForState(service, SERVICE_RUNNING, serviceCode);
}

DWORD StopAndWait(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS running{};
  if (!QueryProcess(service, running)) return GetLastError();
  if (running.dwCurrentState == SERVICE_STOPPED) return WaitForImageProcesses(service);
  // The process reports STOPPED a moment before it ends, and its executable cannot be replaced or
  // removed until it has: the package replaces or removes it right after a stop. The id was read
  // before the process was opened, so the service must still report it once it is open: a process
  // that ended meanwhile may have given its id to another, which is never waited on.
  sys::UniqueHandle process;
  if (running.dwProcessId != 0) process.reset(sys::calls().OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId));
  if (process) {
    SERVICE_STATUS_PROCESS again{};
    if (!QueryProcess(service, again)) return GetLastError();
    if (again.dwCurrentState == SERVICE_STOPPED) return ERROR_SUCCESS;
    if (again.dwProcessId != running.dwProcessId) process.reset();
    running.dwCurrentState = again.dwCurrentState;
  }
  // A stop already under way takes no second control; the service manager would refuse it.
  SERVICE_STATUS status{};
  if (running.dwCurrentState != SERVICE_STOP_PENDING &&
      !sys::calls().ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    return GetLastError();
  }
  DWORD serviceCode = 0;
  const DWORD error = WaitForState(service, SERVICE_STOPPED, serviceCode);
  if (error != ERROR_SUCCESS || !process) return error;
  switch (sys::calls().WaitForSingleObject(process.get(), kStateWaitMs)) {
    case WAIT_OBJECT_0: return ERROR_SUCCESS;
    case WAIT_FAILED: return GetLastError();
    default: return ERROR_SERVICE_REQUEST_TIMEOUT;
  }
}

DWORD UninstallService() {
  sys::UniqueServiceHandle manager(sys::calls().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return GetLastError();
  sys::UniqueServiceHandle service(sys::calls().OpenServiceA(
      manager.get(), g_serviceHost->serviceName,
      SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE));
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

const QUERY_SERVICE_CONFIGA* ReadServiceConfig(SC_HANDLE service, BYTE (&buffer)[kServiceConfigRoom]) {
  DWORD needed = 0;
  if (!sys::calls().QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer), sizeof(buffer),
                                        &needed)) {
    return nullptr;
  }
  return reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer);
}

sys::UniqueServiceHandle OpenOwnService(DWORD access, DWORD& error) {
  error = ERROR_SUCCESS;
  sys::UniqueServiceHandle manager(sys::calls().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  sys::UniqueServiceHandle service;
  if (manager) service.reset(sys::calls().OpenServiceA(manager.get(), g_serviceHost->serviceName, access));
  if (!service) error = GetLastError();
  return service;
}

DWORD InstallAndStart(bool& started, DWORD& serviceCode) {
  started = false;
  serviceCode = 0;
  DWORD error = ERROR_SUCCESS;
  sys::UniqueServiceHandle service = OpenOwnService(SERVICE_ALL_ACCESS, error);
  if (service) return Reregister(service.get(), started, serviceCode);
  if (error != ERROR_SERVICE_DOES_NOT_EXIST) return error;
  error = InstallService();
  if (error == ERROR_SUCCESS) service = OpenOwnService(SERVICE_ALL_ACCESS, error);
  if (error != ERROR_SUCCESS) return error;
  error = StartAndWait(service.get(), serviceCode);
  started = error == ERROR_SUCCESS;
  return error;
}
