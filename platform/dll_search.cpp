#include "platform/dll_search.h"

#include <windows.h>

#include "platform/syscalls.h"

bool RestrictDllSearch() {
  return sys::calls().SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR) !=
         FALSE;
}
