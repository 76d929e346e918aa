// The worker thread: the service host's one message queue.
//
// ServiceMain starts it and waits for `ready`; from then on its queue exists, so the control handler
// can post it one kArrivalMessage per USB arrival (and kLogonMessage per console logon) and
// ServiceMain can post it WM_QUIT at stop. The launch responses (arrival, logon and timer) run here,
// one at a time, so none holds up the control dispatcher. With a polling period it keeps exactly one
// thread timer armed.
#pragma once

#include <windows.h>

// Posted to the worker thread (no window) for each device arrival.
constexpr UINT kArrivalMessage = WM_APP + 1;

// Posted to the worker thread (no window) when a user logs on at the console, or was logged on when
// the service started, and launching at logon is switched on.
constexpr UINT kLogonMessage = WM_APP + 2;

// At most one arrival message waits in the worker's queue. Arrivals carry nothing the response reads,
// and a response lists the devices as they are when it runs: one waiting message serves every arrival
// that comes before the worker takes it, so a burst (a hub, a dock, a resume) costs one more listing,
// not one per arrival. The poster claims the slot (true: none was waiting, post it; give it back with
// `ArrivalTaken` when the post fails); the worker gives it back as it takes the message, before the
// response lists anything, so an arrival during the response is served by the next one.
bool ClaimArrivalSlot();
void ArrivalTaken();

// The timer that each WM_TIMER cancels before the launch check.
constexpr UINT_PTR kLaunchTimerId = 111;

// What the starter hands the thread; read when the thread begins. The thread may begin after a
// starter whose wait for `ready` failed has given up, so the record must outlive the starter.
struct WorkerStart {
  unsigned pollSeconds;  // 0: no timer
  HANDLE stopEvent;      // ends an arrival response's pauses early; may be null
  HANDLE ready;          // signalled once the queue exists and the timer is armed; may be null
};

// Thread routine; `parameter` is a WorkerStart or null (no timer, no stop event). Returns 0 once it
// has fetched WM_QUIT, or when the stop event is already signalled as it begins; 1 when it cannot
// signal `ready`.
DWORD WINAPI WorkerThreadProc(LPVOID parameter);
