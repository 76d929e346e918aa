// ServiceMain, its control handler and the service's runtime state.
//
// Owners. `g_state` holds what the service has recorded: the state (0 until RUNNING, STOP_PENDING
// once a stop began), the controls it accepts, the check point of the wait for the worker, whether
// STOPPED was reported, and the stop event. The worker's mailbox (service/worker.h) holds the
// worker's thread identifier and the arrival owed to it. ServiceMain owns the worker's thread handle
// and the ready event on its stack.
//
// Lock protocol. `g_state.lock` guards every field of `g_state`, and every status report is made
// while holding it: reports take turns, and nothing is reported once STOPPED is. The handler holds it
// for the whole of a control, so its closing report comes before a STOPPED that its stop allowed. The
// stop event is signalled and closed under it, so a handle ServiceMain has closed (and the system may
// have reused) is never signalled. Nothing waits while holding it. The mailbox's lock is taken inside
// it (the handler posts arrivals), never around it. `recorded` and `accepted` are also atomics so
// that a report can be built and a test can look without the lock; they are written only under it.

#include "service/service_main.h"

#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>
#include <wtsapi32.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "launch/console_launcher.h"
#include "launch/settings.h"
#include "launch/program_manifest.h"
#include "launch/user_launcher.h"
#include "platform/event_log.h"
#include "service/service_events.h"
#include "platform/handles.h"
#include "service/protected_files.h"
#include "service/service_errors.h"
#include "service/service_host.h"
#include "service/worker.h"

namespace {

constexpr DWORD kAcceptStopAndShutdown = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
constexpr DWORD kAcceptWithSessionChanges = kAcceptStopAndShutdown | SERVICE_ACCEPT_SESSIONCHANGE;

// How long a stop waits for the worker thread, in steps of one report each. A healthy worker ends
// within milliseconds of WM_QUIT: its only long waits, the pauses between listing attempts, end at
// the stop event. What can hold it is an SDK call that does not return (a hung device). Three
// seconds is what the handler's first STOP_PENDING report promised, and stays well within the
// about 20 seconds Windows gives all services together at shutdown, so even a forced stop is
// reported before the system gives up on the service.
constexpr DWORD kStopStepMs = 1000;
constexpr DWORD kStopSteps = 3;

struct ServiceState {
  std::mutex lock;
  std::atomic<DWORD> recorded{0};
  // What the service accepts once it is past START_PENDING: stop and shutdown, and session changes
  // too while launching at logon is switched on (set before RUNNING is recorded) or a launch waits for
  // a console logon.
  std::atomic<DWORD> accepted{kAcceptStopAndShutdown};
  bool launchAtLogon = false;
  // The latest report of the wait for the worker, repeated by the handler's closing report so that
  // the check point never goes back; 0 until that wait begins.
  DWORD stopCheckPoint = 0;
  DWORD stopWaitHint = 0;
  bool stopped = false;
  sys::UniqueHandle stopEvent;

  // ServiceMain's start: nothing recorded, nothing reported.
  void Begin() {
    std::lock_guard<std::mutex> hold(lock);
    recorded = 0;
    accepted = kAcceptStopAndShutdown;
    launchAtLogon = false;
    stopCheckPoint = stopWaitHint = 0;
    stopped = false;
    stopEvent.reset();
  }

  // START_PENDING while still starting; a stop that began meanwhile has reported STOP_PENDING, which
  // a later START_PENDING must not follow: then nothing is reported, and that is no failure.
  BOOL ReportStarting(DWORD checkPoint, DWORD waitHint) {
    std::lock_guard<std::mutex> hold(lock);
    if (recorded != 0) return TRUE;
    return ReportServiceStatus(SERVICE_START_PENDING, checkPoint, waitHint);
  }

  bool HoldStopEvent(HANDLE event) {
    std::lock_guard<std::mutex> hold(lock);
    stopEvent.reset(event);
    return static_cast<bool>(stopEvent);
  }

  void AcceptSessionChanges() {
    std::lock_guard<std::mutex> hold(lock);
    launchAtLogon = true;
    accepted = kAcceptWithSessionChanges;
  }

