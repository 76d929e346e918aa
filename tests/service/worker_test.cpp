// The worker thread's loop on a real thread with a real queue; the launch code and the simulator
// behind it, with pauses and the launch itself logged instead of taken.
#include "service/worker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/launch_decisions.h"
#include "platform/handles.h"
#include "tests/service/service_test_support.h"

namespace {

using service_test::Events;
using service_test::ExpectedLaunch;
using test_support::WaitUntil;
using Lines = std::vector<std::string>;

// Timers: what SetTimer is asked for is logged; `g_fakeTimerIds` hands out identifiers instead of
// the system while it has any, and a real timer's period is shortened to `g_realPeriodMs`.
std::vector<UINT_PTR> g_fakeTimerIds;
UINT g_realPeriodMs = 0;

UINT_PTR WINAPI FakeSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC proc) {
  Events().Add("set timer " + std::to_string(period));
  if (!g_fakeTimerIds.empty()) {
    const UINT_PTR fake = g_fakeTimerIds.front();
    g_fakeTimerIds.erase(g_fakeTimerIds.begin());
    return fake;
  }
  return sys::realCalls().SetTimer(window, id, g_realPeriodMs != 0 ? g_realPeriodMs : period, proc);
}

// While set, a cancel waits for it: the thread stays busy while the test queues messages.
HANDLE g_killGate = nullptr;

BOOL WINAPI FakeKillTimer(HWND window, UINT_PTR id) {
  Events().Add("kill " + std::to_string(id));
  if (g_killGate != nullptr) ::WaitForSingleObject(g_killGate, INFINITE);
  return sys::realCalls().KillTimer(window, id);
}

class WorkerTest : public service_test::LaunchFixture {
 protected:
  void SetUp() override {
    LaunchFixture::SetUp();
    g_fakeTimerIds.clear();
    g_realPeriodMs = 0;
    g_killGate = nullptr;
    LaunchedFlag = 0;
    stop_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ready_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  }
  void TearDown() override {
    if (thread_) {
      Post(WM_QUIT);
      ::WaitForSingleObject(thread_.get(), INFINITE);
    }
    LaunchFixture::TearDown();
  }

  void Start(unsigned pollSeconds = 0) {
    WorkerStart start{pollSeconds, stop_.get(), ready_.get()};
    thread_.reset(::CreateThread(nullptr, 0, WorkerThreadProc, &start, 0, &threadId_));
    ASSERT_TRUE(thread_);
    // The starter's record may go once the thread is ready.
    ASSERT_EQ(::WaitForSingleObject(ready_.get(), INFINITE), WAIT_OBJECT_0);
  }
  void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    ASSERT_TRUE(::PostThreadMessageA(threadId_, message, wParam, lParam));
  }
  // Ends the thread with WM_QUIT and returns its result.
  DWORD Quit() {
    Post(WM_QUIT);
    EXPECT_EQ(::WaitForSingleObject(thread_.get(), INFINITE), WAIT_OBJECT_0);
    DWORD result = 1234;
    ::GetExitCodeThread(thread_.get(), &result);
    thread_.reset();
    return result;
  }

  sys::ScopedCall<decltype(c_.SetTimer)> setTimer_{c_.SetTimer, FakeSetTimer};
  sys::ScopedCall<decltype(c_.KillTimer)> killTimer_{c_.KillTimer, FakeKillTimer};
  sys::UniqueHandle stop_, ready_, thread_;
  DWORD threadId_ = 0;
};

// Each message in turn, each response once: timer messages of any identifier cancel timer 111 and
// run the timer check, arrivals run the arrival response, other thread messages do nothing.
TEST_F(WorkerTest, HandlesMessagesOneAtATimeInOrder) {
  Scenario(service_test::kOneDisk);
  Start();
  Post(kArrivalMessage);
  Post(WM_TIMER, 5);
  Post(WM_USER);
  Post(WM_APP + 7);
  Post(kArrivalMessage);
  Post(WM_TIMER, kLaunchTimerId);
  EXPECT_EQ(Quit(), 0u);
  const std::string launch = ExpectedLaunch();
  EXPECT_EQ(Events().Lines(), (Lines{launch, "kill 111", launch, launch, "kill 111", launch}));
}

TEST_F(WorkerTest, ArrivalWithNothingListedPausesTwentyTimesAndLaunchesNothing) {
  Start();
  Post(kArrivalMessage);
  EXPECT_EQ(Quit(), 0u);
  EXPECT_EQ(Events().Lines(), Lines(20, "pause"));
}

// A timer message is never translated or dispatched: dispatching would call the timer procedure it
// carries (any process can post one), which must never run here.
VOID CALLBACK PlantedTimerProcedure(HWND, UINT, UINT_PTR, DWORD) { Events().Add("planted procedure ran"); }

TEST_F(WorkerTest, TimerMessageCarryingAProcedureIsNotDispatched) {
  Start();
  Post(WM_TIMER, 9, reinterpret_cast<LPARAM>(PlantedTimerProcedure));
  Post(WM_TIMER, kLaunchTimerId, reinterpret_cast<LPARAM>(PlantedTimerProcedure));
  EXPECT_EQ(Quit(), 0u);
  EXPECT_EQ(Events().Lines(), (Lines{"kill 111", "kill 111"}));
}

