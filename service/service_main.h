// The service main routine, its control handler and the one status-report builder.
#pragma once

#include <windows.h>

// Registers the handler and the USB arrival notification, starts the worker thread, reports
// RUNNING, then waits for the stop. A start-up step that fails releases what was made and reports
// STOPPED with that step's exit code (service/service_errors.h). At the stop, waits a bounded time
// for the worker, reporting STOP_PENDING with a rising check point; a worker that does not end
// (an SDK call that never returns) makes the stop forced: STOPPED, then the process is terminated.
// The STOPPED code is that of the first failure, 0 when nothing failed (a forced stop that was asked
// for writes its own warning event, and the process ends with the forced-stop code).
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Records and reports stop and shutdown, then signals the stop event (or, when it cannot, posts the
// worker WM_QUIT); hands each USB arrival, and
// each logon at the console while launching at logon is on, to the worker thread. Returns at once
// for every control.
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

// Follows a launch's wait for a console logon (AwaitingConsoleLogon): session changes are accepted
// while it waits, or while LaunchAtLogon=1, and a change is reported at once while RUNNING; otherwise
// the reports are those of stop and shutdown alone. When they become accepted with a user already at
// the console (who logged on before they were), that user gets the logon's decision. The worker
// calls it after each response.
void FollowConsoleLogonWait();

// Switches launching at logon on or off while the service runs; the controls accepted follow at the
// worker's next FollowConsoleLogonWait.
void SetLaunchAtLogon(bool on);

// Reports `state` (controls accepted: none while START_PENDING, else stop and shutdown, and session
// changes when LaunchAtLogon=1 was read at start or a launch waits for a console logon). Nonzero when the report was accepted. Does not
// change the recorded state. The service's own reports are made holding its state lock, so that they
// take turns (service/service_main.cpp). The service-specific code goes with
// ERROR_SERVICE_SPECIFIC_ERROR only (service/service_errors.h).
BOOL ReportServiceStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD win32ExitCode = 0,
                         DWORD serviceSpecificExitCode = 0);

// The state the service has recorded: 0 until RUNNING, STOP_PENDING once a stop began.
DWORD RecordedServiceState();

// The stop event while ServiceMain holds one; null otherwise. Read without the lock: it changes only
// on ServiceMain's thread, before the worker starts and after it ended.
HANDLE ServiceStopEvent();
