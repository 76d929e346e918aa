// reference_step4.exe, service "MarrowbankReference4": step 3 with the C++ runtime's stream objects
// and their initialisers.
#include <iostream>

#include "bench/reference/service.h"
#include "device/fp_sdk.h"

// Referenced so that the linker keeps the imports and the stream objects, as the product's are.
extern "C" {
void* volatile g_keepUser32 = reinterpret_cast<void*>(&PostThreadMessageA);
void* volatile g_keepSdk = reinterpret_cast<void*>(&vsRefreshDeviceList);
void* volatile g_keepStreams = &std::cerr;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  reference::QueryState("MarrowbankReference4");
  return reference::Serve("MarrowbankReference4");
}
