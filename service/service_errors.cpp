#include "service/service_errors.h"

namespace {

struct ErrorRow {
  ServiceError error;
  const char* text;
};

// Mirrored in the README's table of exit codes.
constexpr ErrorRow kErrors[] = {
    {ServiceError::kNone, "No error."},
    {ServiceError::kDeviceRegistration,
     "Could not register for USB device arrivals; check that the Plug and Play service runs."},
    {ServiceError::kStartPendingReport,
     "The service control manager refused a start-pending report; restart the service."},
    {ServiceError::kStopEvent, "Could not create the stop event; the system is short of resources."},
    {ServiceError::kReadyEvent, "Could not create the start-up event; the system is short of resources."},
    {ServiceError::kWorkerThread, "Could not create the worker thread; the system is short of resources."},
    {ServiceError::kWorkerNotReady,
     "The worker thread ended before it took messages; start the service again, and report it if it recurs."},
    {ServiceError::kRunningReport, "The service control manager refused the running report; restart the service."},
    {ServiceError::kForcedStop,
     "A fingerprint SDK call did not return, so the stop was forced and the process ended; unplug the disk, check "
     "its driver and t3FPDll.dll, then start the service again."},
    {ServiceError::kStopWait, "Waiting for a stop failed, so the service stopped; start it again."},
    {ServiceError::kWorkerEnded,
     "The worker thread ended while the service ran, so the service stopped; start it again, and report it if it "
     "recurs."},
};

}  // namespace

const char* ServiceErrorText(ServiceError error) {
  for (const ErrorRow& row : kErrors) {
    if (row.error == error) return row.text;
  }
  return "Unknown error.";
}

ServiceExit StepFailed(ServiceError step, DWORD lastError) {
  return lastError != ERROR_SUCCESS ? ServiceExit{lastError, 0} : ServiceSpecific(step);
}

ServiceExit ServiceSpecific(ServiceError error) {
  return {ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(error)};
}
