// The service's own exit codes: one per start-up step, and one for a stop that had to be forced.
//
// A step that is a failing API call reports that call's own error as the Win32 exit code. When the
// call left no error, and for the steps that are no API call at all, the service reports
// ERROR_SERVICE_SPECIFIC_ERROR with one of these codes as the service-specific exit code: distinct
// per step, never mistaken for a system error, and listed with their texts in the README.
#pragma once

#include <windows.h>

enum class ServiceError : DWORD {
  kNone = 0,
  kDeviceRegistration = 1,  // registering for USB device arrivals
  kStartPendingReport = 2,  // a START_PENDING report
  kStopEvent = 3,           // creating the stop event
  kReadyEvent = 4,          // creating the event the worker thread signals once it takes messages
  kWorkerThread = 5,        // creating the worker thread
  kWorkerNotReady = 6,      // the worker thread ended, or could not be waited for, before it was ready
  kRunningReport = 7,       // the RUNNING report
  kForcedStop = 8,          // the worker thread did not end within the stop bound; the process was ended
                            // (the process's exit code and event 103's; a stop asked for reports 0)
  kStopWait = 9,            // waiting for the stop failed
  kWorkerEnded = 10,        // the worker thread ended while the service ran, with no stop asked for
};

// The one-line text for an administrator: what failed and what to check.
const char* ServiceErrorText(ServiceError error);

// What a STOPPED report carries.
struct ServiceExit {
  DWORD win32;     // NO_ERROR, a failing call's own error, or ERROR_SERVICE_SPECIFIC_ERROR
  DWORD specific;  // a ServiceError when win32 is ERROR_SERVICE_SPECIFIC_ERROR, else 0
};

// The exit for a failed step: the error the failing call left, or the step's own code when it left
// none.
ServiceExit StepFailed(ServiceError step, DWORD lastError);

// The exit for a failure that is no API call.
ServiceExit ServiceSpecific(ServiceError error);
