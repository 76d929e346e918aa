#include "service/worker.h"

#include <atomic>

#include "launch/launch_decisions.h"
#include "platform/syscalls.h"

namespace {

std::atomic<bool> g_arrivalWaiting{false};

UINT_PTR ArmTimer(unsigned pollSeconds) {
  return pollSeconds == 0 ? 0 : sys::calls().SetTimer(nullptr, 0, pollSeconds * 1000u, nullptr);
}

bool Signalled(HANDLE event) { return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

bool ClaimArrivalSlot() { return !g_arrivalWaiting.exchange(true); }

void ArrivalTaken() { g_arrivalWaiting = false; }

DWORD WINAPI WorkerThreadProc(LPVOID parameter) {
  WorkerStart start{};
  if (parameter != nullptr) start = *static_cast<const WorkerStart*>(parameter);

  MSG msg;
  // Creates this thread's queue; whatever it finds stays queued.
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  // A starter that gave up waiting before the queue existed posted its WM_QUIT in vain; the stop
  // event, signalled before that post, still ends the thread.
  if (Signalled(start.stopEvent)) return 0;
  // The system chooses a thread timer's identifier.
  UINT_PTR timer = ArmTimer(start.pollSeconds);
  // A starter that is never told the queue exists would wait for ever: end instead, which it sees.
  if (start.ready != nullptr && !sys::calls().SetEvent(start.ready)) {
    if (timer != 0) sys::calls().KillTimer(nullptr, timer);
    return 1;
  }

  for (;;) {
    const BOOL fetched = sys::calls().GetMessageA(&msg, nullptr, 0, 0);
    if (fetched == 0) break;
    if (fetched == -1) continue;
    if (msg.message == WM_TIMER) {
      sys::calls().KillTimer(nullptr, kLaunchTimerId);
      // Our own timer may have been the one cancelled: polling stays on.
      if (timer == kLaunchTimerId) timer = ArmTimer(start.pollSeconds);
      OnLaunchTimer();
    } else if (msg.message == kArrivalMessage && msg.hwnd == nullptr) {
      ArrivalTaken();
      // Arrivals still queued when the service stops start nothing.
      if (!Signalled(start.stopEvent)) OnDeviceArrival(start.stopEvent);
    } else if (msg.message == kLogonMessage && msg.hwnd == nullptr) {
      if (!Signalled(start.stopEvent)) OnConsoleLogon();
    } else {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  if (timer != 0) sys::calls().KillTimer(nullptr, timer);
  return 0;
}
