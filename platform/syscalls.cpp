#include "platform/syscalls.h"

namespace sys {
namespace {

// Windows 7 has it only with update KB2533623: looked up, so that the executable still loads without.
BOOL WINAPI SetDefaultDllDirectoriesWhereAvailable(DWORD flags) {
  using Fn = decltype(&::SetDefaultDllDirectories);
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  const auto set = kernel != nullptr
                       ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                       : nullptr;
  if (set == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return set(flags);
}

const Calls kReal = {
    ::CloseHandle,
    ::CreateEventA,
    ::CreateThread,
    ::WaitForSingleObject,
    ::Sleep,
    ::PostThreadMessageA,
    ::TerminateProcess,
    ::GetModuleFileNameW,
    ::GetStdHandle,
    ::AttachConsole,
    SetDefaultDllDirectoriesWhereAvailable,
    ::GetModuleHandleA,
    ::LoadLibraryExA,
    ::GetProcAddress,
    ::FreeLibrary,
    ::CreateToolhelp32Snapshot,
    ::OpenProcessToken,
    ::DuplicateTokenEx,
    ::WTSGetActiveConsoleSessionId,
    ::SetTokenInformation,
    ::CreateEnvironmentBlock,
    ::DestroyEnvironmentBlock,
    ::CreateProcessAsUserA,
    ::OutputDebugStringA,
    ::OpenSCManagerA,
    ::OpenServiceA,
    ::QueryServiceStatus,
    ::QueryServiceStatusEx,
    ::CloseServiceHandle,
    ::StartServiceCtrlDispatcherA,
    ::CreateServiceA,
    ::ChangeServiceConfig2A,
    ::ChangeServiceConfigA,
    ::QueryServiceConfigA,
    ::DeleteService,
    ::StartServiceA,
    ::ControlService,
    ::RegisterServiceCtrlHandlerExA,
    ::SetServiceStatus,
    ::RegisterDeviceNotificationA,
    ::MessageBoxA,
    ::SetTimer,
    ::KillTimer,
    // Reached by the fault matrix.
    ::SetEvent,
    ::WaitForMultipleObjects,
    ::GetMessageA,
    ::Process32First,
    ::Process32Next,
    ::RegisterEventSourceA,
    ::ReportEventA,
    ::DeregisterEventSource,
    ::RegCreateKeyExA,
    ::RegSetValueExA,
    ::RegCloseKey,
    ::RegDeleteKeyA,
    ::WTSQueryUserToken,
    ::MessageBoxW,
    ::ChangeServiceConfig2W,
    ::CreateFileA,
    ::WriteFile,
    ::ReadFile,
    ::OpenProcess,
    ::QueryFullProcessImageNameA,
    ::RegGetValueA,
    ::GetPrivateProfileStringA,
    ::GetNamedSecurityInfoA,
    ::LookupAccountSidA,
    ::QueryServiceConfig2A,
    ::WinVerifyTrust,
    ::WTSQuerySessionInformationA,
};

// Every row is a function pointer: a row added to Calls but not to kReal would be left null.
static_assert(sizeof(Calls) == 70 * sizeof(void*), "keep kReal in step with Calls");

Calls g_calls = kReal;

}  // namespace

Calls& calls() { return g_calls; }
const Calls& realCalls() { return kReal; }

}  // namespace sys
