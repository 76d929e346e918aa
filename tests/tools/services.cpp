#include "tests/tools/services.h"

#include "tests/support/test_support.h"
#include "tests/tools/processes.h"

namespace tools {

bool PollFor(const char* name, DWORD state, double since, DWORD boundMs, SERVICE_STATUS_PROCESS* seen) {
  for (;;) {
    *seen = QueryServiceProcess(name);
    if (seen->dwCurrentState == state) return true;
    if (NowMs() - since > boundMs) return false;
    SwitchToThread();
  }
}

std::string LayOutInstallation(const std::string& directory, const std::vector<std::string>& files,
                               const std::string& modeFile) {
  CreateDirectoryA(directory.c_str(), nullptr);
  CreateDirectoryA((directory + "language").c_str(), nullptr);
  const std::string from = test_support::OwnDirectory();
  for (const std::string& name : files) {
    if (!CopyFileA((from + name).c_str(), (directory + name).c_str(), FALSE)) return "cannot copy " + name;
  }
  if (!test_support::WriteText(directory + "language\\ModeConfig.ini", modeFile)) return "cannot write the mode file";
  return std::string();
}

void RemoveInstallation(const std::string& directory, const std::vector<std::string>& files) {
  for (const std::string& name : files) DeleteFileA((directory + name).c_str());
  DeleteFileA((directory + "language\\ModeConfig.ini").c_str());
  RemoveDirectoryA((directory + "language").c_str());
  RemoveDirectoryA(directory.c_str());
}

double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

sys::UniqueServiceHandle OpenNamedService(const char* name, DWORD access) {
  sys::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return sys::UniqueServiceHandle();
  return sys::UniqueServiceHandle(OpenServiceA(manager.get(), name, access));
}

SERVICE_STATUS_PROCESS QueryServiceProcess(const char* name) {
  SERVICE_STATUS_PROCESS status{};
  sys::UniqueServiceHandle service = OpenNamedService(name, SERVICE_QUERY_STATUS);
  DWORD needed = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof status, &needed)) {
    status = {};
  }
  return status;
}

void RemoveService(const char* name) {
  const SERVICE_STATUS_PROCESS status = QueryServiceProcess(name);
  if (status.dwCurrentState != 0 && status.dwCurrentState != SERVICE_STOPPED) {
    if (sys::UniqueServiceHandle service = OpenNamedService(name, SERVICE_STOP)) {
      SERVICE_STATUS ignored{};
      ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
    }
    SERVICE_STATUS_PROCESS seen{};
    if (!PollFor(name, SERVICE_STOPPED, NowMs(), 5000, &seen) && status.dwProcessId != 0) {
      KillProcess(status.dwProcessId);
    }
  }
  if (sys::UniqueServiceHandle service = OpenNamedService(name, DELETE)) DeleteService(service.get());
  // Deletion completes once the last handle to the service is closed.
  const double since = NowMs();
  while (OpenNamedService(name, SERVICE_QUERY_STATUS) && NowMs() - since < 5000) Sleep(10);
}

std::string RegisterOwnProcessService(const char* name, const std::string& commandLine) {
  RemoveService(name);
  sys::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return "cannot open the service manager: " + std::to_string(GetLastError());
  sys::UniqueServiceHandle service(CreateServiceA(manager.get(), name, name, SERVICE_ALL_ACCESS,
                                                  SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
                                                  nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) return std::string("cannot create ") + name + ": " + std::to_string(GetLastError());
  return std::string();
}

sys::UniqueHandle StartDetached(const std::string& exe, const std::string& arguments, DWORD* pid) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION info{};
  std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return sys::UniqueHandle();
  }
  CloseHandle(info.hThread);
  if (pid != nullptr) *pid = info.dwProcessId;
  return sys::UniqueHandle(info.hProcess);
}

ServiceCycle StartAndStop(const char* name, DWORD boundMs) {
  ServiceCycle cycle;
  sys::UniqueServiceHandle service = OpenNamedService(name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) {
    cycle.failure = std::string("cannot open ") + name;
    return cycle;
  }
  SERVICE_STATUS_PROCESS seen{};
  const double startAt = NowMs();
  if (!StartServiceA(service.get(), 0, nullptr)) {
    cycle.failure = "StartService failed: " + std::to_string(GetLastError());
    return cycle;
  }
  if (!PollFor(name, SERVICE_RUNNING, startAt, boundMs, &seen)) {
    cycle.failure = "no RUNNING; state " + std::to_string(seen.dwCurrentState);
    return cycle;
  }
  cycle.startMs = NowMs() - startAt;

  sys::UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, seen.dwProcessId));
  if (!process) {
    cycle.failure = "cannot open the service process " + std::to_string(seen.dwProcessId);
    return cycle;
  }
  SERVICE_STATUS ignored{};
  const double stopAt = NowMs();
  if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored)) {
    cycle.failure = "ControlService(STOP) failed: " + std::to_string(GetLastError());
    return cycle;
  }
  if (!PollFor(name, SERVICE_STOPPED, stopAt, boundMs, &seen)) {
    cycle.failure = "no STOPPED; state " + std::to_string(seen.dwCurrentState);
    return cycle;
  }
  if (WaitForSingleObject(process.get(), boundMs) != WAIT_OBJECT_0) {
    cycle.failure = "STOPPED, but the process is still there";
    return cycle;
  }
  cycle.stopMs = NowMs() - stopAt;
  cycle.win32ExitCode = seen.dwWin32ExitCode;
  GetExitCodeProcess(process.get(), &cycle.exitCode);
  return cycle;
}

}  // namespace tools
