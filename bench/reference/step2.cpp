// reference_step2.exe, service "MarrowbankReference2": step 1 with user32 imported (and so loaded),
// which the product's worker queue needs.
#include "bench/reference/service.h"

// Referenced so that the linker keeps the import, as the product's is.
extern "C" {
void* volatile g_keepUser32 = reinterpret_cast<void*>(&PostThreadMessageA);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  reference::QueryState("MarrowbankReference2");
  return reference::Serve("MarrowbankReference2");
}