  // Session changes accepted while `awaited` (or launching at logon is on), the change reported at
  // once while RUNNING; a service that is stopping keeps what it accepts. True when they have just
  // become accepted.
  bool WatchForLogon(bool awaited) {
    std::lock_guard<std::mutex> hold(lock);
    const DWORD wanted = launchAtLogon || awaited ? kAcceptWithSessionChanges : kAcceptStopAndShutdown;
    if (accepted == wanted || recorded == SERVICE_STOP_PENDING || stopped) return false;
    accepted = wanted;
    if (recorded == SERVICE_RUNNING) ReportServiceStatus(SERVICE_RUNNING, 0, 0);
    return wanted == kAcceptWithSessionChanges;
  }

  enum class Running { kReported, kRefused, kStopBegun };
  // Records RUNNING only if still starting, then reports it: recorded first, so a control that comes
  // right after the report repeats RUNNING.
  Running RecordRunning() {
    std::lock_guard<std::mutex> hold(lock);
    DWORD starting = 0;
    if (!recorded.compare_exchange_strong(starting, SERVICE_RUNNING)) return Running::kStopBegun;
    return ReportServiceStatus(SERVICE_RUNNING, 0, 0) ? Running::kReported : Running::kRefused;
  }

  // Under `lock`. Records STOP_PENDING; true for the first stop: a later one finds it under way.
  bool BeginStop() { return recorded.exchange(SERVICE_STOP_PENDING) != SERVICE_STOP_PENDING; }

  // Under `lock`. STOP_PENDING from the handler: once the wait for the worker began, with that wait's
  // figures.
  void ReportStopPendingFromHandler(DWORD checkPoint, DWORD waitHint) {
    if (stopped) return;
    if (stopCheckPoint != 0) {
      checkPoint = stopCheckPoint;
      waitHint = stopWaitHint;
    }
    ReportServiceStatus(SERVICE_STOP_PENDING, checkPoint, waitHint);
  }

  // Under `lock`. False when there is no stop event or it could not be signalled.
  bool SignalStopLocked() { return stopEvent && sys::calls().SetEvent(stopEvent.get()) != FALSE; }

  void SignalStop() {
    std::lock_guard<std::mutex> hold(lock);
    SignalStopLocked();
  }

  // One step of the wait for the worker: the check point rises by one from 2 (the handler's first
  // stop report was check point 1), and a control meanwhile repeats it.
  void ReportWaitingForWorker(DWORD step) {
    std::lock_guard<std::mutex> hold(lock);
    recorded = SERVICE_STOP_PENDING;
    stopCheckPoint = step + 2;
    stopWaitHint = kStopStepMs;
    if (!stopped) ReportServiceStatus(SERVICE_STOP_PENDING, stopCheckPoint, stopWaitHint);
  }

  // The last report. Closes the stop event unless a worker that did not end may still use it (then
  // it stays open until the process ends). True when the report was accepted.
  bool ReportStopped(DWORD win32, DWORD specific, bool keepStopEvent) {
    std::lock_guard<std::mutex> hold(lock);
    stopped = true;
    const bool taken = ReportServiceStatus(SERVICE_STOPPED, 0, 0, win32, specific) != FALSE;
    if (keepStopEvent) {
      static_cast<void>(stopEvent.take());
    } else {
      stopEvent.reset();
    }
    return taken;
  }
};

ServiceState g_state;

// A logon at the active console session, while session changes are accepted (launching at logon is
// on, or a launch waits for the logon), is handed to the worker.
void PostLogon(const void* eventData) {
  if ((g_state.accepted & SERVICE_ACCEPT_SESSIONCHANGE) == 0 || eventData == nullptr) return;
  const auto& notification = *static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
  if (notification.cbSize < sizeof notification) return;
  if (notification.dwSessionId != sys::calls().WTSGetActiveConsoleSessionId()) return;
  PostToWorker(kLogonMessage);
}

// Ends a worker thread that was started, by one policy: signal the stop event, post WM_QUIT, then
// wait for its end for at most the stop bound whatever the post returned, reporting STOP_PENDING with
// a rising check point before each step. A worker whose queue did not exist yet when WM_QUIT was
// posted ends at the stop event as it begins; one that cannot be told (its queue is full) may still
// end within the bound. False when the worker is still running. Leaves the handle to the caller.
bool EndWorker(const sys::UniqueHandle& worker) {
  if (!worker) {
    CloseMailbox();
    return true;
  }
  g_state.SignalStop();
  PostToWorker(WM_QUIT);
  CloseMailbox();
  for (DWORD step = 0; step < kStopSteps; ++step) {
    g_state.ReportWaitingForWorker(step);
    // A failed wait counts as not ended: the bound still holds.
    if (sys::calls().WaitForSingleObject(worker.get(), kStopStepMs) == WAIT_OBJECT_0) return true;
  }
  return false;
}

}  // namespace

