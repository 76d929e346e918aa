#include "service/service_main.h"

#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>
#include <wtsapi32.h>

#include <atomic>
#include <mutex>

#include "launch/mode_settings.h"
#include "launch/program_manifest.h"
#include "launch/user_launcher.h"
#include "platform/event_log.h"
#include "platform/handles.h"
#include "service/service_errors.h"
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

// Posts an arrival unless one already waits in the worker's queue (see ClaimArrivalSlot).
void PostArrivalMessage(DWORD worker) {
  if (ClaimArrivalSlot() && !sys::calls().PostThreadMessageA(worker, kArrivalMessage, 0, 0)) ArrivalTaken();
}

void PostArrival(ServiceHost& host) {
  g_arrivalPending = true;
  const DWORD worker = host.workerThreadId;
  // Whoever takes the flag (this handler or ServiceMain publishing the worker) posts it.
  if (worker != 0 && g_arrivalPending.exchange(false)) PostArrivalMessage(worker);
}

// A logon at the active console session, while launching at logon is on, is handed to the worker.
void PostLogon(ServiceHost& host, const void* eventData) {
  if ((g_acceptedControls & SERVICE_ACCEPT_SESSIONCHANGE) == 0 || eventData == nullptr) return;
  const auto& notification = *static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
  if (notification.cbSize < sizeof notification) return;
  if (notification.dwSessionId != sys::calls().WTSGetActiveConsoleSessionId()) return;
  const DWORD worker = host.workerThreadId;
  if (worker != 0) sys::calls().PostThreadMessageA(worker, kLogonMessage, 0, 0);
}

// Nothing is reported once STOPPED is: the handler's reports and ServiceMain's take turns. The stop
// event is signalled and cleared under the same lock, so a handle that ServiceMain has closed (and
// the system may have reused) is never signalled.
std::mutex g_reportTurn;
bool g_stoppedReported = false;  // guarded by g_reportTurn
// The latest report of the wait for the worker, repeated by the handler's closing report so that
// the check point never goes back; 0 until that wait begins. Guarded by g_reportTurn.
DWORD g_stopCheckPoint = 0;
DWORD g_stopWaitHint = 0;

// How long a stop waits for the worker thread, in steps of one report each. A healthy worker ends
// within milliseconds of WM_QUIT: its only long waits, the pauses between listing attempts, end at
// the stop event. What can hold it is an SDK call that does not return (a hung device). Three
// seconds is what the handler's first STOP_PENDING report promised, and stays well within the
// about 20 seconds Windows gives all services together at shutdown, so even a forced stop is
// reported before the system gives up on the service.
constexpr DWORD kStopStepMs = 1000;
constexpr DWORD kStopSteps = 3;

// Ends a worker thread that was started: WM_QUIT, then waits for its end for at most the stop bound,
// reporting STOP_PENDING with a rising check point before each step. False when the worker is still
// running. Leaves the handles to the caller. The stop event is signalled first: a worker whose queue
// did not exist yet when WM_QUIT was posted ends at it instead.
bool EndWorker(ServiceHost& host, const sys::UniqueHandle& worker, DWORD id, const sys::UniqueHandle& stopEvent) {
  host.workerThreadId = 0;
  if (!worker) return true;
  sys::calls().SetEvent(stopEvent.get());
  if (sys::calls().PostThreadMessageA(id, WM_QUIT, 0, 0) == FALSE) {
    // A worker that cannot be told to quit (it has ended, or its queue is full) would only be
    // waited out: one look, no wait.
    return sys::calls().WaitForSingleObject(worker.get(), 0) == WAIT_OBJECT_0;
  }
  for (DWORD step = 0; step < kStopSteps; ++step) {
    {
      std::lock_guard<std::mutex> turn(g_reportTurn);
      host.currentState = SERVICE_STOP_PENDING;  // what a control meanwhile repeats
      g_stopCheckPoint = step + 2;  // the handler's first stop report was check point 1
      g_stopWaitHint = kStopStepMs;
      ReportServiceStatus(SERVICE_STOP_PENDING, g_stopCheckPoint, g_stopWaitHint);
    }
    // A failed wait counts as not ended: the bound still holds.
    if (sys::calls().WaitForSingleObject(worker.get(), kStopStepMs) == WAIT_OBJECT_0) return true;
  }
  return false;
}

