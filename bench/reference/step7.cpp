// reference_step7.exe, service "MarrowbankReference7": step 6 with the worker ended through its
// queue and one more STOP_PENDING report before the wait for its end.
#include <iostream>

#include "bench/reference/service.h"
#include "bench/reference/startup.h"
#include "device/fp_sdk.h"

// Referenced so that the linker keeps the imports and the stream objects, as the product's are.
extern "C" {
void* volatile g_keepUser32 = reinterpret_cast<void*>(&PostThreadMessageA);
void* volatile g_keepSdk = reinterpret_cast<void*>(&vsRefreshDeviceList);
void* volatile g_keepStreams = &std::cerr;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  reference::QueryState("MarrowbankReference7");
  reference::Hooks hooks;
  hooks.startUp = reference::StartWorker;
  hooks.onStop = reference::ReportStopPending;
  hooks.shutDown = reference::EndWorker;
  return reference::Serve("MarrowbankReference7", hooks);
}
