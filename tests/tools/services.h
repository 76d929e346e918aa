// Driving a service from outside through the service manager, as an administrator's tools do: for
// the soak test and the benchmark.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.h"

namespace tools {

// Copies `files` from beside this program into `directory` (ending in a backslash; made when
// missing) and writes `modeFile` there as "language\ModeConfig.ini". An empty text, or what failed.
std::string LayOutInstallation(const std::string& directory, const std::vector<std::string>& files,
                               const std::string& modeFile);
// Deletes what LayOutInstallation put there, and the directory.
void RemoveInstallation(const std::string& directory, const std::vector<std::string>& files);

// `name` opened with `access` on the local service manager; empty when it cannot be opened.
sys::UniqueServiceHandle OpenNamedService(const char* name, DWORD access);

// The service's state and process; all zero when it does not exist or cannot be queried.
SERVICE_STATUS_PROCESS QueryServiceProcess(const char* name);

// Polls the status without pauses until it shows `state` (true), or until `boundMs` after `since`
// (NowMs); `seen` is the last status read.
bool PollFor(const char* name, DWORD state, double since, DWORD boundMs, SERVICE_STATUS_PROCESS* seen);

// Registers `name` as an own-process, demand-start service running `commandLine` as LocalSystem,
// after removing any service of that name. An empty text, or why it failed.
std::string RegisterOwnProcessService(const char* name, const std::string& commandLine);

// Stops the service if it runs (ending its process when it will not stop) and removes it.
void RemoveService(const char* name);

// Starts `exe` with none of this process's standard handles: a child that inherits them can keep a
// test runner's pipe open for as long as it lives. Its process handle, or empty.
sys::UniqueHandle StartDetached(const std::string& exe, const std::string& arguments, DWORD* pid = nullptr);

// One start and stop from outside. The start runs from StartServiceA to the first RUNNING the
// manager reports, the stop from ControlService(STOP) to STOPPED with the process gone. The status
// is polled without pauses so that both ends are seen as soon as the manager shows them.
struct ServiceCycle {
  std::string failure;  // empty when both ends were reached within the bound
  double startMs = 0;
  double stopMs = 0;
  DWORD exitCode = STILL_ACTIVE;
  DWORD win32ExitCode = 0;  // what the service reported with STOPPED
};
ServiceCycle StartAndStop(const char* name, DWORD boundMs);

// Milliseconds on the performance counter.
double NowMs();

}  // namespace tools
