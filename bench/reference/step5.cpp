// reference_step5.exe, service "MarrowbankReference5": step 4 with the product's start-up: the
// device notification, two START_PENDING reports, the mode file read and a worker thread with its
// ready handshake (its handle closed at the stop).
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
  reference::QueryState("MarrowbankReference5");
  reference::Hooks hooks;
  hooks.startUp = reference::StartWorker;
  hooks.shutDown = reference::CloseWorker;
  return reference::Serve("MarrowbankReference5", hooks);
}
