#include "service/service_main.h"

#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>
#include <wtsapi32.h>

#include <atomic>
#include <mutex>

#include "launch/mode_settings.h"
#include "launch/user_launcher.h"
#include "platform/event_log.h"
#include "platform/handles.h"
#include "service/service_host.h"
#include "service/worker.h"

namespace {

constexpr DWORD kAcceptStopAndShutdown = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

// What the service accepts once it is past START_PENDING: stop and shutdown, and session changes
// too when launching at logon is switched on. Set by ServiceMain before it reports RUNNING.
std::atomic<DWORD> g_acceptedControls{kAcceptStopAndShutdown};

// An arrival that came while no worker thread took messages; handed on once one does. Arrivals
// carry nothing the response reads, so several waiting ones count as one.
std::atomic<bool> g_arrivalPending{false};

void PostArrival(ServiceHost& host) {
  g_arrivalPending = true;
  const DWORD worker = host.workerThreadId;
  // Whoever takes the flag (this handler or ServiceMain publishing the worker) posts it.
  if (worker != 0 && g_arrivalPending.exchange(false)) PostThreadMessageA(worker, kArrivalMessage, 0, 0);
}

// A logon at the active console session, while launching at logon is on, is handed to the worker.
void PostLogon(ServiceHost& host, const void* eventData) {
  if ((g_acceptedControls & SERVICE_ACCEPT_SESSIONCHANGE) == 0 || eventData == nullptr) return;
  const auto& notification = *static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
  if (notification.cbSize < sizeof notification) return;
  if (notification.dwSessionId != sys::calls().WTSGetActiveConsoleSessionId()) return;
  const DWORD worker = host.workerThreadId;
  if (worker != 0) PostThreadMessageA(worker, kLogonMessage, 0, 0);
}

// Nothing is reported once STOPPED is: the handler's reports and ServiceMain's last one take turns.
std::mutex g_reportTurn;
bool g_stoppedReported = false;  // guarded by g_reportTurn

// Ends a worker thread that was started: WM_QUIT, then its end. Leaves the handle to the caller.
void EndWorker(ServiceHost& host, const sys::UniqueHandle& worker, DWORD id) {
  host.workerThreadId = 0;
  if (!worker) return;
  PostThreadMessageA(id, WM_QUIT, 0, 0);
  sys::calls().WaitForSingleObject(worker.get(), INFINITE);
}

}  // namespace

BOOL ReportServiceStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD win32ExitCode) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : g_acceptedControls.load();
  status.dwWin32ExitCode = win32ExitCode;
  status.dwServiceSpecificExitCode = 0;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  return sys::calls().SetServiceStatus(g_serviceHost->statusHandle, &status);
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
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
      case SERVICE_CONTROL_SESSIONCHANGE:
        if (eventType == WTS_SESSION_LOGON) PostLogon(host, eventData);
        break;
      default:
        break;
    }
    // Before RUNNING nothing is recorded yet, and 0 is no state to report.
    const DWORD state = host.currentState;
    if (state != 0 && !g_stoppedReported) ReportServiceStatus(state, 0, 0);
  }
  // Signalled after both reports, so that STOPPED cannot come before them.
  if (signalStop && host.stopEvent != nullptr) SetEvent(host.stopEvent);
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  ServiceHost& host = *g_serviceHost;
  host.workerThreadId = 0;
  g_arrivalPending = false;
  g_acceptedControls = kAcceptStopAndShutdown;
  {
    std::lock_guard<std::mutex> turn(g_reportTurn);
    g_stoppedReported = false;
  }

  host.statusHandle = sys::calls().RegisterServiceCtrlHandlerExA(host.serviceName, ServiceControlHandler, nullptr);
  if (host.statusHandle == nullptr) {
    // No handle to report anything with; the event log still hears of it.
    ReportStartStepFailed("RegisterServiceCtrlHandlerExA", GetLastError());
    return;
  }

  // Owners in the reverse of release order: the worker ends before the event it waits on closes.
  sys::UniqueHandle stopEvent;
  sys::UniqueHandle worker;
  DWORD workerId = 0;
  DWORD error = ERROR_SUCCESS;
  const auto failed = [&error](const char* step) {
    error = GetLastError();
    if (error == ERROR_SUCCESS) error = ERROR_SERVICE_SPECIFIC_ERROR;
    ReportStartStepFailed(step, error);
  };

  do {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    // Kept for the life of the process.
    if (!sys::calls().RegisterDeviceNotificationA(host.statusHandle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE)) {
      failed("RegisterDeviceNotificationA");
      break;
    }
    if (!ReportServiceStatus(SERVICE_START_PENDING, 1, 3000)) {
      failed("SetServiceStatus (START_PENDING)");
      break;
    }
    stopEvent.reset(sys::calls().CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent) {
      failed("CreateEventA (stop event)");
      break;
    }
    host.stopEvent = stopEvent.get();
    if (!ReportServiceStatus(SERVICE_START_PENDING, 2, 1000)) {
      failed("SetServiceStatus (START_PENDING)");
      break;
    }

    sys::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
      failed("CreateEventA (start-up event)");
      break;
    }
    const StartSettings settings = ReadStartSettings();
    if (settings.launchAtLogon) g_acceptedControls = kAcceptStopAndShutdown | SERVICE_ACCEPT_SESSIONCHANGE;
    WorkerStart start{settings.pollSeconds, stopEvent.get(), ready.get()};
    worker.reset(sys::calls().CreateThread(nullptr, 0, WorkerThreadProc, &start, 0, &workerId));
    if (!worker) {
      failed("CreateThread");
      break;
    }
    host.workerThread = worker.get();
    // Nothing is posted to the thread before its queue exists.
    const HANDLE waits[] = {ready.get(), worker.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      failed("WaitForMultipleObjects (worker thread ready)");
      break;
    }
    host.workerThreadId = workerId;
    if (g_arrivalPending.exchange(false)) PostThreadMessageA(workerId, kArrivalMessage, 0, 0);

    host.currentState = SERVICE_RUNNING;
    if (!ReportServiceStatus(SERVICE_RUNNING, 0, 0)) {
      failed("SetServiceStatus (RUNNING)");
      break;
    }
    ReportServiceStarted(settings.pollSeconds, settings.launchAtLogon, settings.launchAsUser);
    // A user already at the console gets what a logon would have given.
    if (settings.launchAtLogon && IsUserLoggedOnAtConsole()) PostThreadMessageA(workerId, kLogonMessage, 0, 0);

    sys::calls().WaitForSingleObject(stopEvent.get(), INFINITE);
  } while (false);

  EndWorker(host, worker, workerId);
  host.workerThread = nullptr;
  worker.reset();
  host.stopEvent = nullptr;
  stopEvent.reset();
  // Before STOPPED: after it the process may end at any moment.
  ReportServiceStopped(error, 0);
  std::lock_guard<std::mutex> turn(g_reportTurn);
  g_stoppedReported = true;
  ReportServiceStatus(SERVICE_STOPPED, 0, 0, error);
}
