#include "tests/faults/ledger.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "tests/faults/countdown.h"

namespace fault {
namespace {

enum class Kind { kKernelHandle, kServiceHandle, kEnvironmentBlock, kLibrary, kTimer, kRegistryKey, kChangeNotification };

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kKernelHandle:
      return "kernel handle";
    case Kind::kServiceHandle:
      return "service-manager handle";
    case Kind::kEnvironmentBlock:
      return "environment block";
    case Kind::kLibrary:
      return "library";
    case Kind::kTimer:
      return "thread timer";
    case Kind::kRegistryKey:
      return "registry key";
    case Kind::kChangeNotification:
      return "change notification";
  }
  return "?";
}

struct Ledger {
  std::mutex mutex;
  std::map<std::pair<Kind, std::uintptr_t>, std::string> held;  // what, by whom it was obtained
  std::vector<std::string> strayReleases;
  std::vector<DWORD> started;
};

Ledger& ledger() {
  static Ledger l;
  return l;
}

template <typename T>
std::uintptr_t Bits(T value) {
  return reinterpret_cast<std::uintptr_t>(value);
}

std::string Hex(std::uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
  return text;
}

void Acquire(Kind kind, std::uintptr_t value, const char* by) {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  ledger().held[{kind, value}] = by;
}

// A release of something not held is a fault, except for timers: cancelling timer 111, which this
// service never arms, is part of every timer check.
void Release(Kind kind, std::uintptr_t value, const char* by) {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  if (ledger().held.erase({kind, value}) == 0 && kind != Kind::kTimer) {
    ledger().strayReleases.push_back(std::string(by) + " released a " + KindName(kind) + " " + Hex(value) +
                                     " that was not held");
  }
}

// Acquisitions.
void OnHandleResult(HANDLE h, const char* by) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) Acquire(Kind::kKernelHandle, Bits(h), by);
}
void CreateEventSeen(HANDLE h, LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) { OnHandleResult(h, "CreateEventA"); }
void CreateThreadSeen(HANDLE h, LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
  OnHandleResult(h, "CreateThread");
}
void SnapshotSeen(HANDLE h, DWORD, DWORD) { OnHandleResult(h, "CreateToolhelp32Snapshot"); }
void CreateFileSeen(HANDLE h, LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  OnHandleResult(h, "CreateFileA");
}
void OpenProcessSeen(HANDLE h, DWORD, BOOL, DWORD) { OnHandleResult(h, "OpenProcess"); }
void UserTokenSeen(BOOL ok, ULONG, PHANDLE token) {
  if (ok) OnHandleResult(*token, "WTSQueryUserToken");
}
void OpenProcessTokenSeen(BOOL ok, HANDLE, DWORD, PHANDLE token) {
  if (ok) OnHandleResult(*token, "OpenProcessToken");
}
void DuplicateTokenSeen(BOOL ok, HANDLE, DWORD, LPSECURITY_ATTRIBUTES, SECURITY_IMPERSONATION_LEVEL, TOKEN_TYPE,
                        PHANDLE token) {
  if (ok) OnHandleResult(*token, "DuplicateTokenEx");
}
void CreateProcessSeen(BOOL ok, HANDLE, LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                       LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION process) {
  if (!ok) return;
  OnHandleResult(process->hProcess, "CreateProcessAsUserA");
  OnHandleResult(process->hThread, "CreateProcessAsUserA");
  std::lock_guard<std::mutex> lock(ledger().mutex);
  ledger().started.push_back(process->dwProcessId);
}
void EnvironmentSeen(BOOL ok, LPVOID* block, HANDLE, BOOL) {
  if (ok) Acquire(Kind::kEnvironmentBlock, Bits(*block), "CreateEnvironmentBlock");
}
void LoadLibrarySeen(HMODULE module, LPCSTR, HANDLE, DWORD) {
  if (module != nullptr) Acquire(Kind::kLibrary, Bits(module), "LoadLibraryExA");
}
void OnServiceHandle(SC_HANDLE h, const char* by) {
  if (h != nullptr) Acquire(Kind::kServiceHandle, Bits(h), by);
}
void OpenManagerSeen(SC_HANDLE h, LPCSTR, LPCSTR, DWORD) { OnServiceHandle(h, "OpenSCManagerA"); }
void OpenServiceSeen(SC_HANDLE h, SC_HANDLE, LPCSTR, DWORD) { OnServiceHandle(h, "OpenServiceA"); }
void CreateServiceSeen(SC_HANDLE h, SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD,
                       LPCSTR, LPCSTR, LPCSTR) {
  OnServiceHandle(h, "CreateServiceA");
}
void OnRegistryKey(LONG result, PHKEY key, const char* by) {
  if (result == ERROR_SUCCESS && *key != nullptr) Acquire(Kind::kRegistryKey, Bits(*key), by);
}
void OpenKeySeen(LONG result, HKEY, LPCSTR, DWORD, REGSAM, PHKEY key) { OnRegistryKey(result, key, "RegOpenKeyExA"); }
void CreateKeySeen(LONG result, HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY key,
                   LPDWORD) {
  OnRegistryKey(result, key, "RegCreateKeyExA");
}
void ChangeNotificationSeen(HANDLE h, LPCSTR, BOOL, DWORD) {
  if (h != INVALID_HANDLE_VALUE && h != nullptr) {
    Acquire(Kind::kChangeNotification, Bits(h), "FindFirstChangeNotificationA");
  }
}
void SetTimerSeen(UINT_PTR id, HWND, UINT_PTR, UINT, TIMERPROC) {
  if (id != 0) Acquire(Kind::kTimer, id, "SetTimer");
}

