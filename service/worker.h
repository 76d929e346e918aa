// The worker thread: the service host's one message queue.
//
// ServiceMain starts it and waits for `ready`; from then on its queue exists, so the control handler
// can post it kArrivalMessage for USB arrivals (and kLogonMessage per console logon) and ServiceMain
// can post it WM_QUIT at stop, all through the mailbox below. The launch responses (arrival, logon and timer) run here,
// one at a time, so none holds up the control dispatcher. With a polling period it keeps exactly one
// thread timer armed.
#pragma once

#include <windows.h>

#include "launch/settings.h"

// Posted to the worker thread (no window) for each device arrival.
constexpr UINT kArrivalMessage = WM_APP + 1;

// Posted to the worker thread (no window) when a user logs on at the console, or was logged on when
// the service started, and launching at logon is switched on.
constexpr UINT kLogonMessage = WM_APP + 2;

// Posted to the worker thread (no window) when the settings' watch has seen a change settle.
constexpr UINT kSettingsMessage = WM_APP + 3;

// The worker's one mailbox: every message for the worker thread is posted through `PostToWorker`.
// It holds the thread's identifier and whether an arrival is owed to it, under one lock of its own
// (taken last: a caller may hold the service's state lock, never the other way round).
//
// At most one arrival is owed at a time. Arrivals carry nothing the response reads, and a response
// lists the devices as they are when it runs: one waiting message serves every arrival that comes
// before the worker takes it, so a burst (a hub, a dock, a resume) costs one more listing, not one
// per arrival. An arrival while the mailbox is not open (before the worker's queue exists) is kept
// and posted as it opens. The worker gives the arrival back (`ArrivalTaken`) as it takes the message,
// before the response lists anything, so an arrival during the response is served by the next one.
//
// Names the thread, with the mailbox closed (WM_QUIT only); an arrival kept so far stays owed.
void MailboxFor(DWORD thread);
// The worker's queue exists: arrivals and logons go to it, the one kept first.
void OpenMailbox();
// Forgets the worker and any arrival owed: nothing more is posted until a thread is named.
void CloseMailbox();
// Posts `message` to the worker. WM_QUIT goes to a named thread even before its queue exists (the
// post then fails, and the thread finds the stop event signalled as it begins). An arrival is
// coalesced with the one owed, or kept while the mailbox is closed. True when posted, coalesced or
// kept; false when no worker is named or the post failed.
bool PostToWorker(UINT message);
// The worker took an arrival message.
void ArrivalTaken();
// The thread the mailbox posts to while open; 0 otherwise.
DWORD OpenMailboxThread();

// The timer that each WM_TIMER cancels before the launch check.
constexpr UINT_PTR kLaunchTimerId = 111;

// What the starter hands the thread; read when the thread begins. The thread may begin after a
// starter whose wait for `ready` failed has given up, so the record must outlive the starter.
struct WorkerStart {
  unsigned pollSeconds;  // 0: no timer
  HANDLE stopEvent;      // ends an arrival response's pauses early; may be null
  HANDLE ready;          // signalled once the queue exists and the timer is armed; may be null
  bool watchSettings = false;  // watch the settings (service/settings_watch.h) and apply their changes
  const Settings* settings = nullptr;  // the settings in force as the thread begins, if watched
};

// Thread routine; `parameter` is a WorkerStart or null (no timer, no stop event). On kSettingsMessage
// it reads the settings again and applies what changed: PollSeconds re-arms or stops the timer,
// LaunchAtLogon changes the controls accepted (SetLaunchAtLogon), AutoBack and LaunchAs are read at
// each decision anyway; one information event names every change. Returns 0 once it
// has fetched WM_QUIT, or when the stop event is already signalled as it begins; 1 when it cannot
// signal `ready`, or when fetching a message fails.
DWORD WINAPI WorkerThreadProc(LPVOID parameter);
