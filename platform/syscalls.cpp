#include "platform/syscalls.h"

namespace sys {
namespace {

const Calls kReal = {
    ::CloseHandle,
    ::CreateEventA,
    ::CreateThread,
    ::WaitForSingleObject,
    ::Sleep,
    ::GetModuleFileNameA,
    ::GetStdHandle,
    ::AttachConsole,
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
};

// Every row is a function pointer: a row added to Calls but not to kReal would be left null.
static_assert(sizeof(Calls) == 40 * sizeof(void*), "keep kReal in step with Calls");

Calls g_calls = kReal;

}  // namespace

Calls& calls() { return g_calls; }
const Calls& realCalls() { return kReal; }

}  // namespace sys
