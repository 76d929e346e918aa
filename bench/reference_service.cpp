// The reference services the benchmark measures the product against.
//
// REFERENCE_STEP 0 is the least any service can do: register its handler, report RUNNING, wait for
// STOP, report STOPPED. Each higher step adds one piece of what the product does, in the product's
// order, so that the difference between two neighbouring steps is that piece's share of the start
// and stop times:
//
//   1  the state query before the dispatcher (manager, service, status)
//   2  user32, which the worker's message queue needs
//   3  the fingerprint SDK's DLL, imported
//   4  the C++ runtime's stream objects and their initialisers
//   5  the product's start-up: the device notification, two START_PENDING reports, the stop event,
//      the mode file read and a worker thread with its ready handshake
//   6  the product's two STOP_PENDING reports: the stop's own, then the current state again
//   7  the worker ended through its queue, a STOP_PENDING report before the wait for its end
//
// Step N serves as "MarrowbankReferenceN" ("MarrowbankReference" for step 0).
#include <windows.h>

#ifndef REFERENCE_STEP
#define REFERENCE_STEP 0
#endif
#define REFERENCE_TEXT2(x) #x
#define REFERENCE_TEXT(x) REFERENCE_TEXT2(x)
#if REFERENCE_STEP == 0
#define REFERENCE_NAME "MarrowbankReference"
#else
#define REFERENCE_NAME "MarrowbankReference" REFERENCE_TEXT(REFERENCE_STEP)
#endif

#if REFERENCE_STEP >= 3
#include "device/fp_sdk.h"
#endif
#if REFERENCE_STEP >= 4
#include <iostream>
#endif
#if REFERENCE_STEP >= 5
#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>

#include <cstring>
#endif

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  SetServiceStatus(g_status, &status);
}

#if REFERENCE_STEP >= 5
DWORD g_workerId = 0;

DWORD WINAPI Worker(LPVOID ready) {
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  SetEvent(static_cast<HANDLE>(ready));
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
  }
  return 0;
}

unsigned ReadPollSeconds() {
  char path[261] = {};
  GetModuleFileNameA(nullptr, path, 260);
  if (char* separator = std::strrchr(path, '\\')) separator[1] = '\0';
  std::strncat(path, "language\\ModeConfig.ini", sizeof path - std::strlen(path) - 1);
  char value[260] = {};
  GetPrivateProfileStringA("Fields", "PollSeconds", "", value, sizeof value, path);
  return 0;
}
#endif

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
#if REFERENCE_STEP >= 6
    Report(SERVICE_STOP_PENDING, 1, 3000);
    Report(SERVICE_STOP_PENDING);
#endif
    SetEvent(g_stop);
  }
  return NO_ERROR;
}

void WINAPI ReferenceMain(DWORD, LPSTR*) {
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_status = RegisterServiceCtrlHandlerExA(REFERENCE_NAME, Handler, nullptr);
  if (g_status == nullptr) return;
#if REFERENCE_STEP >= 5
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
  RegisterDeviceNotificationA(g_status, &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
  Report(SERVICE_START_PENDING, 1, 3000);
  Report(SERVICE_START_PENDING, 2, 1000);
  ReadPollSeconds();
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE worker = CreateThread(nullptr, 0, Worker, ready, 0, &g_workerId);
  const HANDLE waits[] = {ready, worker};
  WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  CloseHandle(ready);
#endif
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stop, INFINITE);
#if REFERENCE_STEP >= 5
#if REFERENCE_STEP >= 7
  PostThreadMessageA(g_workerId, WM_QUIT, 0, 0);
  Report(SERVICE_STOP_PENDING, 2, 1000);
  WaitForSingleObject(worker, INFINITE);
#endif
  CloseHandle(worker);
#endif
  Report(SERVICE_STOPPED);
}

#if REFERENCE_STEP >= 1
void QueryState(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return;
  if (SC_HANDLE service = OpenServiceA(manager, name, GENERIC_READ)) {
    SERVICE_STATUS status{};
    QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}
#endif

}  // namespace

// Referenced so that the linker keeps the imports and the stream objects, as the product's are.
#if REFERENCE_STEP >= 2
extern "C" {
void* volatile g_keepUser32 = reinterpret_cast<void*>(&PostThreadMessageA);
}
#endif
#if REFERENCE_STEP >= 3
extern "C" {
void* volatile g_keepSdk = reinterpret_cast<void*>(&vsRefreshDeviceList);
}
#endif
#if REFERENCE_STEP >= 4
extern "C" {
void* volatile g_keepStreams = &std::cerr;
}
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char name[] = REFERENCE_NAME;
#if REFERENCE_STEP >= 1
  QueryState(name);
#endif
  SERVICE_TABLE_ENTRYA table[] = {{name, ReferenceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
