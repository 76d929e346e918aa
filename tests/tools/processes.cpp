#include "tests/tools/processes.h"

#include <tlhelp32.h>

namespace tools {

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> list;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return list;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    list.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  }
  CloseHandle(snapshot);
  return list;
}

std::vector<DWORD> FindProcesses(const char* exe) {
  std::vector<DWORD> pids;
  for (const ProcessEntry& p : ListProcesses()) {
    if (_stricmp(p.exe.c_str(), exe) == 0) pids.push_back(p.pid);
  }
  return pids;
}

DWORD SessionOf(DWORD pid) {
  DWORD session = 0;
  return ProcessIdToSessionId(pid, &session) ? session : static_cast<DWORD>(-1);
}

bool ProcessExists(DWORD pid) {
  for (const ProcessEntry& p : ListProcesses()) {
    if (p.pid == pid) return true;
  }
  return false;
}

bool WaitProcessGone(DWORD pid, DWORD timeoutMs) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return !ProcessExists(pid);
  const bool gone = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(process);
  return gone;
}

bool KillProcess(DWORD pid, DWORD timeoutMs) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (!process) return !ProcessExists(pid);
  TerminateProcess(process, 1);
  const bool gone = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(process);
  return gone;
}

}  // namespace tools
