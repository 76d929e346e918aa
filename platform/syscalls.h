// The platform calls that tests must be able to make fail, or watch.
//
// Product code calls these through `sys::calls()` instead of directly. Every row defaults to the real
// function; a test swaps one row for a plain WINAPI function with `sys::ScopedCall` and the row is
// restored when the override goes out of scope. Only calls whose failure or order a test needs to
// see belong here: everything else is called directly.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <dbt.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wintrust.h>
#include <wtsapi32.h>

#include <cstdint>

namespace sys {

// How the fault matrix (tests/faults/) makes a row fail: what the call returns, and the row's own
// typical error, which the matrix tries besides the errors it tries on every row. The call leaves
// the error it is made to fail with as the last error.
struct Failure {
  std::uintptr_t value;  // the result, as bits
  DWORD typicalError;
  bool keepsEffect;   // a release: the object is released, and the call reports failure
  bool returnsError;  // the registry's way: the error is the result, 0 being success
};

// Returns `value` (0, null or FALSE unless given).
constexpr Failure Fails(DWORD error, std::uintptr_t value = 0) { return {value, error, false, false}; }
// Releases, then returns 0 (FALSE).
constexpr Failure ReleaseFails(DWORD error) { return {0, error, true, false}; }
// Returns the error.
constexpr Failure ReturnsError(DWORD error) { return {0, error, false, true}; }
// Releases, then returns the error.
constexpr Failure ReleaseReturnsError(DWORD error) { return {0, error, true, true}; }
// A call without a result cannot be made to fail.
constexpr Failure NeverFails() { return {0, ERROR_GEN_FAILURE, false, false}; }
// INVALID_HANDLE_VALUE, as bits.
constexpr std::uintptr_t kInvalidHandle = ~std::uintptr_t{0};

// Every row, once: ROW(name, failure). The name is the Win32 function's, which is also the row's member
// of `Calls` and the name the fault matrix prints; the failure is written in the words above. A new
// platform call is one line here.
#define SYS_CALLS(ROW)                                                                                 \
  /* Kernel objects, threads, waits. */                                                                \
  ROW(CloseHandle, ReleaseFails(ERROR_INVALID_HANDLE))                                                 \
  ROW(CreateEventA, Fails(ERROR_NO_SYSTEM_RESOURCES))                                                  \
  ROW(CreateThread, Fails(ERROR_TOO_MANY_TCBS))                                                        \
  ROW(WaitForSingleObject, Fails(ERROR_INVALID_HANDLE, WAIT_FAILED))                                   \
  ROW(Sleep, NeverFails())                                                                             \
  ROW(PostThreadMessageA, Fails(ERROR_NOT_ENOUGH_QUOTA))                                               \
  ROW(TerminateProcess, Fails(ERROR_ACCESS_DENIED))                                                    \
  ROW(GetModuleFileNameW, Fails(ERROR_INSUFFICIENT_BUFFER))                                            \
  ROW(GetStdHandle, Fails(ERROR_INVALID_HANDLE, kInvalidHandle))                                       \
  ROW(AttachConsole, Fails(ERROR_INVALID_HANDLE))                                                      \
                                                                                                       \
  /* Libraries. */                                                                                     \
  ROW(SetDefaultDllDirectories, Fails(ERROR_INVALID_PARAMETER))                                        \
  ROW(GetModuleHandleA, Fails(ERROR_MOD_NOT_FOUND))                                                    \
  ROW(LoadLibraryExA, Fails(ERROR_MOD_NOT_FOUND))                                                      \
  ROW(GetProcAddress, Fails(ERROR_PROC_NOT_FOUND))                                                     \
  ROW(FreeLibrary, ReleaseFails(ERROR_INVALID_HANDLE))                                                 \
                                                                                                       \
  /* Processes, tokens, sessions. */                                                                   \
  ROW(CreateToolhelp32Snapshot, Fails(ERROR_BAD_LENGTH, kInvalidHandle))                               \
  ROW(OpenProcessToken, Fails(ERROR_ACCESS_DENIED))                                                    \
  ROW(DuplicateTokenEx, Fails(ERROR_BAD_IMPERSONATION_LEVEL))                                          \
  ROW(WTSGetActiveConsoleSessionId, Fails(ERROR_NO_SUCH_LOGON_SESSION, 0xFFFFFFFF))                    \
  ROW(SetTokenInformation, Fails(ERROR_PRIVILEGE_NOT_HELD))                                            \
  ROW(CreateEnvironmentBlock, Fails(ERROR_NO_TOKEN))                                                   \
  ROW(DestroyEnvironmentBlock, ReleaseFails(ERROR_INVALID_PARAMETER))                                  \
  ROW(CreateProcessAsUserA, Fails(ERROR_FILE_NOT_FOUND))                                               \
  ROW(OutputDebugStringA, NeverFails())                                                                \
                                                                                                       \
  /* Service control manager. */                                                                       \
  ROW(OpenSCManagerA, Fails(RPC_S_SERVER_UNAVAILABLE))                                                 \
  ROW(OpenServiceA, Fails(ERROR_SERVICE_DOES_NOT_EXIST))                                               \
  ROW(QueryServiceStatus, Fails(ERROR_INVALID_HANDLE))                                                 \
  ROW(QueryServiceStatusEx, Fails(ERROR_INVALID_HANDLE))                                               \
  ROW(CloseServiceHandle, ReleaseFails(ERROR_INVALID_HANDLE))                                          \
  ROW(StartServiceCtrlDispatcherA, Fails(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT))                     \
  ROW(CreateServiceA, Fails(ERROR_SERVICE_EXISTS))                                                     \
  ROW(ChangeServiceConfig2A, Fails(ERROR_SERVICE_MARKED_FOR_DELETE))                                   \
  ROW(ChangeServiceConfigA, Fails(ERROR_SERVICE_MARKED_FOR_DELETE))                                    \
  ROW(QueryServiceConfigA, Fails(ERROR_INSUFFICIENT_BUFFER))                                           \
  ROW(DeleteService, Fails(ERROR_SERVICE_MARKED_FOR_DELETE))                                           \
  ROW(StartServiceA, Fails(ERROR_SERVICE_ALREADY_RUNNING))                                             \
  ROW(ControlService, Fails(ERROR_SERVICE_CANNOT_ACCEPT_CTRL))                                         \
  ROW(RegisterServiceCtrlHandlerExA, Fails(ERROR_SERVICE_DOES_NOT_EXIST))                              \
  ROW(SetServiceStatus, Fails(ERROR_INVALID_DATA))                                                     \
  ROW(RegisterDeviceNotificationA, Fails(ERROR_INVALID_DATA))                                          \
                                                                                                       \
  /* User interface. */                                                                                \
  ROW(MessageBoxA, Fails(ERROR_NOT_ENOUGH_MEMORY))                                                     \
                                                                                                       \
  /* Thread timers. */                                                                                 \
  ROW(SetTimer, Fails(ERROR_NOT_ENOUGH_QUOTA))                                                         \
  ROW(KillTimer, ReleaseFails(ERROR_INVALID_PARAMETER))                                                \
                                                                                                       \
  /* Calls whose failure can leave the service stuck, leaking or starting the program twice, added */  \
  /* so that the fault matrix reaches them too. */                                                     \
  ROW(SetEvent, Fails(ERROR_INVALID_HANDLE))                                                           \
  ROW(WaitForMultipleObjects, Fails(ERROR_INVALID_HANDLE, WAIT_FAILED))                                \
  ROW(GetMessageA, Fails(ERROR_INVALID_WINDOW_HANDLE, static_cast<std::uintptr_t>(-1)))                \
  /* Not ERROR_NO_MORE_FILES: that is the walk's real end, which a snapshot (a fixed copy) only */     \
  /* gives there. */                                                                                   \
  ROW(Process32First, Fails(ERROR_BAD_LENGTH))                                                         \
  ROW(Process32Next, Fails(ERROR_BAD_LENGTH))                                                          \
                                                                                                       \
  /* Event log, its source's registry key, and the console user's token. */                            \
  ROW(RegisterEventSourceA, Fails(ERROR_ACCESS_DENIED))                                                \
  ROW(ReportEventA, Fails(ERROR_LOG_FILE_FULL))                                                        \
  ROW(DeregisterEventSource, ReleaseFails(ERROR_INVALID_HANDLE))                                       \
  ROW(RegCreateKeyExA, ReturnsError(ERROR_ACCESS_DENIED))                                              \
  ROW(RegSetValueExA, ReturnsError(ERROR_ACCESS_DENIED))                                               \
  ROW(RegCloseKey, ReleaseReturnsError(ERROR_INVALID_HANDLE))                                          \
  ROW(RegDeleteKeyA, ReturnsError(ERROR_ACCESS_DENIED))                                                \
  ROW(WTSQueryUserToken, Fails(ERROR_NO_TOKEN))                                                        \
                                                                                                       \
  /* The installer's Chinese texts through the wide-character calls, readable on every code page. */   \
  ROW(MessageBoxW, Fails(ERROR_NOT_ENOUGH_MEMORY))                                                     \
  ROW(ChangeServiceConfig2W, Fails(ERROR_SERVICE_MARKED_FOR_DELETE))                                   \
                                                                                                       \
  /* Files, the switches' console output, the process behind a stop, the event source's */             \
  /* registration: calls whose failure the administrator must still be told about correctly. */        \
  ROW(CreateFileA, Fails(ERROR_SHARING_VIOLATION, kInvalidHandle))                                     \
  ROW(WriteFile, Fails(ERROR_NO_DATA))                                                                 \
  ROW(ReadFile, Fails(ERROR_LOCK_VIOLATION))                                                           \
  ROW(OpenProcess, Fails(ERROR_INVALID_PARAMETER))                                                     \
  ROW(QueryFullProcessImageNameA, Fails(ERROR_ACCESS_DENIED))                                          \
  ROW(RegGetValueA, ReturnsError(ERROR_FILE_NOT_FOUND))                                                \
                                                                                                       \
  /* The mode file's values. A value that cannot be read comes back empty: the key takes its */        \
  /* default. */                                                                                       \
  ROW(GetPrivateProfileStringA, Fails(ERROR_FILE_NOT_FOUND))                                           \
                                                                                                       \
  /* Who may write the service's files, and what the self-test reads: the failure actions, the */      \
  /* signatures, the console user's name. */                                                           \
  ROW(GetNamedSecurityInfoA, ReturnsError(ERROR_ACCESS_DENIED))                                        \
  ROW(LookupAccountSidA, Fails(ERROR_NONE_MAPPED))                                                     \
  ROW(QueryServiceConfig2A, Fails(ERROR_INVALID_LEVEL))                                                \
  ROW(WinVerifyTrust, ReturnsError(static_cast<DWORD>(TRUST_E_NOSIGNATURE)))                           \
  ROW(WTSQuerySessionInformationA, Fails(ERROR_ACCESS_DENIED))                                         \
                                                                                                       \
  /* The policy key and the mode file's folder, read and watched while the service runs. */            \
  ROW(RegOpenKeyExA, ReturnsError(ERROR_ACCESS_DENIED))                                                \
  ROW(RegQueryValueExA, ReturnsError(ERROR_MORE_DATA))                                                 \
  ROW(RegNotifyChangeKeyValue, ReturnsError(ERROR_NOT_ENOUGH_MEMORY))                                  \
  ROW(FindFirstChangeNotificationA, Fails(ERROR_ACCESS_DENIED, kInvalidHandle))                        \
  ROW(FindCloseChangeNotification, ReleaseFails(ERROR_INVALID_HANDLE))

// One member per row, of the Win32 function's own type (on i686, its __stdcall convention included).
struct Calls {
#define SYS_MEMBER(name, failure) decltype(&::name) name;
  SYS_CALLS(SYS_MEMBER)
#undef SYS_MEMBER
};

// The table in force. Product code reads it on every call, so an override takes effect at once.
Calls& calls();

// The real functions, for a fake that wants to pass a call through.
const Calls& realCalls();

// Replaces one row for the life of the object, then puts back what was there.
template <typename Fn>
class ScopedCall {
 public:
  ScopedCall(Fn& row, Fn replacement) : row_(row), saved_(row) { row_ = replacement; }
  ~ScopedCall() { row_ = saved_; }
  ScopedCall(const ScopedCall&) = delete;
  ScopedCall& operator=(const ScopedCall&) = delete;

 private:
  Fn& row_;
  Fn saved_;
};

}  // namespace sys