// The thread is held inside a timer message's cancel while the rest is queued, so none of it can
// find the thread gone.
TEST_F(WorkerTest, QuitLeavesMessagesQueuedBehindIt) {
  Scenario(service_test::kOneDisk);
  sys::UniqueHandle gate(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  g_killGate = gate.get();
  Start();
  Post(WM_TIMER, 9);
  ASSERT_TRUE(WaitUntil([] { return Events().Count("kill 111") == 1; }));
  Post(WM_QUIT);
  Post(WM_TIMER, kLaunchTimerId);
  Post(kArrivalMessage);
  ::SetEvent(gate.get());
  ASSERT_EQ(::WaitForSingleObject(thread_.get(), INFINITE), WAIT_OBJECT_0);
  g_killGate = nullptr;
  DWORD result = 1234;
  ::GetExitCodeThread(thread_.get(), &result);
  thread_.reset();
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(Events().Lines(), (Lines{"kill 111", ExpectedLaunch()}));
}

// From the third pause on, a pause lasts until the stop event it waits on is set: the count is the
// pauses made before the stop, whatever the machine's speed.
DWORD WINAPI PausesUntilStopFromTheThird(HANDLE handle, DWORD timeout) {
  // A look at the stop event (no time-out) is no pause.
  if (timeout == INFINITE || timeout == 0) return sys::realCalls().WaitForSingleObject(handle, timeout);
  Events().Add("pause");
  return sys::realCalls().WaitForSingleObject(handle, Events().Count("pause") >= 3 ? INFINITE : 0);
}

// The stop event ends an arrival's pauses at once; nothing is launched and the thread takes its
// next message.
TEST_F(WorkerTest, StopDuringAnArrivalsPausesEndsItPromptly) {
  sys::ScopedCall<decltype(c_.WaitForSingleObject)> wait(c_.WaitForSingleObject, PausesUntilStopFromTheThird);
  Start();
  Post(kArrivalMessage);
  ASSERT_TRUE(WaitUntil([] { return Events().Count("pause") == 3; }));
  Scenario(service_test::kOneDisk);  // would launch, were the response to carry on
  ::SetEvent(stop_.get());
  EXPECT_EQ(Quit(), 0u);
  EXPECT_EQ(Events().Lines(), Lines(3, "pause"));
}

// Arrivals still queued once the service is stopping start nothing, not even a listing.
TEST_F(WorkerTest, ArrivalsQueuedAfterTheStopStartNothing) {
  Scenario(service_test::kOneDisk);
  Start();
  ::SetEvent(stop_.get());
  Post(kArrivalMessage);
  Post(kArrivalMessage);
  EXPECT_EQ(Quit(), 0u);
  EXPECT_TRUE(Events().Lines().empty());
}

TEST_F(WorkerTest, NoPollingArmsNoTimer) {
  Start(0);
  EXPECT_EQ(Quit(), 0u);
  EXPECT_TRUE(Events().Lines().empty());
}

// A real thread timer (period shortened) runs the timer check; at the end it is cancelled.
TEST_F(WorkerTest, PollingTimerRunsTheTimerCheckAndIsKilledAtTheEnd) {
  Scenario(service_test::kOneDisk);
  g_realPeriodMs = 10;
  Start(30);
  ASSERT_TRUE(WaitUntil([] { return Events().Count(ExpectedLaunch()) >= 2; }));
  EXPECT_EQ(Quit(), 0u);
  const Lines lines = Events().Lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "set timer 30000");
  EXPECT_EQ(lines[1], "kill 111");
  EXPECT_EQ(lines[2], ExpectedLaunch());
  EXPECT_EQ(Events().Count("set timer 30000"), 1u);
  EXPECT_EQ(lines.back().rfind("kill ", 0), 0u);
  EXPECT_NE(lines.back(), "kill 111");
}

// Should the system ever hand our timer identifier 111, the cancel before each check takes our own
// timer: it is armed again, so polling stays on with exactly one timer.
TEST_F(WorkerTest, OwnTimerCancelledAs111IsArmedAgain) {
  g_fakeTimerIds = {kLaunchTimerId, 4242};
  Start(2);
  Post(WM_TIMER, kLaunchTimerId);
  Post(WM_TIMER, 4242);
  EXPECT_EQ(Quit(), 0u);
  EXPECT_EQ(Events().Lines(),
            (Lines{"set timer 2000", "kill 111", "set timer 2000", "kill 111", "kill 4242"}));
}

// GetMessageA answering -1 (what Windows documents for an invalid window handle or message
// pointer) would answer it again at once: the worker ends with 1 on the first such answer, cancels
// its timer, and fetches nothing more, rather than spinning a core.
int g_fetches = 0;
BOOL WINAPI FetchFails(LPMSG, HWND, UINT, UINT) {
  ++g_fetches;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return -1;
}

TEST_F(WorkerTest, AFailedFetchEndsTheWorker) {
  g_fakeTimerIds = {4242};
  g_fetches = 0;
  sys::ScopedCall<decltype(c_.GetMessageA)> fails{c_.GetMessageA, FetchFails};
  Start(2);
  ASSERT_EQ(::WaitForSingleObject(thread_.get(), INFINITE), WAIT_OBJECT_0);
  DWORD result = 0;
  ::GetExitCodeThread(thread_.get(), &result);
  thread_.reset();
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(g_fetches, 1);
  EXPECT_EQ(Events().Lines(), (Lines{"set timer 2000", "kill 4242"}));
}

// The thread routine in its plain form: a null parameter, no timer, no stop event.
TEST_F(WorkerTest, NullParameterRunsTheLoop) {
  Scenario(service_test::kOneDisk);
  DWORD id = 0;
  sys::UniqueHandle thread(::CreateThread(nullptr, 0, WorkerThreadProc, nullptr, 0, &id));
  ASSERT_TRUE(thread);
  ASSERT_TRUE(WaitUntil([id] { return ::PostThreadMessageA(id, WM_TIMER, 9, 0) != FALSE; }));
  ::PostThreadMessageA(id, WM_QUIT, 0, 0);
  ASSERT_EQ(::WaitForSingleObject(thread.get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(Events().Lines(), (Lines{"kill 111", ExpectedLaunch()}));
}

}  // namespace
