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

namespace sys {

struct Calls {
  // Kernel objects, threads, waits.
  decltype(&::CloseHandle) CloseHandle;
  decltype(&::CreateEventA) CreateEventA;
  decltype(&::CreateThread) CreateThread;
  decltype(&::WaitForSingleObject) WaitForSingleObject;
  decltype(&::Sleep) Sleep;
  decltype(&::PostThreadMessageA) PostThreadMessageA;
  decltype(&::TerminateProcess) TerminateProcess;
  decltype(&::GetModuleFileNameW) GetModuleFileNameW;
  decltype(&::GetStdHandle) GetStdHandle;
  decltype(&::AttachConsole) AttachConsole;

  // Libraries.
  decltype(&::SetDefaultDllDirectories) SetDefaultDllDirectories;
  decltype(&::GetModuleHandleA) GetModuleHandleA;
  decltype(&::LoadLibraryExA) LoadLibraryExA;
  decltype(&::GetProcAddress) GetProcAddress;
  decltype(&::FreeLibrary) FreeLibrary;

  // Processes, tokens, sessions.
  decltype(&::CreateToolhelp32Snapshot) CreateToolhelp32Snapshot;
  decltype(&::OpenProcessToken) OpenProcessToken;
  decltype(&::DuplicateTokenEx) DuplicateTokenEx;
  decltype(&::WTSGetActiveConsoleSessionId) WTSGetActiveConsoleSessionId;
  decltype(&::SetTokenInformation) SetTokenInformation;
  decltype(&::CreateEnvironmentBlock) CreateEnvironmentBlock;
  decltype(&::DestroyEnvironmentBlock) DestroyEnvironmentBlock;
  decltype(&::CreateProcessAsUserA) CreateProcessAsUserA;
  decltype(&::OutputDebugStringA) OutputDebugStringA;

  // Service control manager.
  decltype(&::OpenSCManagerA) OpenSCManagerA;
  decltype(&::OpenServiceA) OpenServiceA;
  decltype(&::QueryServiceStatus) QueryServiceStatus;
  decltype(&::QueryServiceStatusEx) QueryServiceStatusEx;
  decltype(&::CloseServiceHandle) CloseServiceHandle;
  decltype(&::StartServiceCtrlDispatcherA) StartServiceCtrlDispatcherA;
  decltype(&::CreateServiceA) CreateServiceA;
  decltype(&::ChangeServiceConfig2A) ChangeServiceConfig2A;
  decltype(&::ChangeServiceConfigA) ChangeServiceConfigA;
  decltype(&::QueryServiceConfigA) QueryServiceConfigA;
  decltype(&::DeleteService) DeleteService;
  decltype(&::StartServiceA) StartServiceA;
  decltype(&::ControlService) ControlService;
  decltype(&::RegisterServiceCtrlHandlerExA) RegisterServiceCtrlHandlerExA;
  decltype(&::SetServiceStatus) SetServiceStatus;
  decltype(&::RegisterDeviceNotificationA) RegisterDeviceNotificationA;

  // User interface.
  decltype(&::MessageBoxA) MessageBoxA;

  // Thread timers.
  decltype(&::SetTimer) SetTimer;
  decltype(&::KillTimer) KillTimer;

  // Calls whose failure can leave the service stuck, leaking or starting the program twice, added
  // so that the fault matrix reaches them too.
  decltype(&::SetEvent) SetEvent;
  decltype(&::WaitForMultipleObjects) WaitForMultipleObjects;
  decltype(&::GetMessageA) GetMessageA;
  decltype(&::Process32First) Process32First;
  decltype(&::Process32Next) Process32Next;

  // Event log, its source's registry key, and the console user's token.
  decltype(&::RegisterEventSourceA) RegisterEventSourceA;
  decltype(&::ReportEventA) ReportEventA;
  decltype(&::DeregisterEventSource) DeregisterEventSource;
  decltype(&::RegCreateKeyExA) RegCreateKeyExA;
  decltype(&::RegSetValueExA) RegSetValueExA;
  decltype(&::RegCloseKey) RegCloseKey;
  decltype(&::RegDeleteKeyA) RegDeleteKeyA;
  decltype(&::WTSQueryUserToken) WTSQueryUserToken;

  // The installer's Chinese texts through the wide-character calls, readable on every code page.
  decltype(&::MessageBoxW) MessageBoxW;
  decltype(&::ChangeServiceConfig2W) ChangeServiceConfig2W;

  // Files, the switches' console output, the process behind a stop, the event source's registration:
  // calls whose failure the administrator must still be told about correctly.
  decltype(&::CreateFileA) CreateFileA;
  decltype(&::WriteFile) WriteFile;
  decltype(&::ReadFile) ReadFile;
  decltype(&::OpenProcess) OpenProcess;
  decltype(&::QueryFullProcessImageNameA) QueryFullProcessImageNameA;
  decltype(&::RegGetValueA) RegGetValueA;

  // The mode file's values.
  decltype(&::GetPrivateProfileStringA) GetPrivateProfileStringA;

  // Who may write the service's files, and what the self-test reads: the failure actions, the
  // signatures, the console user's name.
  decltype(&::GetNamedSecurityInfoA) GetNamedSecurityInfoA;
  decltype(&::LookupAccountSidA) LookupAccountSidA;
  decltype(&::QueryServiceConfig2A) QueryServiceConfig2A;
  decltype(&::WinVerifyTrust) WinVerifyTrust;
  decltype(&::WTSQuerySessionInformationA) WTSQuerySessionInformationA;
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