BOOL ReportServiceStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD win32ExitCode,
                         DWORD serviceSpecificExitCode) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : g_state.accepted.load();
  status.dwWin32ExitCode = win32ExitCode;
  status.dwServiceSpecificExitCode = serviceSpecificExitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  return sys::calls().SetServiceStatus(g_serviceHost->statusHandle, &status);
}

DWORD RecordedServiceState() { return g_state.recorded; }

void SetLaunchAtLogon(bool on) {
  std::lock_guard<std::mutex> hold(g_state.lock);
  g_state.launchAtLogon = on;
}

void FollowConsoleLogonWait() {
  // A logon between the launch that was held back and this change is told by no control: a user
  // found at the console now gets the decision the logon would have given.
  if (g_state.WatchForLogon(AwaitingConsoleLogon()) && IsUserLoggedOnAtConsole()) PostToWorker(kLogonMessage);
}

HANDLE ServiceStopEvent() { return g_state.stopEvent.get(); }

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
  std::lock_guard<std::mutex> hold(g_state.lock);
  bool firstStop = false;
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      firstStop = g_state.BeginStop();
      g_state.ReportStopPendingFromHandler(1, 3000);
      break;
    case SERVICE_CONTROL_DEVICEEVENT:
      if (eventType == DBT_DEVICEARRIVAL) PostToWorker(kArrivalMessage);
      break;
    case SERVICE_CONTROL_SESSIONCHANGE:
      if (eventType == WTS_SESSION_LOGON) PostLogon(eventData);
      break;
    default:
      break;
  }
  // Before RUNNING nothing is recorded yet, and 0 is no state to report.
  const DWORD state = g_state.recorded;
  if (state == SERVICE_STOP_PENDING) {
    g_state.ReportStopPendingFromHandler(0, 0);
  } else if (state != 0 && !g_state.stopped) {
    ReportServiceStatus(state, 0, 0);
  }
  // After both reports; ServiceMain's next report waits for this turn, so STOPPED cannot come first.
  // ServiceMain also wakes at the worker's end: that is how the stop gets there when the event
  // cannot be signalled.
  if (firstStop && !g_state.SignalStopLocked()) PostToWorker(WM_QUIT);
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  ServiceHost& host = *g_serviceHost;
  // A message left in an earlier worker's queue went with that worker.
  CloseMailbox();
  g_state.Begin();

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
  sys::UniqueHandle ready;
  sys::UniqueHandle worker;
  // What the worker reads when it begins. Not on this stack: a worker that never got going (its
  // ready wait failed, and the stop is forced) may begin after this routine has returned.
  static WorkerStart start;
  // The STOPPED code. One rule: the first failure names it. A start-up step that failed writes its
  // error event with that code, and the forced stop that may follow keeps it, so the error event and
  // the stop event always agree; the forced-stop code stands only when nothing failed before.
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
    if (!g_state.ReportStarting(1, 3000)) {
      failed(ServiceError::kStartPendingReport);
      break;
    }
    if (!g_state.HoldStopEvent(sys::calls().CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
      failed(ServiceError::kStopEvent);
      break;
    }
    if (!g_state.ReportStarting(2, 1000)) {
      failed(ServiceError::kStartPendingReport);
      break;
    }

    ready.reset(sys::calls().CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
      failed(ServiceError::kReadyEvent);
      break;
    }
    // Kept for the worker, which may begin after this start gave up waiting for it; on the heap, as a
    // static reading would be written into the executable whole.
    static std::unique_ptr<Settings> startSettings;
    if (!startSettings) startSettings.reset(new Settings{});
    *startSettings = ReadStartSettings();
    const Settings& settings = *startSettings;
    if (settings.launchAtLogon) g_state.AcceptSessionChanges();
    start = WorkerStart{settings.pollSeconds, ServiceStopEvent(), ready.get(), true, &settings};
    DWORD workerId = 0;
    worker.reset(sys::calls().CreateThread(nullptr, 0, WorkerThreadProc, &start, 0, &workerId));
    if (!worker) {
      failed(ServiceError::kWorkerThread);
      break;
    }
    MailboxFor(workerId);
    // Nothing but WM_QUIT is posted to the thread before its queue exists.
    const HANDLE waits[] = {ready.get(), worker.get()};
    const DWORD readyOrEnded = sys::calls().WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    // A worker that found the stop already signalled ends without being ready: that is the stop.
    if (readyOrEnded == WAIT_OBJECT_0 + 1 && g_state.recorded == SERVICE_STOP_PENDING) break;
    if (readyOrEnded != WAIT_OBJECT_0) {
      failedWith(ServiceError::kWorkerNotReady, ServiceSpecific(ServiceError::kWorkerNotReady));
      break;
    }
    OpenMailbox();

    const ServiceState::Running running = g_state.RecordRunning();
    // A stop during start-up: the service never ran, and stops with nothing failed.
    if (running == ServiceState::Running::kStopBegun) break;
    if (running == ServiceState::Running::kRefused) {
      failed(ServiceError::kRunningReport);
      break;
    }
    ReportServiceStarted(settings.pollSeconds, settings.launchAtLogon, settings.launchAsUser);
    // Once, at start: a program that cannot be started with the user's token is named before any launch.
    if (settings.launchAsUser) WarnWhenProgramNeedsElevation();
    // Once, at start: files that others than the machine's owners can change are named.
    WarnWhenFolderWritable();
    // A user already at the console gets what a logon would have given.
    if (settings.launchAtLogon && IsUserLoggedOnAtConsole()) PostToWorker(kLogonMessage);

    // The stop, or the worker's end: told to quit by a handler that could not signal the stop, or on
    // its own, which is a failure.
    const HANDLE ends[] = {ServiceStopEvent(), worker.get()};
    const DWORD woke = sys::calls().WaitForMultipleObjects(2, ends, FALSE, INFINITE);
    if (woke == WAIT_FAILED) {
      exit = StepFailed(ServiceError::kStopWait, GetLastError());
      break;
    }
    if (woke != WAIT_OBJECT_0 && g_state.recorded != SERVICE_STOP_PENDING) {
      exit = ServiceSpecific(ServiceError::kWorkerEnded);
      break;
    }
  } while (false);

  const bool ended = EndWorker(worker);
  // A stop that was asked for and had to be forced still reports 0: the administrator (or the
  // shutdown) got what was asked, and recovery, which also acts on a non-zero STOPPED code, must not
  // start the service again. The forced end is in the event log and in the process's exit code.
  const bool forcedAskedStop = !ended && exit.win32 == NO_ERROR;
  if (forcedAskedStop) ReportStopForced(static_cast<DWORD>(ServiceError::kForcedStop));
  // A worker that did not end may still use the ready event: it stays open until the process ends.
  if (!ended) static_cast<void>(ready.take());
  worker.reset();
  const UINT exitCode = forcedAskedStop                              ? static_cast<UINT>(ServiceError::kForcedStop)
                        : exit.win32 == ERROR_SERVICE_SPECIFIC_ERROR ? exit.specific
                                                                     : exit.win32;
  // Before STOPPED: after it the process may end at any moment.
  ReportServiceStopped(exit.win32, exit.specific);
  const bool stoppedAccepted = g_state.ReportStopped(exit.win32, exit.specific, !ended);
  // A worker stuck inside the SDK: ending the process normally would run the SDK's detach code and
  // the device manager's teardown, which waits for the very call that hangs; terminating ends every
  // thread at once, after STOPPED has reached the service control manager. A refused STOPPED: the
  // dispatcher would wait for one that never came, the service left stop-pending; the process's end
  // tells the service control manager instead. Either way with the STOPPED code.
  if (!ended || !stoppedAccepted) sys::calls().TerminateProcess(GetCurrentProcess(), exitCode);
}
