// The process list, as the Tool Help snapshot shows it, and ending processes by id.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tools {

struct ProcessEntry {
  DWORD pid;
  DWORD parentPid;
  std::string exe;  // file name only
};

std::vector<ProcessEntry> ListProcesses();
// Ids of the processes whose file name is `exe` (compared without regard to case).
std::vector<DWORD> FindProcesses(const char* exe);
// The session a process runs in, or (DWORD)-1 when it cannot be told.
DWORD SessionOf(DWORD pid);
bool ProcessExists(DWORD pid);
// Ends the process and waits (bounded) until it has gone. True when it is gone.
bool KillProcess(DWORD pid, DWORD timeoutMs = 5000);
bool WaitProcessGone(DWORD pid, DWORD timeoutMs);

}  // namespace tools
