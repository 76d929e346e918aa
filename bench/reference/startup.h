// The product's start-up and shutdown pieces, as hooks for reference::Serve: the device
// notification, two START_PENDING reports, one read of the mode file and a worker thread with a
// message queue and a ready handshake; on stop, the two STOP_PENDING reports and the worker ended
// through its queue. Needs user32.
#pragma once

namespace reference {

// Start-up: notification, START_PENDING twice, the mode file read, the worker started and waited
// for until its queue exists.
void StartWorker();
// Shutdown without ending the worker first: its handle closed (the process's end ends the thread).
void CloseWorker();
// Shutdown ending the worker: WM_QUIT to its queue, a STOP_PENDING report, the wait for its end.
void EndWorker();
// The control handler's two STOP_PENDING reports: the stop's own, then the current state again.
void ReportStopPending();

}  // namespace reference
