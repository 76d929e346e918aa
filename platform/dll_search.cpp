#include "platform/dll_search.h"

#include <windows.h>

#include "platform/syscalls.h"

bool RestrictDllSearch() {
  return sys::calls().SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR) !=
         FALSE;
}

unsigned long FullPathLoadFlags() {
  // The flags came with the same update as the function, so its presence tells that they work.
  const HMODULE kernel = sys::calls().GetModuleHandleA("kernel32.dll");
  if (kernel != nullptr && sys::calls().GetProcAddress(kernel, "SetDefaultDllDirectories") != nullptr) {
    return LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
  }
  return LOAD_WITH_ALTERED_SEARCH_PATH;
}
