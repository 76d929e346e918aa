// reference_step6.exe, service "MarrowbankReference6": step 5 with the product's two STOP_PENDING
// reports in the control handler: the stop's own, then the current state again.
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
  reference::QueryState("MarrowbankReference6");
  reference::Hooks hooks;
  hooks.startUp = reference::StartWorker;
  hooks.onStop = reference::ReportStopPending;
  hooks.shutDown = reference::CloseWorker;
  return reference::Serve("MarrowbankReference6", hooks);
}
