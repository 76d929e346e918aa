#include "platform/syscalls.h"

namespace sys {
namespace {

// Windows 7 has it only with update KB2533623: looked up, so that the executable still loads without.
// Its name hides the import's from the table below.
BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
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

// Each row takes the function its name finds from here: the Win32 function, or one of this file that
// stands in for it under the same name. Generated from the list that makes the members, in their
// order; constant, so that the table is filled before any code runs.
const Calls kReal = {
#define SYS_REAL(name, failure) name,
    SYS_CALLS(SYS_REAL)
#undef SYS_REAL
};
Calls g_calls = kReal;

}  // namespace

Calls& calls() { return g_calls; }
const Calls& realCalls() { return kReal; }

}  // namespace sys
