// reference_step3.exe, service "MarrowbankReference3": step 2 with the fingerprint SDK's DLL
// imported (and so loaded at start).
#include "bench/reference/service.h"
#include "device/fp_sdk.h"

// Referenced so that the linker keeps the imports, as the product's are.
extern "C" {
void* volatile g_keepUser32 = reinterpret_cast<void*>(&PostThreadMessageA);
void* volatile g_keepSdk = reinterpret_cast<void*>(&vsRefreshDeviceList);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  reference::QueryState("MarrowbankReference3");
  return reference::Serve("MarrowbankReference3");
}
