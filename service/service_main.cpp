#include "service/service_main.h"

#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>

#include <atomic>
#include <mutex>

#include "launch/mode_switch.h"
#include "platform/handles.h"
#include "service/service_host.h"
#include "service/worker.h"

namespace {

constexpr DWORD kAcceptStopAndShutdown = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

// An arrival that came while no worker thread took messages; handed on once one does. Arrivals
// carry nothing the response reads, so several waiting ones count as one.
std::atomic<bool> g_arrivalPending{false};

void PostArrival(ServiceHost& host) {
  g_arrivalPending = true;
  const DWORD worker = host.workerThreadId;
  // Whoever takes the flag (this handler or ServiceMain publishing the worker) posts it.
  if (worker != 0 && g_arrivalPending.exchange(false)) sys::calls().PostThreadMessageA(worker, kArrivalMessage, 0, 0);
}

// Nothing is reported once STOPPED is: the handler's reports and ServiceMain's last one take turns.
std::mutex g_reportTurn;
bool g_stoppedReported = false;  // guarded by g_reportTurn

// Ends a worker thread that was started: WM_QUIT, then its end. Leaves the handles to the caller.
// The stop event is signalled first: a worker whose queue did not exist yet when WM_QUIT was posted
// sees it instead.
void EndWorker(ServiceHost& host, const sys::UniqueHandle& worker, DWORD id, const sys::UniqueHandle& stopEvent) {
  host.workerThreadId = 0;
  if (!worker) return;
  sys::calls().SetEvent(stopEvent.get());
  sys::calls().PostThreadMessageA(id, WM_QUIT, 0, 0);
  sys::calls().WaitForSingleObject(worker.get(), INFINITE);
}

}  // namespace

BOOL ReportServiceStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD win32ExitCode) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : kAcceptStopAndShutdown;
  status.dwWin32ExitCode = win32ExitCode;
  status.dwServiceSpecificExitCode = 0;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  return sys::calls().SetServiceStatus(g_serviceHost->statusHandle, &status);
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID, LPVOID) {
  ServiceHost& host = *g_serviceHost;
  bool signalStop = false;
  {
    std::lock_guard<std::mutex> turn(g_reportTurn);
    switch (control) {
      case SERVICE_CONTROL_STOP:
      case SERVICE_CONTROL_SHUTDOWN:
        // Only the first stop signals: by a later one ServiceMain may be closing the event.
        signalStop = host.currentState.exchange(SERVICE_STOP_PENDING) != SERVICE_STOP_PENDING;
        if (!g_stoppedReported) ReportServiceStatus(SERVICE_STOP_PENDING, 1, 3000);
        break;
      case SERVICE_CONTROL_DEVICEEVENT:
        if (eventType == DBT_DEVICEARRIVAL) PostArrival(host);
        break;
      default:
        break;
    }
    // Before RUNNING nothing is recorded yet, and 0 is no state to report.
    const DWORD state = host.currentState;
    if (state != 0 && !g_stoppedReported) ReportServiceStatus(state, 0, 0);
  }
  // Signalled after both reports, so that STOPPED cannot come before them. ServiceMain also wakes
  // when the worker ends: that is how the stop gets there when the event cannot be signalled.
  if (signalStop && host.stopEvent != nullptr && !sys::calls().SetEvent(host.stopEvent)) {
    const DWORD worker = host.workerThreadId;
    if (worker != 0) sys::calls().PostThreadMessageA(worker, WM_QUIT, 0, 0);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  ServiceHost& host = *g_serviceHost;
  host.workerThreadId = 0;
  g_arrivalPending = false;
  {
    std::lock_guard<std::mutex> turn(g_reportTurn);
    g_stoppedReported = false;
  }

  host.statusHandle = sys::calls().RegisterServiceCtrlHandlerExA(host.serviceName, ServiceControlHandler, nullptr);
  if (host.statusHandle == nullptr) return;  // no handle to report anything with

  // Owners in the reverse of release order: the worker ends before the event it waits on closes.
  sys::UniqueHandle stopEvent;
  sys::UniqueHandle worker;
  DWORD workerId = 0;
  DWORD error = ERROR_SUCCESS;
  const auto failed = [&error] {
    error = GetLastError();
    if (error == ERROR_SUCCESS) error = ERROR_SERVICE_SPECIFIC_ERROR;
  };

  do {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    // Kept for the life of the process.
    if (!sys::calls().RegisterDeviceNotificationA(host.statusHandle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE)) {
      failed();
      break;
    }
    if (!ReportServiceStatus(SERVICE_START_PENDING, 1, 3000)) {
      failed();
      break;
    }
    stopEvent.reset(sys::calls().CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent) {
      failed();
      break;
    }
    host.stopEvent = stopEvent.get();
    if (!ReportServiceStatus(SERVICE_START_PENDING, 2, 1000)) {
      failed();
      break;
    }

    sys::UniqueHandle ready(sys::calls().CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
      failed();
      break;
    }
    WorkerStart start{ReadPollSeconds(), stopEvent.get(), ready.get()};
    worker.reset(sys::calls().CreateThread(nullptr, 0, WorkerThreadProc, &start, 0, &workerId));
    if (!worker) {
      failed();
      break;
    }
    host.workerThread = worker.get();
    // Nothing is posted to the thread before its queue exists.
    const HANDLE waits[] = {ready.get(), worker.get()};
    if (sys::calls().WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      failed();
      break;
    }
    host.workerThreadId = workerId;
    if (g_arrivalPending.exchange(false)) sys::calls().PostThreadMessageA(workerId, kArrivalMessage, 0, 0);

    host.currentState = SERVICE_RUNNING;
    if (!ReportServiceStatus(SERVICE_RUNNING, 0, 0)) {
      failed();
      break;
    }

    // The stop, or a worker that ended: told to by a handler that could not signal the stop, or on
    // its own, which is a failure like any other.
    const HANDLE ends[] = {stopEvent.get(), worker.get()};
    const DWORD woke = sys::calls().WaitForMultipleObjects(2, ends, FALSE, INFINITE);
    if (woke == WAIT_FAILED || (woke != WAIT_OBJECT_0 && host.currentState != SERVICE_STOP_PENDING)) failed();
  } while (false);

  EndWorker(host, worker, workerId, stopEvent);
  host.workerThread = nullptr;
  worker.reset();
  host.stopEvent = nullptr;
  stopEvent.reset();
  std::lock_guard<std::mutex> turn(g_reportTurn);
  g_stoppedReported = true;
  ReportServiceStatus(SERVICE_STOPPED, 0, 0, error);
}