// Releases: the call was made, whatever it answered.
void CloseHandleSeen(BOOL, HANDLE h) { Release(Kind::kKernelHandle, Bits(h), "CloseHandle"); }
void CloseServiceHandleSeen(BOOL, SC_HANDLE h) { Release(Kind::kServiceHandle, Bits(h), "CloseServiceHandle"); }
void DestroyEnvironmentSeen(BOOL, LPVOID block) {
  Release(Kind::kEnvironmentBlock, Bits(block), "DestroyEnvironmentBlock");
}
void FreeLibrarySeen(BOOL, HMODULE module) { Release(Kind::kLibrary, Bits(module), "FreeLibrary"); }
void KillTimerSeen(BOOL, HWND, UINT_PTR id) { Release(Kind::kTimer, id, "KillTimer"); }
void CloseKeySeen(LONG, HKEY key) { Release(Kind::kRegistryKey, Bits(key), "RegCloseKey"); }
void CloseChangeNotificationSeen(BOOL, HANDLE h) {
  Release(Kind::kChangeNotification, Bits(h), "FindCloseChangeNotification");
}

}  // namespace

void WatchAcquisitionsAndReleases() {
  Observe(&sys::Calls::CreateEventA, CreateEventSeen);
  Observe(&sys::Calls::CreateThread, CreateThreadSeen);
  Observe(&sys::Calls::CreateToolhelp32Snapshot, SnapshotSeen);
  Observe(&sys::Calls::CreateFileA, CreateFileSeen);
  Observe(&sys::Calls::OpenProcess, OpenProcessSeen);
  Observe(&sys::Calls::OpenProcessToken, OpenProcessTokenSeen);
  Observe(&sys::Calls::DuplicateTokenEx, DuplicateTokenSeen);
  Observe(&sys::Calls::WTSQueryUserToken, UserTokenSeen);
  Observe(&sys::Calls::CreateProcessAsUserA, CreateProcessSeen);
  Observe(&sys::Calls::CreateEnvironmentBlock, EnvironmentSeen);
  Observe(&sys::Calls::LoadLibraryExA, LoadLibrarySeen);
  Observe(&sys::Calls::OpenSCManagerA, OpenManagerSeen);
  Observe(&sys::Calls::OpenServiceA, OpenServiceSeen);
  Observe(&sys::Calls::CreateServiceA, CreateServiceSeen);
  Observe(&sys::Calls::SetTimer, SetTimerSeen);
  Observe(&sys::Calls::CloseHandle, CloseHandleSeen);
  Observe(&sys::Calls::CloseServiceHandle, CloseServiceHandleSeen);
  Observe(&sys::Calls::DestroyEnvironmentBlock, DestroyEnvironmentSeen);
  Observe(&sys::Calls::FreeLibrary, FreeLibrarySeen);
  Observe(&sys::Calls::KillTimer, KillTimerSeen);
  Observe(&sys::Calls::RegOpenKeyExA, OpenKeySeen);
  Observe(&sys::Calls::RegCreateKeyExA, CreateKeySeen);
  Observe(&sys::Calls::RegCloseKey, CloseKeySeen);
  Observe(&sys::Calls::FindFirstChangeNotificationA, ChangeNotificationSeen);
  Observe(&sys::Calls::FindCloseChangeNotification, CloseChangeNotificationSeen);
}

void ClearLedger() {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  ledger().held.clear();
  ledger().strayReleases.clear();
  ledger().started.clear();
}

void ReleaseHeld() {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  for (const auto& [what, by] : ledger().held) {
    const std::uintptr_t value = what.second;
    switch (what.first) {
      case Kind::kKernelHandle:
        sys::realCalls().CloseHandle(reinterpret_cast<HANDLE>(value));
        break;
      case Kind::kEnvironmentBlock:
        sys::realCalls().DestroyEnvironmentBlock(reinterpret_cast<LPVOID>(value));
        break;
      case Kind::kLibrary:
        sys::realCalls().FreeLibrary(reinterpret_cast<HMODULE>(value));
        break;
      case Kind::kRegistryKey:
        sys::realCalls().RegCloseKey(reinterpret_cast<HKEY>(value));
        break;
      case Kind::kChangeNotification:
        sys::realCalls().FindCloseChangeNotification(reinterpret_cast<HANDLE>(value));
        break;
      case Kind::kServiceHandle:  // the scripted manager's: nothing real
      case Kind::kTimer:          // the scripted timers': nothing real
        break;
    }
  }
  ledger().held.clear();
}

std::vector<std::string> LedgerProblems() {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  std::vector<std::string> problems = ledger().strayReleases;
  for (const auto& [what, by] : ledger().held) {
    problems.push_back(std::string("a ") + KindName(what.first) + " " + Hex(what.second) + " from " + by +
                       " was never released");
  }
  return problems;
}

std::vector<DWORD> ProgramsStarted() {
  std::lock_guard<std::mutex> lock(ledger().mutex);
  return ledger().started;
}

}  // namespace fault
