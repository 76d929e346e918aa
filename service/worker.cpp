#include "service/worker.h"

#include <mutex>
#include <optional>
#include <string>

#include "launch/launch_decisions.h"
#include "platform/syscalls.h"
#include "service/service_events.h"
#include "service/service_main.h"
#include "service/settings_watch.h"

namespace {

struct Mailbox {
  std::mutex lock;
  DWORD thread = 0;          // named by MailboxFor; 0: no worker
  bool open = false;         // the thread's queue exists
  bool arrivalOwed = false;  // an arrival message waits in the queue, or is kept until it opens
};
Mailbox g_mailbox;

// Under the mailbox lock, with the mailbox open.
void PostOwedArrival() {
  g_mailbox.arrivalOwed = sys::calls().PostThreadMessageA(g_mailbox.thread, kArrivalMessage, 0, 0) != FALSE;
}

UINT_PTR ArmTimer(unsigned pollSeconds) {
  return pollSeconds == 0 ? 0 : sys::calls().SetTimer(nullptr, 0, pollSeconds * 1000u, nullptr);
}

bool Signalled(HANDLE event) {
  return event != nullptr && sys::calls().WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

void MailboxFor(DWORD thread) {
  std::lock_guard<std::mutex> hold(g_mailbox.lock);
  g_mailbox.thread = thread;
  g_mailbox.open = false;
}

void OpenMailbox() {
  std::lock_guard<std::mutex> hold(g_mailbox.lock);
  if (g_mailbox.thread == 0) return;
  g_mailbox.open = true;
  if (g_mailbox.arrivalOwed) PostOwedArrival();
}

void CloseMailbox() {
  std::lock_guard<std::mutex> hold(g_mailbox.lock);
  g_mailbox.thread = 0;
  g_mailbox.open = false;
  g_mailbox.arrivalOwed = false;
}

bool PostToWorker(UINT message) {
  std::lock_guard<std::mutex> hold(g_mailbox.lock);
  if (message == kArrivalMessage) {
    if (g_mailbox.arrivalOwed) return true;
    g_mailbox.arrivalOwed = true;
    if (g_mailbox.open) PostOwedArrival();
    return g_mailbox.arrivalOwed;
  }
  if (g_mailbox.thread == 0 || (!g_mailbox.open && message != WM_QUIT)) return false;
  return sys::calls().PostThreadMessageA(g_mailbox.thread, message, 0, 0) != FALSE;
}

void ArrivalTaken() {
  std::lock_guard<std::mutex> hold(g_mailbox.lock);
  g_mailbox.arrivalOwed = false;
}

DWORD OpenMailboxThread() {
  std::lock_guard<std::mutex> hold(g_mailbox.lock);
  return g_mailbox.open ? g_mailbox.thread : 0;
}

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
  unsigned pollSeconds = start.pollSeconds;
  UINT_PTR timer = ArmTimer(pollSeconds);
  Settings inForce{};
  if (start.settings != nullptr) inForce = *start.settings;
  inForce.pollSeconds = pollSeconds;
  // Armed before the starter is told the thread is ready, so that its calls come in a fixed order.
  std::optional<SettingsWatch> watch;
  if (start.watchSettings) watch.emplace();
  // A starter that is never told the queue exists would wait for ever: end instead, which it sees.
  if (start.ready != nullptr && !sys::calls().SetEvent(start.ready)) {
    if (timer != 0) sys::calls().KillTimer(nullptr, timer);
    return 1;
  }

  for (;;) {
    const BOOL fetched = sys::calls().GetMessageA(&msg, nullptr, 0, 0);
    if (fetched == 0) break;
    // A failed fetch fails again at once: trying again would only spin. The worker ends, and the
    // service stops with the code for a worker that ended on its own.
    if (fetched == -1) {
      if (timer != 0) sys::calls().KillTimer(nullptr, timer);
      return 1;
    }
    if (msg.message == WM_TIMER) {
      sys::calls().KillTimer(nullptr, kLaunchTimerId);
      // Our own timer may have been the one cancelled: polling stays on.
      if (timer == kLaunchTimerId) timer = ArmTimer(pollSeconds);
      OnLaunchTimer();
      FollowConsoleLogonWait();
    } else if (msg.message == kArrivalMessage && msg.hwnd == nullptr) {
      ArrivalTaken();
      // Arrivals still queued when the service stops start nothing.
      if (!Signalled(start.stopEvent)) OnDeviceArrival(start.stopEvent);
      FollowConsoleLogonWait();
    } else if (msg.message == kSettingsMessage && msg.hwnd == nullptr) {
      const Settings now = RereadSettings();
      if (now.pollSeconds != pollSeconds) {
        if (timer != 0) sys::calls().KillTimer(nullptr, timer);
        pollSeconds = now.pollSeconds;
        timer = ArmTimer(pollSeconds);
      }
      if (now.launchAtLogon != inForce.launchAtLogon) SetLaunchAtLogon(now.launchAtLogon);
      const std::string changes = DescribeSettingChanges(inForce, now);
      inForce = now;
      if (!changes.empty()) ReportSettingsChanged(changes.c_str());
      FollowConsoleLogonWait();
    } else if (msg.message == kLogonMessage && msg.hwnd == nullptr) {
      if (!Signalled(start.stopEvent)) OnConsoleLogon();
      FollowConsoleLogonWait();
    } else {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  if (timer != 0) sys::calls().KillTimer(nullptr, timer);
  return 0;
}
