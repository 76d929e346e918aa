// The service main routine, its control handler and the one status-report builder.
#pragma once

#include <windows.h>

// Registers the handler and the USB arrival notification, starts the worker thread, reports
// RUNNING, then waits for the stop. A start-up step that fails releases what was made and reports
// STOPPED with that step's exit code (service/service_errors.h). At the stop, waits a bounded time
// for the worker, reporting STOP_PENDING with a rising check point; a worker that does not end
// (an SDK call that never returns) makes the stop forced: STOPPED, then the process is terminated.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Records and reports stop and shutdown, then signals the stop event; hands each USB arrival to the
// worker thread. Returns at once for every control.
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

// Reports `state` (controls accepted: none while START_PENDING, else stop and shutdown). Nonzero
// when the report was accepted. Does not change the recorded state. The service-specific code goes
// with ERROR_SERVICE_SPECIFIC_ERROR only (service/service_errors.h).
BOOL ReportServiceStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD win32ExitCode = 0,
                         DWORD serviceSpecificExitCode = 0);