// STOP_PENDING from the handler: once the wait for the worker began, with that wait's figures.
void ReportStopPendingFromHandler(DWORD checkPoint, DWORD waitHint) {
  if (g_stopCheckPoint != 0) {
    checkPoint = g_stopCheckPoint;
    waitHint = g_stopWaitHint;
  }
  ReportServiceStatus(SERVICE_STOP_PENDING, checkPoint, waitHint);
}

}  // namespace

BOOL ReportServiceStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD win32ExitCode,
                         DWORD serviceSpecificExitCode) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : g_acceptedControls.load();
  status.dwWin32ExitCode = win32ExitCode;
  status.dwServiceSpecificExitCode = serviceSpecificExitCode;
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
        // Only the first stop signals (or, when it cannot, tells the worker to quit): a later one
        // finds the stop under way.
        signalStop = host.currentState.exchange(SERVICE_STOP_PENDING) != SERVICE_STOP_PENDING;
        if (!g_stoppedReported) ReportStopPendingFromHandler(1, 3000);
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
    if (state == SERVICE_STOP_PENDING && !g_stoppedReported) {
      ReportStopPendingFromHandler(0, 0);
    } else if (state != 0 && !g_stoppedReported) {
      ReportServiceStatus(state, 0, 0);
    }
    // After both reports; ServiceMain's next report waits for this turn, so STOPPED cannot come first.
    // ServiceMain also wakes at the worker's end: that is how the stop gets there when the event
    // cannot be signalled.
    if (signalStop && host.stopEvent != nullptr && !sys::calls().SetEvent(host.stopEvent)) {
      const DWORD worker = host.workerThreadId;
      if (worker != 0) sys::calls().PostThreadMessageA(worker, WM_QUIT, 0, 0);
    }
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  ServiceHost& host = *g_serviceHost;
  host.workerThreadId = 0;
  g_arrivalPending = false;
  ArrivalTaken();  // a message left in an earlier worker's queue went with that worker
  g_acceptedControls = kAcceptStopAndShutdown;
  {
    std::lock_guard<std::mutex> turn(g_reportTurn);
    g_stoppedReported = false;
    g_stopCheckPoint = g_stopWaitHint = 0;
  }

  host.statusHandle = sys::calls().RegisterServiceCtrlHandlerExA(host.serviceName, ServiceControlHandler, nullptr);
  if (host.statusHandle == nullptr) {
    // With no handle to report with, the service would stay start-pending for as long as the process
    // lives: only the process's end tells the service control manager.
    const DWORD error = GetLastError();
    ReportStartStepFailed("Could not register the service's control handler.", error, 0);
    sys::calls().TerminateProcess(GetCurrentProcess(), error != ERROR_SUCCESS ? error : ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }

  // Owners in the reverse of release order: the worker ends before the event it waits on closes.
  sys::UniqueHandle stopEvent;
  sys::UniqueHandle ready;
  sys::UniqueHandle worker;
  // What the worker reads when it begins. Not on this stack: a worker that never got going (its
  // ready wait failed, and the stop is forced) may begin after this routine has returned.
  static WorkerStart start;
  DWORD workerId = 0;
  ServiceExit exit{NO_ERROR, 0};
  // A start-up step that failed: the exit it gives, and an error event that names it.
  const auto failedWith = [&exit](ServiceError step, ServiceExit result) {
    exit = result;
    ReportStartStepFailed(ServiceErrorText(step), exit.win32, exit.specific);
  };
  const auto failed = [&failedWith](ServiceError step) { failedWith(step, StepFailed(step, GetLastError())); };

  do {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    // Kept for the life of the process.
    if (!sys::calls().RegisterDeviceNotificationA(host.statusHandle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE)) {
      failed(ServiceError::kDeviceRegistration);
      break;
    }
    if (!ReportServiceStatus(SERVICE_START_PENDING, 1, 3000)) {
      failed(ServiceError::kStartPendingReport);
      break;
    }
    stopEvent.reset(sys::calls().CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent) {
      failed(ServiceError::kStopEvent);
      break;
    }
    host.stopEvent = stopEvent.get();
    if (!ReportServiceStatus(SERVICE_START_PENDING, 2, 1000)) {
      failed(ServiceError::kStartPendingReport);
      break;
    }

    ready.reset(sys::calls().CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
      failed(ServiceError::kReadyEvent);
      break;
    }
    const StartSettings settings = ReadStartSettings();
    if (settings.launchAtLogon) g_acceptedControls = kAcceptStopAndShutdown | SERVICE_ACCEPT_SESSIONCHANGE;
    start = WorkerStart{settings.pollSeconds, stopEvent.get(), ready.get()};
    worker.reset(sys::calls().CreateThread(nullptr, 0, WorkerThreadProc, &start, 0, &workerId));
    if (!worker) {
      failed(ServiceError::kWorkerThread);
      break;
    }
    host.workerThread = worker.get();
    // Nothing is posted to the thread before its queue exists.
    const HANDLE waits[] = {ready.get(), worker.get()};
    if (sys::calls().WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      failedWith(ServiceError::kWorkerNotReady, ServiceSpecific(ServiceError::kWorkerNotReady));
      break;
    }
    host.workerThreadId = workerId;
    if (g_arrivalPending.exchange(false)) PostArrivalMessage(workerId);

    // Recorded before it is reported: a control that comes right after the report repeats RUNNING.
    host.currentState = SERVICE_RUNNING;
    if (!ReportServiceStatus(SERVICE_RUNNING, 0, 0)) {
      failed(ServiceError::kRunningReport);
      break;
    }
    ReportServiceStarted(settings.pollSeconds, settings.launchAtLogon, settings.launchAsUser);
    // Once, at start: a program that cannot be started with the user's token is named before any launch.
    if (settings.launchAsUser) WarnWhenProgramNeedsElevation();
    // A user already at the console gets what a logon would have given.
    if (settings.launchAtLogon && IsUserLoggedOnAtConsole()) {
      sys::calls().PostThreadMessageA(workerId, kLogonMessage, 0, 0);
    }

    // The stop, or the worker's end: told to quit by a handler that could not signal the stop, or on
    // its own, which is a failure.
    const HANDLE ends[] = {stopEvent.get(), worker.get()};
    const DWORD woke = sys::calls().WaitForMultipleObjects(2, ends, FALSE, INFINITE);
    if (woke == WAIT_FAILED) {
      exit = StepFailed(ServiceError::kStopWait, GetLastError());
      break;
    }
    if (woke != WAIT_OBJECT_0 && host.currentState != SERVICE_STOP_PENDING) {
      exit = ServiceSpecific(ServiceError::kWorkerEnded);
      break;
    }
  } while (false);

  const bool ended = EndWorker(host, worker, workerId, stopEvent);
  if (!ended) exit = ServiceSpecific(ServiceError::kForcedStop);
  host.workerThread = nullptr;
  // A worker that did not end may still use the events: they stay open until the process ends.
  if (!ended) {
    static_cast<void>(stopEvent.take());
    static_cast<void>(ready.take());
  }
  worker.reset();
  // Before STOPPED: after it the process may end at any moment.
  ReportServiceStopped(exit.win32, exit.specific);
  bool stoppedAccepted;
  {
    std::lock_guard<std::mutex> turn(g_reportTurn);
    host.stopEvent = nullptr;
    g_stoppedReported = true;
    stoppedAccepted = ReportServiceStatus(SERVICE_STOPPED, 0, 0, exit.win32, exit.specific) != FALSE;
  }
  stopEvent.reset();
  // The worker is stuck inside the SDK. Ending the process normally would run the SDK's detach code
  // and the device manager's teardown, which waits for the very call that hangs; terminating ends
  // every thread at once, after STOPPED has reached the service control manager.
  if (!ended) {
    sys::calls().TerminateProcess(GetCurrentProcess(), static_cast<UINT>(ServiceError::kForcedStop));
  } else if (!stoppedAccepted) {
    // The dispatcher would wait for a STOPPED that never came, the service left stop-pending: the
    // process's end tells the service control manager instead, with the exit code it refused.
    sys::calls().TerminateProcess(GetCurrentProcess(),
                                  exit.win32 == ERROR_SERVICE_SPECIFIC_ERROR ? exit.specific : exit.win32);
  }
}
