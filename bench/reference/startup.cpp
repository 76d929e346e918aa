#include "bench/reference/startup.h"

#include <windows.h>

#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>

#include <cstring>

#include "bench/reference/service.h"

namespace reference {
namespace {

HANDLE g_worker = nullptr;
DWORD g_workerId = 0;

// Creates its queue, says it is ready, then takes messages until WM_QUIT.
DWORD WINAPI Worker(LPVOID ready) {
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  SetEvent(static_cast<HANDLE>(ready));
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
  }
  return 0;
}

// The product's start-up reads "PollSeconds" from "language\ModeConfig.ini" beside the executable;
// this pays for the same read and ignores the value (polling stays off in the benchmark).
void ReadModeFile() {
  char path[261] = {};
  GetModuleFileNameA(nullptr, path, 260);
  if (char* separator = std::strrchr(path, '\\')) separator[1] = '\0';
  std::strncat(path, "language\\ModeConfig.ini", sizeof path - std::strlen(path) - 1);
  char value[260] = {};
  GetPrivateProfileStringA("Fields", "PollSeconds", "", value, sizeof value, path);
}

}  // namespace

void StartWorker() {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
  RegisterDeviceNotificationA(ServiceStatusHandle(), &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
  Report(SERVICE_START_PENDING, 1, 3000);
  Report(SERVICE_START_PENDING, 2, 1000);
  ReadModeFile();
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_worker = CreateThread(nullptr, 0, Worker, ready, 0, &g_workerId);
  const HANDLE waits[] = {ready, g_worker};
  WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  CloseHandle(ready);
}

void CloseWorker() { CloseHandle(g_worker); }

void EndWorker() {
  PostThreadMessageA(g_workerId, WM_QUIT, 0, 0);
  Report(SERVICE_STOP_PENDING, 2, 1000);
  WaitForSingleObject(g_worker, INFINITE);
  CloseHandle(g_worker);
}

void ReportStopPending() {
  Report(SERVICE_STOP_PENDING, 1, 3000);
  Report(SERVICE_STOP_PENDING);
}

}  // namespace reference
