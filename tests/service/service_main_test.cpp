// ServiceMain and the control handler through the platform-call table: every status report, the
// device registration, stop, arrivals and each start-up failure. The worker thread, the launch code
// and the simulator are real; pauses and the launch itself are logged instead of taken.
#include "service/service_main.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>
#include <wtsapi32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_log.h"
#include "platform/handles.h"
#include "service/service_errors.h"
#include "service/service_host.h"
#include "service/worker.h"
#include "tests/launch/test_files.h"
#include "tests/platform/event_capture.h"
#include "tests/service/service_test_support.h"

namespace {

using service_test::Events;
using service_test::ExpectedLaunch;
using test_support::WaitUntil;

const SERVICE_STATUS_HANDLE kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);

struct Report {
  DWORD state, accepted, checkPoint, waitHint, exitCode = 0, specificCode = 0;
  DWORD thread = 0;  // who reported; not compared
  bool operator==(const Report& o) const {
    return state == o.state && accepted == o.accepted && checkPoint == o.checkPoint && waitHint == o.waitHint &&
           exitCode == o.exitCode && specificCode == o.specificCode;
  }
};
void PrintTo(const Report& r, std::ostream* os) {
  *os << "{state " << r.state << ", accepted " << r.accepted << ", cp " << r.checkPoint << ", hint " << r.waitHint
      << ", exit " << r.exitCode << "/" << r.specificCode << "}";
}

const Report kStart1{SERVICE_START_PENDING, 0, 1, 3000};
const Report kStart2{SERVICE_START_PENDING, 0, 2, 1000};
const Report kRunning{SERVICE_RUNNING, 5, 0, 0};
const Report kStopPending1{SERVICE_STOP_PENDING, 5, 1, 3000};
const Report kStopPending0{SERVICE_STOP_PENDING, 5, 0, 0};
const Report kStopped{SERVICE_STOPPED, 5, 0, 0};
// The wait for the worker: one report per second of it, check points from 2.
Report WaitingForWorker(DWORD checkPoint) { return {SERVICE_STOP_PENDING, 5, checkPoint, 1000}; }
Report StoppedWith(DWORD code) { return {SERVICE_STOPPED, 5, 0, 0, code}; }
// The service's own codes, written out: a renumbered table must fail here.
Report StoppedWithOwnCode(DWORD code) { return {SERVICE_STOPPED, 5, 0, 0, 1066, code}; }

// The scripted service control manager and kernel: what fails, and what was seen.
struct Platform {
  std::mutex mutex;
  std::vector<Report> reports;
  bool reportsWellFormed = true;
  int refuseReportFrom = 0;  // 1-based index of the first refused report; 0: none refused
  bool failHandlerRegistration = false;
  // Error codes; 0: succeeds; ~0u: fails leaving no error.
  DWORD failDeviceRegistration = 0, failEvent = 0, failReadyEvent = 0, failThread = 0;
  bool refuseWithoutError = false;  // refused reports leave no error
  HANDLE readyEvent = nullptr;
  bool arrivalDuringRegistration = false;
  bool registrationRight = false;
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  HANDLE stopEvent = nullptr, worker = nullptr;
  std::set<HANDLE> closed;
  HANDLE running = nullptr;  // signalled when RUNNING is reported
  bool runningRecordedFirst = false;
  bool workerHangs = false;  // the wait for the worker's end times out
  bool failQuit = false;     // posting WM_QUIT fails
  bool workerEndsAtOnce = false;  // the worker ends before it takes messages
  // The worker does nothing until the stop waits for its end with a bound: a worker slow to end.
  bool workerEndsWhenWaitedFor = false;
  HANDLE workerGate = nullptr;
  bool failReadyWait = false;     // the wait for the worker's ready event fails
  // The stop's handler runs while ServiceMain is still starting: as the stop event is made, or once
  // the worker is ready, before RUNNING is recorded.
  bool stopAtStopEvent = false, stopWhenReady = false;
  // A pause of the arrival response lasts until the stop (its product's own bound not waited out).
  bool pauseUntilStop = false;
  HANDLE inPause = nullptr;  // signalled as such a pause begins
  DWORD failStopWait = 0;         // the wait for the stop fails with this error; ~0u: with none
  DWORD workerId = 0;
  sys::UniqueHandle workerCopy;  // outlives the service's own handle
  std::vector<std::string> terminations;

  // Lets a worker the service gave up on end, so that the test leaves no thread behind.
  void ReleaseWorker() {
    if (!workerCopy) return;
    if (workerGate != nullptr) ::SetEvent(workerGate);
    ::PostThreadMessageA(workerId, WM_QUIT, 0, 0);
    ::WaitForSingleObject(workerCopy.get(), INFINITE);
    workerCopy.reset();
  }

  std::vector<Report> Reports() {
    std::lock_guard<std::mutex> lock(mutex);
    return reports;
  }
};
Platform* platform = nullptr;

SERVICE_STATUS_HANDLE WINAPI FakeRegisterHandler(LPCSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID context) {
  platform->registrationRight =
      std::strcmp(name, "MarrowbankServer") == 0 && handler == ServiceControlHandler && context == nullptr;
  if (!platform->failHandlerRegistration) return kStatusHandle;
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  return nullptr;
}

HDEVNOTIFY WINAPI FakeRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags) {
  std::memcpy(&platform->filter, filter, sizeof platform->filter);
  platform->registrationRight =
      platform->registrationRight && recipient == kStatusHandle && flags == DEVICE_NOTIFY_SERVICE_HANDLE;
  // Events can come from here on, before any worker thread exists.
  if (platform->arrivalDuringRegistration) {
    ServiceControlHandler(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, nullptr, nullptr);
  }
  if (platform->failDeviceRegistration == 0) return reinterpret_cast<HDEVNOTIFY>(0x77);
  SetLastError(platform->failDeviceRegistration == ~0u ? 0 : platform->failDeviceRegistration);
  return nullptr;
}

BOOL WINAPI FakeSetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS s) {
  // The handler's closing report of a stop is slow to arrive: STOPPED must still come after it.
  if (s->dwCurrentState == SERVICE_STOP_PENDING && s->dwCheckPoint == 0) ::Sleep(50);
  std::lock_guard<std::mutex> lock(platform->mutex);
  platform->reports.push_back({s->dwCurrentState, s->dwControlsAccepted, s->dwCheckPoint, s->dwWaitHint,
                               s->dwWin32ExitCode, s->dwServiceSpecificExitCode, ::GetCurrentThreadId()});
  if (handle != kStatusHandle || s->dwServiceType != SERVICE_WIN32_OWN_PROCESS ||
      (s->dwServiceSpecificExitCode != 0 && s->dwWin32ExitCode != ERROR_SERVICE_SPECIFIC_ERROR)) {
    platform->reportsWellFormed = false;
  }
  if (s->dwCurrentState == SERVICE_RUNNING) {
    platform->runningRecordedFirst = RecordedServiceState() == SERVICE_RUNNING;
  }
  const int index = static_cast<int>(platform->reports.size());
  if (platform->refuseReportFrom != 0 && index >= platform->refuseReportFrom) {
    SetLastError(platform->refuseWithoutError ? 0 : ERROR_INVALID_DATA);
    return FALSE;
  }
  if (s->dwCurrentState == SERVICE_RUNNING) ::SetEvent(platform->running);
  return TRUE;
}

// The first event made is the stop event, the second the worker's ready event.
HANDLE WINAPI FakeCreateEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name) {
  const bool stop = platform->stopEvent == nullptr;
  const DWORD fail = stop ? platform->failEvent : platform->failReadyEvent;
  if (fail != 0) {
    SetLastError(fail == ~0u ? 0 : fail);
    return nullptr;
  }
  EXPECT_TRUE(security == nullptr && manualReset && !initialState && name == nullptr);
  HANDLE made = sys::realCalls().CreateEventA(security, manualReset, initialState, name);
  (stop ? platform->stopEvent : platform->readyEvent) = made;
  if (stop && platform->stopAtStopEvent) ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
  return made;
}

DWORD WINAPI EndAtOnce(LPVOID) { return 0; }
DWORD WINAPI EndWhenWaitedFor(LPVOID) { return sys::realCalls().WaitForSingleObject(platform->workerGate, INFINITE); }

HANDLE WINAPI FakeCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE routine,
                               LPVOID parameter, DWORD flags, LPDWORD id) {
  if (platform->failThread != 0) {
    SetLastError(platform->failThread == ~0u ? 0 : platform->failThread);
    return nullptr;
  }
  if (platform->workerEndsAtOnce) routine = EndAtOnce;
  if (platform->workerEndsWhenWaitedFor) routine = EndWhenWaitedFor;
  platform->worker = sys::realCalls().CreateThread(security, stack, routine, parameter, flags, id);
  platform->workerId = *id;
  HANDLE copy = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), platform->worker, ::GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
  platform->workerCopy.reset(copy);
  return platform->worker;
}

// The wait for the stop (or the worker's end) fails when the case says so.
DWORD WINAPI FakeWaitForStop(DWORD count, const HANDLE* handles, BOOL all, DWORD timeout) {
  if (handles[0] == platform->stopEvent && platform->failStopWait != 0) {
    SetLastError(platform->failStopWait == ~0u ? 0 : platform->failStopWait);
    return WAIT_FAILED;
  }
  if (handles[0] == platform->readyEvent && platform->failReadyWait) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const DWORD result = sys::realCalls().WaitForMultipleObjects(count, handles, all, timeout);
  if (handles[0] == platform->readyEvent && platform->stopWhenReady) {
    ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
  }
  return result;
}

DWORD WINAPI FakeWaitForWorker(HANDLE handle, DWORD timeout) {
  // The worker's pauses wait on the stop event with a time-out; its look at it (none) is no pause.
  if (platform->pauseUntilStop && timeout != INFINITE && timeout != 0 && handle == ServiceStopEvent() &&
      handle != nullptr) {
    Events().Add("pause");
    ::SetEvent(platform->inPause);
    return sys::realCalls().WaitForSingleObject(handle, INFINITE);
  }
  if (handle != platform->worker || timeout == INFINITE) return service_test::FakeWait(handle, timeout);
  // A worker held until the stop waits for it with a bound; the one look (no wait) does not release it.
  if (platform->workerGate != nullptr && timeout != 0) ::SetEvent(platform->workerGate);
  // The worker's real end, however long a loaded machine takes to schedule it.
  if (!platform->workerHangs) return sys::realCalls().WaitForSingleObject(handle, timeout == 0 ? 0 : INFINITE);
  // A control while the service waits repeats the wait's check point.
  ServiceControlHandler(SERVICE_CONTROL_INTERROGATE, 0, nullptr, nullptr);
  return WAIT_TIMEOUT;
}

BOOL WINAPI FakePostThreadMessage(DWORD thread, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_QUIT && platform->failQuit) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  return sys::realCalls().PostThreadMessageA(thread, message, wParam, lParam);
}

BOOL WINAPI FakeTerminateProcess(HANDLE process, UINT code) {
  platform->terminations.push_back((process == ::GetCurrentProcess() ? "self " : "other ") + std::to_string(code));
  return TRUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  {
    std::lock_guard<std::mutex> lock(platform->mutex);
    platform->closed.insert(handle);
  }
  return sys::realCalls().CloseHandle(handle);
}

UINT_PTR WINAPI FakeSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC proc) {
  Events().Add("set timer " + std::to_string(period));
  return sys::realCalls().SetTimer(window, id, period, proc);
}

class ServiceMainTest : public service_test::LaunchFixture {
 protected:
  void SetUp() override {
    LaunchFixture::SetUp();
    platform = &platform_;
    platform_.running = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    platform_.workerGate = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    platform_.inPause = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    if (main_.joinable()) {
      ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
      main_.join();
    }
    platform_.ReleaseWorker();
    for (HANDLE h : {platform_.running, platform_.workerGate, platform_.inPause}) ::CloseHandle(h);
    platform = nullptr;
    LaunchFixture::TearDown();
  }

  void StartService() { main_ = std::thread([] { ServiceMain(0, nullptr); }); }
  void StartRunning() {
    StartService();
    ASSERT_EQ(::WaitForSingleObject(platform_.running, INFINITE), WAIT_OBJECT_0);
    ASSERT_EQ(platform_.Reports(), (std::vector<Report>{kStart1, kStart2, kRunning}));
  }
  // The reports a control yields, with the handler's result checked. Only this thread's: once a stop
  // is signalled, ServiceMain's own reports may come before the handler has returned.
  std::vector<Report> Control(DWORD control, DWORD eventType = 0) {
    const size_t before = platform_.Reports().size();
    EXPECT_EQ(ServiceControlHandler(control, eventType, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
    const std::vector<Report> all = platform_.Reports();
    std::vector<Report> own;
    for (auto r = all.begin() + static_cast<long>(before); r != all.end(); ++r) {
      if (r->thread == ::GetCurrentThreadId()) own.push_back(*r);
    }
    return own;
  }
  void StopAndJoin() {
    EXPECT_EQ(Control(SERVICE_CONTROL_STOP), (std::vector<Report>{kStopPending1, kStopPending0}));
    main_.join();
    const std::vector<Report> all = platform_.Reports();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(std::vector<Report>(all.end() - 2, all.end()), (std::vector<Report>{WaitingForWorker(2), kStopped}));
  }

  void StopAndJoin_Forced() {
    EXPECT_EQ(Control(SERVICE_CONTROL_STOP), (std::vector<Report>{kStopPending1, kStopPending0}));
    main_.join();
  }

  Platform platform_;
  service_test::ScopedServiceHost scopedHost_;
  ServiceHost& host_ = scopedHost_.host;
  std::thread main_;
  sys::ScopedCall<decltype(c_.RegisterServiceCtrlHandlerExA)> r1_{c_.RegisterServiceCtrlHandlerExA,
                                                                   FakeRegisterHandler};
  sys::ScopedCall<decltype(c_.RegisterDeviceNotificationA)> r2_{c_.RegisterDeviceNotificationA,
                                                                 FakeRegisterDeviceNotification};
  sys::ScopedCall<decltype(c_.SetServiceStatus)> r3_{c_.SetServiceStatus, FakeSetServiceStatus};
  sys::ScopedCall<decltype(c_.CreateEventA)> r4_{c_.CreateEventA, FakeCreateEvent};
  sys::ScopedCall<decltype(c_.CreateThread)> r5_{c_.CreateThread, FakeCreateThread};
  sys::ScopedCall<decltype(c_.CloseHandle)> r6_{c_.CloseHandle, FakeCloseHandle};
  sys::ScopedCall<decltype(c_.SetTimer)> r7_{c_.SetTimer, FakeSetTimer};
  sys::ScopedCall<decltype(c_.WaitForSingleObject)> r8_{c_.WaitForSingleObject, FakeWaitForWorker};
  sys::ScopedCall<decltype(c_.PostThreadMessageA)> r9_{c_.PostThreadMessageA, FakePostThreadMessage};
  sys::ScopedCall<decltype(c_.TerminateProcess)> r10_{c_.TerminateProcess, FakeTerminateProcess};
  sys::ScopedCall<decltype(c_.WaitForMultipleObjects)> r11_{c_.WaitForMultipleObjects, FakeWaitForStop};
  sys::ScopedCall<decltype(c_.GetNamedSecurityInfoA)> r12_{c_.GetNamedSecurityInfoA,
                                                           service_test::LockedFolderSecurity};
};

// Start, then a stop or a shutdown: the handler records and reports STOP_PENDING twice, ServiceMain
// ends the worker, releases both handles and reports STOPPED.
TEST_F(ServiceMainTest, StartThenStopOrShutdown) {
  for (DWORD control : {static_cast<DWORD>(SERVICE_CONTROL_STOP), static_cast<DWORD>(SERVICE_CONTROL_SHUTDOWN)}) {
    SCOPED_TRACE(control);
    platform_.reports.clear();
    platform_.stopEvent = platform_.readyEvent = nullptr;
    ::ResetEvent(platform_.running);
    StartRunning();
    EXPECT_TRUE(platform_.registrationRight);
    EXPECT_EQ(host_.statusHandle, kStatusHandle);
    EXPECT_EQ(RecordedServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(OpenMailboxThread(), platform_.workerId);

    EXPECT_TRUE(platform_.runningRecordedFirst);

    EXPECT_EQ(Control(control), (std::vector<Report>{kStopPending1, kStopPending0}));
    main_.join();
    EXPECT_EQ(platform_.Reports(), (std::vector<Report>{kStart1, kStart2, kRunning, kStopPending1, kStopPending0,
                                                        WaitingForWorker(2), kStopped}));
    EXPECT_TRUE(platform_.terminations.empty());
    EXPECT_EQ(RecordedServiceState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(platform_.closed.count(platform_.stopEvent));
    EXPECT_TRUE(platform_.closed.count(platform_.worker));
    EXPECT_TRUE(platform_.reportsWellFormed);
    // Once STOPPED is reported, a late control reports nothing.
    EXPECT_EQ(Control(SERVICE_CONTROL_INTERROGATE), std::vector<Report>{});
  }
}

TEST_F(ServiceMainTest, RegistersForUsbDeviceInterfaceArrivals) {
  StartRunning();
  const DEV_BROADCAST_DEVICEINTERFACE_A& f = platform_.filter;
  EXPECT_EQ(f.dbcc_size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_A));
  EXPECT_EQ(f.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
  EXPECT_EQ(f.dbcc_reserved, 0u);
  EXPECT_TRUE(IsEqualGUID(f.dbcc_classguid, GUID_DEVINTERFACE_USB_DEVICE));
  EXPECT_EQ(f.dbcc_name[0], '\0');
  EXPECT_TRUE(platform_.registrationRight);
  StopAndJoin();
}

TEST_F(ServiceMainTest, InterrogateAndOtherControlsGetTheClosingReportOnly) {
  StartRunning();
  EXPECT_EQ(Control(SERVICE_CONTROL_INTERROGATE), std::vector<Report>{kRunning});
  EXPECT_EQ(Control(SERVICE_CONTROL_PAUSE), std::vector<Report>{kRunning});
  EXPECT_EQ(Control(200), std::vector<Report>{kRunning});
  StopAndJoin();
  EXPECT_TRUE(Events().Lines().empty());
}

// The arrival is handed to the worker thread: the handler answers at once, and the response ends in
// the launch of the stand-in program. A removal is answered with the closing report alone.
TEST_F(ServiceMainTest, ArrivalIsAnsweredAtOnceAndEndsInALaunch) {
  Scenario(service_test::kOneDisk);
  StartRunning();
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE), std::vector<Report>{kRunning});
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  ASSERT_TRUE(WaitUntil([] { return !Events().Lines().empty(); }));
  StopAndJoin();
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{ExpectedLaunch()});
}

// The same road with the real launch: the stand-in program beside this binary is started.
TEST_F(ServiceMainTest, ArrivalStartsTheStandInProgram) {
  const std::string log = test_support::OwnDirectory() + "Marrowbank-starts.log";
  ::DeleteFileA(log.c_str());
  sys::ScopedCall<decltype(c_.CreateProcessAsUserA)> realLaunch{c_.CreateProcessAsUserA,
                                                                sys::realCalls().CreateProcessAsUserA};
  Scenario(service_test::kOneDisk);
  StartRunning();
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  std::string started;
  ASSERT_TRUE(WaitUntil([&] { return !(started = test_support::ReadText(log)).empty(); }));
  StopAndJoin();
  test_support::EndStartedStandIns(started);

  unsigned long pid = 0;
  ASSERT_EQ(std::sscanf(started.c_str(), "pid=%lu", &pid), 1) << started;
  EXPECT_NE(started.find("cmdline=\"" + test_support::OwnDirectory() + "Marrowbank.exe\""), std::string::npos)
      << started;
}

// With nothing listed the response pauses, here for as long as the service runs; the handler
// returns while the worker is in its first pause, and the stop ends that pause: the worker's end is
// waited for in one step, with no second pause begun.
TEST_F(ServiceMainTest, ArrivalPausesHoldUpNeitherTheHandlerNorTheStop) {
  platform_.pauseUntilStop = true;
  StartRunning();
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  ASSERT_EQ(::WaitForSingleObject(platform_.inPause, INFINITE), WAIT_OBJECT_0);
  StopAndJoin();
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{"pause"});
  EXPECT_TRUE(platform_.terminations.empty());
}

// A burst of arrivals (a hub, a dock, a resume) while a response runs is served by one more listing,
// not one per arrival. The first response is held in its first pause while ten arrivals of other
// devices come, then the family's disk is plugged and arrives: the response that was running finds
// it on its next listing, the one waiting message lists once more, and the worker is idle. Listings
// are counted by the simulator, the end of the work by the worker finding its queue empty.
struct Burst {
  HANDLE inPause = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE resume = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE idle = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> holdNextPause{true};
  ~Burst() {
    ::SetEvent(resume);
    for (HANDLE h : {inPause, resume, idle}) ::CloseHandle(h);
  }
};
Burst* burst = nullptr;

DWORD WINAPI HeldPause(HANDLE handle, DWORD timeout) {
  if (timeout != INFINITE && timeout != 0 && handle != platform->worker && burst->holdNextPause.exchange(false)) {
    ::SetEvent(burst->inPause);
    sys::realCalls().WaitForSingleObject(burst->resume, INFINITE);
  }
  return FakeWaitForWorker(handle, timeout);
}
BOOL WINAPI GetMessageTellingIdle(LPMSG msg, HWND window, UINT low, UINT high) {
  MSG waiting;
  if (!::PeekMessageA(&waiting, nullptr, 0, 0, PM_NOREMOVE)) ::SetEvent(burst->idle);
  return sys::realCalls().GetMessageA(msg, window, low, high);
}

int Listings() {
  int listings = 0;
  for (int i = 0; i < SimCallCount(); ++i) listings += std::strcmp(SimCallText(i), "vsRefreshDeviceList()") == 0;
  return listings;
}

TEST_F(ServiceMainTest, ABurstOfArrivalsIsServedByOneMoreListing) {
  Burst held;
  burst = &held;
  sys::ScopedCall<decltype(c_.WaitForSingleObject)> hold{c_.WaitForSingleObject, HeldPause};
  sys::ScopedCall<decltype(c_.GetMessageA)> idle{c_.GetMessageA, GetMessageTellingIdle};
  StartRunning();  // nothing of the family listed
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  ASSERT_EQ(::WaitForSingleObject(held.inPause, INFINITE), WAIT_OBJECT_0);
  for (int i = 1; i < 10; ++i) Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL);
  Scenario(service_test::kOneDisk);  // also forgets the calls recorded so far
  Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL);
  ::ResetEvent(held.idle);
  ::SetEvent(held.resume);
  ASSERT_EQ(::WaitForSingleObject(held.idle, INFINITE), WAIT_OBJECT_0);

  EXPECT_EQ(Listings(), 2);
  // The launch is refused (nothing runs), so each of the two responses reaches it.
  EXPECT_EQ(Events().Lines(), (std::vector<std::string>{"pause", ExpectedLaunch(), ExpectedLaunch()}));
  StopAndJoin();
  burst = nullptr;
}

// A worker that does not end (an SDK call that never returns): STOP_PENDING with check points 2, 3
// and 4 a second apart, a control meanwhile repeats the latest, then STOPPED. The stop was asked
// for, so STOPPED carries 0 (recovery must not start the service again); the forced end is a
// warning event before the stop's own, and the process is terminated with the forced-stop code.
TEST_F(ServiceMainTest, StopOfAHungWorkerIsForcedAfterThreeSeconds) {
  event_test::ScopedEventCapture events;
  StartRunning();
  platform_.workerHangs = true;
  StopAndJoin_Forced();
  EXPECT_EQ(platform_.Reports(),
            (std::vector<Report>{kStart1, kStart2, kRunning, kStopPending1, kStopPending0, WaitingForWorker(2),
                                 WaitingForWorker(2), WaitingForWorker(3), WaitingForWorker(3), WaitingForWorker(4),
                                 WaitingForWorker(4), kStopped}));
  EXPECT_EQ(platform_.terminations, std::vector<std::string>{"self 8"});
  EXPECT_EQ(events.Events(), (std::vector<std::string>{"info 0x40000064: 0 | 0 | service", "warning 0x80000067: 8",
                                                       "info 0x40000065: 0 | 0"}));
  EXPECT_TRUE(platform_.reportsWellFormed);
}

// A worker that cannot be told to quit is waited for like any other: the bound, then the forced stop.
TEST_F(ServiceMainTest, StopWhenQuitCannotBePostedWaitsTheBound) {
  StartRunning();
  platform_.failQuit = true;
  platform_.workerHangs = true;
  StopAndJoin_Forced();
  EXPECT_EQ(platform_.Reports(),
            (std::vector<Report>{kStart1, kStart2, kRunning, kStopPending1, kStopPending0, WaitingForWorker(2),
                                 WaitingForWorker(2), WaitingForWorker(3), WaitingForWorker(3), WaitingForWorker(4),
                                 WaitingForWorker(4), kStopped}));
  EXPECT_EQ(platform_.terminations, std::vector<std::string>{"self 8"});
}

// The first failure names the STOPPED code. The wait for the worker's ready event fails (code 6) and
// WM_QUIT cannot be posted: the stop still waits its bound for the worker, and STOPPED, the error
// event and the stop event all carry 6, whether the worker ends slowly or not at all (then the
// process is terminated, with 6 too).
TEST_F(ServiceMainTest, AFailedReadyWaitStopsWithItsOwnCode) {
  const std::string notReady = "error 0xC0000066: " + std::string(ServiceErrorText(ServiceError::kWorkerNotReady)) +
                               " | 1066 | " + Win32ErrorText(ERROR_SERVICE_SPECIFIC_ERROR) + " | 6";
  struct Case {
    const char* name;
    bool hangs;
    std::vector<Report> reports;
    std::vector<std::string> terminations;
  };
  const Case cases[] = {
      {"worker ends once waited for", false, {kStart1, kStart2, WaitingForWorker(2), StoppedWithOwnCode(6)}, {}},
      {"worker does not end", true,
       {kStart1, kStart2, WaitingForWorker(2), WaitingForWorker(2), WaitingForWorker(3), WaitingForWorker(3),
        WaitingForWorker(4), WaitingForWorker(4), StoppedWithOwnCode(6)},
       {"self 6"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.reports.clear();
    platform_.terminations.clear();
    platform_.stopEvent = platform_.readyEvent = nullptr;
    ::ResetEvent(platform_.workerGate);
    platform_.failReadyWait = platform_.failQuit = platform_.workerEndsWhenWaitedFor = true;
    platform_.workerHangs = c.hangs;
    event_test::ScopedEventCapture events;
    ServiceMain(0, nullptr);
    EXPECT_EQ(platform_.Reports(), c.reports);
    EXPECT_EQ(platform_.terminations, c.terminations);
    EXPECT_EQ(events.Events(), (std::vector<std::string>{notReady, "info 0x40000065: 1066 | 6"}));
    platform_.ReleaseWorker();
  }
}

// A stop while ServiceMain still starts: the handler's STOP_PENDING is the last word, no later
// START_PENDING or RUNNING follows it, and the service stops with nothing failed.
TEST_F(ServiceMainTest, AStopDuringStartUpIsNotOverwrittenByRunning) {
  struct Case {
    const char* name;
    bool atStopEvent;
    std::vector<Report> reports;
  };
  const Case cases[] = {
      {"once the worker is ready", false,
       {kStart1, kStart2, kStopPending1, kStopPending0, WaitingForWorker(2), kStopped}},
      // Before the stop event exists: nothing can be signalled, and only the recorded state stops it.
      {"as the stop event is made", true, {kStart1, kStopPending1, kStopPending0, WaitingForWorker(2), kStopped}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.reports.clear();
    platform_.stopEvent = platform_.readyEvent = nullptr;
    platform_.stopAtStopEvent = c.atStopEvent;
    platform_.stopWhenReady = !c.atStopEvent;
    event_test::ScopedEventCapture events;
    ServiceMain(0, nullptr);
    EXPECT_EQ(platform_.Reports(), c.reports);
    EXPECT_EQ(RecordedServiceState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(platform_.terminations.empty());
    EXPECT_EQ(events.Events(), std::vector<std::string>{"info 0x40000065: 0 | 0"});
  }
}

// An arrival before the worker thread takes messages is not lost: it runs once the worker is up.
// The handler makes no closing report while nothing is recorded.
TEST_F(ServiceMainTest, ArrivalBeforeRunningIsKeptAndNotReported) {
  Scenario(service_test::kOneDisk);
  platform_.arrivalDuringRegistration = true;
  StartRunning();  // no report before the first START_PENDING
  ASSERT_TRUE(WaitUntil([] { return !Events().Lines().empty(); }));
  StopAndJoin();
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{ExpectedLaunch()});
}

TEST_F(ServiceMainTest, ControlBeforeRunningMakesNoReport) {
  EXPECT_EQ(Control(SERVICE_CONTROL_INTERROGATE), std::vector<Report>{});
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE), std::vector<Report>{});
}

// Refused reports change nothing: the handler returns 0 and the stop still completes.
TEST_F(ServiceMainTest, RefusedReportsAreIgnoredByTheHandler) {
  StartRunning();
  platform_.refuseReportFrom = 4;
  EXPECT_EQ(Control(SERVICE_CONTROL_INTERROGATE), std::vector<Report>{kRunning});
  StopAndJoin();
  EXPECT_EQ(platform_.Reports().back(), kStopped);
}

// A failed start-up step releases what was made and reports STOPPED with that step's error code.
TEST_F(ServiceMainTest, StartUpFailures) {
  struct FailureCase {
    const char* name;
    void (*arrange)(Platform&);
    std::vector<Report> reports;
    bool eventMade, workerMade;
  };
  const FailureCase cases[] = {
      {"handler registration", [](Platform& p) { p.failHandlerRegistration = true; }, {}, false, false},
      {"device registration", [](Platform& p) { p.failDeviceRegistration = ERROR_ACCESS_DENIED; },
       {StoppedWith(ERROR_ACCESS_DENIED)}, false, false},
      {"first start-pending report", [](Platform& p) { p.refuseReportFrom = 1; },
       {kStart1, StoppedWith(ERROR_INVALID_DATA)}, false, false},
      {"stop event", [](Platform& p) { p.failEvent = ERROR_NOT_ENOUGH_MEMORY; },
       {kStart1, StoppedWith(ERROR_NOT_ENOUGH_MEMORY)}, false, false},
      {"second start-pending report", [](Platform& p) { p.refuseReportFrom = 2; },
       {kStart1, kStart2, StoppedWith(ERROR_INVALID_DATA)}, true, false},
      {"worker thread", [](Platform& p) { p.failThread = ERROR_TOO_MANY_TCBS; },
       {kStart1, kStart2, StoppedWith(ERROR_TOO_MANY_TCBS)}, true, false},
      {"worker ended before ready", [](Platform& p) { p.workerEndsAtOnce = true; },
       {kStart1, kStart2, WaitingForWorker(2), StoppedWithOwnCode(6)}, true, true},
      {"running report", [](Platform& p) { p.refuseReportFrom = 3; },
       {kStart1, kStart2, kRunning, WaitingForWorker(2), StoppedWith(ERROR_INVALID_DATA)}, true, true},
      {"wait for the stop", [](Platform& p) { p.failStopWait = ERROR_INVALID_HANDLE; },
       {kStart1, kStart2, kRunning, WaitingForWorker(2), StoppedWith(ERROR_INVALID_HANDLE)}, true, true},
      // Steps that fail without an error of their own report the step's code.
      {"device registration, no error", [](Platform& p) { p.failDeviceRegistration = ~0u; },
       {StoppedWithOwnCode(1)}, false, false},
      {"first start-pending report, no error", [](Platform& p) { p.refuseReportFrom = 1; p.refuseWithoutError = true; },
       {kStart1, StoppedWithOwnCode(2)}, false, false},
      {"stop event, no error", [](Platform& p) { p.failEvent = ~0u; }, {kStart1, StoppedWithOwnCode(3)}, false, false},
      {"ready event", [](Platform& p) { p.failReadyEvent = ERROR_NOT_ENOUGH_MEMORY; },
       {kStart1, kStart2, StoppedWith(ERROR_NOT_ENOUGH_MEMORY)}, true, false},
      {"ready event, no error", [](Platform& p) { p.failReadyEvent = ~0u; },
       {kStart1, kStart2, StoppedWithOwnCode(4)}, true, false},
      {"worker thread, no error", [](Platform& p) { p.failThread = ~0u; },
       {kStart1, kStart2, StoppedWithOwnCode(5)}, true, false},
      {"running report, no error", [](Platform& p) { p.refuseReportFrom = 3; p.refuseWithoutError = true; },
       {kStart1, kStart2, kRunning, WaitingForWorker(2), StoppedWithOwnCode(7)}, true, true},
      {"wait for the stop, no error", [](Platform& p) { p.failStopWait = ~0u; },
       {kStart1, kStart2, kRunning, WaitingForWorker(2), StoppedWithOwnCode(9)}, true, true},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.reports.clear();
    platform_.refuseReportFrom = 0;
    platform_.failHandlerRegistration = false;
    platform_.failDeviceRegistration = platform_.failEvent = platform_.failReadyEvent = platform_.failThread = 0;
    platform_.workerEndsAtOnce = false;
    platform_.failStopWait = 0;
    platform_.refuseWithoutError = false;
    platform_.stopEvent = platform_.readyEvent = platform_.worker = nullptr;
    platform_.closed.clear();
    platform_.terminations.clear();
    c.arrange(platform_);

    ServiceMain(0, nullptr);  // returns: nothing is left waiting
    EXPECT_EQ(platform_.Reports(), c.reports);
    // With no status handle, or a STOPPED report refused, only the process's end can tell the service
    // control manager: with the registration's error, or the exit code the report carried.
    std::vector<std::string> ended;
    if (c.reports.empty()) {
      ended = {"self 1060"};
    } else if (platform_.refuseReportFrom != 0) {
      const Report& stopped = c.reports.back();
      ended = {"self " + std::to_string(stopped.exitCode == ERROR_SERVICE_SPECIFIC_ERROR ? stopped.specificCode
                                                                                         : stopped.exitCode)};
    }
    EXPECT_EQ(platform_.terminations, ended);
    EXPECT_EQ(platform_.stopEvent != nullptr, c.eventMade);
    EXPECT_EQ(platform_.worker != nullptr, c.workerMade);
    if (c.eventMade) {
      EXPECT_TRUE(platform_.closed.count(platform_.stopEvent));
    }
    if (c.workerMade) {
      EXPECT_TRUE(platform_.closed.count(platform_.worker));
    }
    if (platform_.readyEvent != nullptr) {
      EXPECT_TRUE(platform_.closed.count(platform_.readyEvent));
    }
    EXPECT_EQ(ServiceStopEvent(), nullptr);
    EXPECT_EQ(OpenMailboxThread(), 0u);
    if (!c.workerMade) {
      EXPECT_EQ(RecordedServiceState(), 0u);  // RUNNING neither recorded nor reported
    }
  }
}

// The worker's fetch fails (GetMessageA answers -1): the worker ends rather than spin, and the
// service stops with the code for a worker that ended with no stop asked for.
BOOL WINAPI FetchFails(LPMSG, HWND, UINT, UINT) {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return -1;
}

TEST_F(ServiceMainTest, AFailedFetchStopsTheServiceWithTheWorkerEndedCode) {
  sys::ScopedCall<decltype(c_.GetMessageA)> fails{c_.GetMessageA, FetchFails};
  ServiceMain(0, nullptr);
  EXPECT_EQ(platform_.Reports(),
            (std::vector<Report>{kStart1, kStart2, kRunning, WaitingForWorker(2), StoppedWithOwnCode(10)}));
  EXPECT_TRUE(platform_.terminations.empty());
}

// "PollSeconds" is read when the service starts and becomes the worker's timer period.
TEST_F(ServiceMainTest, PollSecondsArmsTheWorkersTimer) {
  const std::string directory = test_support::OwnDirectory() + "language";
  const std::string file = directory + "\\ModeConfig.ini";
  ::CreateDirectoryA(directory.c_str(), nullptr);
  ASSERT_TRUE(::WritePrivateProfileStringA("Fields", "PollSeconds", "7", file.c_str()));
  StartRunning();
  ::DeleteFileA(file.c_str());
  StopAndJoin();
  EXPECT_EQ(Events().Count("set timer 7000"), 1u);
}

// ---- Events ------------------------------------------------------------------------------------

// An idle service writes its start and its stop, and nothing for controls or an arrival that finds
// no disk.
TEST_F(ServiceMainTest, StartAndStopAreTheOnlyEventsOfAnIdleService) {
  event_test::ScopedEventCapture events;
  StartRunning();
  ASSERT_TRUE(WaitUntil([&] { return !events.Events().empty(); }));
  EXPECT_EQ(Control(SERVICE_CONTROL_INTERROGATE), std::vector<Report>{kRunning});
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  ASSERT_TRUE(WaitUntil([] { return Events().Count("pause") == 20; }));
  StopAndJoin();
  EXPECT_EQ(events.Events(),
            (std::vector<std::string>{"info 0x40000064: 0 | 0 | service", "info 0x40000065: 0 | 0"}));
  EXPECT_TRUE(events.Balanced());
}

// With LaunchAs=user and a desktop program whose manifest asks for administrator rights (the
// stand-in in "requires-administrator", where this service's path is said to be), the start names
// the program once; the launches that follow (refused here) add no second warning.
std::string g_adminFolder;
DWORD WINAPI ServiceInAdminFolder(HMODULE module, LPWSTR buffer, DWORD size) {
  if (module != nullptr) return sys::realCalls().GetModuleFileNameW(module, buffer, size);
  return test_support::WideModulePath(g_adminFolder + "MarrowbankServer.exe", buffer, size);
}

TEST_F(ServiceMainTest, AProgramThatNeedsAdministratorRightsIsNamedOnceAtStart) {
  g_adminFolder = test_support::OwnDirectory() + "requires-administrator\\";
  ::CreateDirectoryA((g_adminFolder + "language").c_str(), nullptr);
  const std::string modeFile = g_adminFolder + "language\\ModeConfig.ini";
  ASSERT_TRUE(test_support::WriteText(modeFile, "[Fields]\r\nLaunchAs=user\r\n"));
  sys::ScopedCall<decltype(c_.GetModuleFileNameW)> path{c_.GetModuleFileNameW, ServiceInAdminFolder};
  Scenario(service_test::kOneDisk);
  event_test::ScopedEventCapture events;
  StartRunning();
  for (size_t launches = 1; launches <= 2; ++launches) {
    EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
    ASSERT_TRUE(WaitUntil([&] { return Events().Lines().size() == launches; }));
  }
  StopAndJoin();
  ::DeleteFileA(modeFile.c_str());
  const std::string warning =
      "warning 0x800000CB: " + g_adminFolder + "Marrowbank.exe | requireAdministrator";
  const std::vector<std::string> written = events.Events();
  ASSERT_GE(written.size(), 2u);
  EXPECT_EQ(written[0], "info 0x40000064: 0 | 0 | user");
  EXPECT_EQ(written[1], warning);
  EXPECT_EQ(std::count(written.begin(), written.end(), warning), 1);
}

// A failed start-up step is an error event with the step's text and the exit codes, then the stop
// event with the same codes.
TEST_F(ServiceMainTest, AFailedStartUpStepIsLogged) {
  const std::string text1066 = Win32ErrorText(ERROR_SERVICE_SPECIFIC_ERROR);
  struct Case {
    const char* name;
    void (*arrange)(Platform&);
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"device registration", [](Platform& p) { p.failDeviceRegistration = ERROR_ACCESS_DENIED; },
       {"error 0xC0000066: " + std::string(ServiceErrorText(ServiceError::kDeviceRegistration)) + " | 5 | " +
            Win32ErrorText(ERROR_ACCESS_DENIED) + " | 0",
        "info 0x40000065: 5 | 0"}},
      {"worker not ready", [](Platform& p) { p.workerEndsAtOnce = true; },
       {"error 0xC0000066: " + std::string(ServiceErrorText(ServiceError::kWorkerNotReady)) + " | 1066 | " +
            text1066 + " | 6",
        "info 0x40000065: 1066 | 6"}},
      {"handler registration (nothing to report STOPPED with)", [](Platform& p) { p.failHandlerRegistration = true; },
       {"error 0xC0000066: Could not register the service's control handler. | 1060 | " +
        Win32ErrorText(ERROR_SERVICE_DOES_NOT_EXIST) + " | 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.failDeviceRegistration = 0;
    platform_.workerEndsAtOnce = platform_.failHandlerRegistration = false;
    c.arrange(platform_);
    event_test::ScopedEventCapture events;
    ServiceMain(0, nullptr);
    EXPECT_EQ(events.Events(), c.events);
    platform_.ReleaseWorker();
  }
}

// ---- Launching at logon --------------------------------------------------------------------------

using launch_test::SetModeFile;

BOOL WINAPI NoUserToken(ULONG, PHANDLE) {
  SetLastError(ERROR_NO_TOKEN);
  return FALSE;
}

// Nobody at the console for the next `g_nobodyFor` questions (all of them while negative); then the
// real answer, a user.
std::atomic<int> g_nobodyFor{0};
std::atomic<int> g_tokenQueries{0};
BOOL WINAPI UserTokenAfterNobody(ULONG session, PHANDLE token) {
  ++g_tokenQueries;
  if (g_nobodyFor != 0) {
    if (g_nobodyFor > 0) --g_nobodyFor;
    return NoUserToken(session, token);
  }
  return sys::realCalls().WTSQueryUserToken(session, token);
}

class LaunchAtLogonTest : public ServiceMainTest {
 protected:
  void TearDown() override {
    SetModeFile(nullptr);
    ServiceMainTest::TearDown();
  }
  // The reports a session change yields.
  std::vector<Report> SessionChange(DWORD eventType, DWORD sessionId) {
    WTSSESSION_NOTIFICATION notification{sizeof notification, sessionId};
    const size_t before = platform_.Reports().size();
    EXPECT_EQ(ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, eventType, &notification, nullptr),
              static_cast<DWORD>(NO_ERROR));
    const std::vector<Report> all = platform_.Reports();
    return std::vector<Report>(all.begin() + static_cast<long>(before), all.end());
  }
  const DWORD console_ = ::WTSGetActiveConsoleSessionId();
};

const Report kRunningWithLogon{SERVICE_RUNNING, 0x85, 0, 0};

// LaunchAtLogon=1 with nobody at the console at start: session changes are accepted, and only a
// logon at the console session runs the decision. The worker takes messages in order and the
// launch is refused, so any decision besides the one expected would show as a second launch.
TEST_F(LaunchAtLogonTest, ALogonAtTheConsoleRunsTheDecisionOnce) {
  SetModeFile("[Fields]\r\nLaunchAtLogon=1\r\n");
  Scenario(service_test::kOneDisk);
  g_nobodyFor = -1;
  g_tokenQueries = 0;
  sys::ScopedCall<decltype(c_.WTSQueryUserToken)> noUser{c_.WTSQueryUserToken, UserTokenAfterNobody};
  StartService();
  ASSERT_EQ(::WaitForSingleObject(platform_.running, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(platform_.Reports(), (std::vector<Report>{kStart1, kStart2, kRunningWithLogon}));
  ASSERT_TRUE(WaitUntil([] { return g_tokenQueries >= 1; })) << "the look for a user at start";

  EXPECT_EQ(SessionChange(WTS_SESSION_LOGON, console_ + 1), std::vector<Report>{kRunningWithLogon});
  EXPECT_EQ(SessionChange(WTS_SESSION_LOGOFF, console_), std::vector<Report>{kRunningWithLogon});
  g_nobodyFor = 0;  // the user who logs on
  EXPECT_EQ(SessionChange(WTS_SESSION_LOGON, console_), std::vector<Report>{kRunningWithLogon});
  ASSERT_TRUE(WaitUntil([] { return !Events().Lines().empty(); }));

  EXPECT_EQ(Control(SERVICE_CONTROL_STOP),
            (std::vector<Report>{{SERVICE_STOP_PENDING, 0x85, 1, 3000}, {SERVICE_STOP_PENDING, 0x85, 0, 0}}));
  main_.join();
  EXPECT_EQ(platform_.Reports().back(), (Report{SERVICE_STOPPED, 0x85, 0, 0}));
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{ExpectedLaunch()});
}

// LaunchAs=service (the default), LaunchAtLogon off: an arrival while nobody is logged on at the
// console starts nothing (a LocalSystem program would wait on the logon screen) and writes one
// warning for the run; session changes are accepted (0x85, reported at once) only while the launch
// waits, a logon at the console runs the decision once, and the reports go back to 5.
TEST_F(LaunchAtLogonTest, AnArrivalWithNobodyAtTheConsoleWaitsForTheLogon) {
  Scenario(service_test::kOneDisk);
  g_nobodyFor = -1;
  g_tokenQueries = 0;
  sys::ScopedCall<decltype(c_.WTSQueryUserToken)> noUser{c_.WTSQueryUserToken, UserTokenAfterNobody};
  // The start's own event is written after RUNNING is reported: awaited, so that it cannot come
  // between the arrival's events.
  event_test::ScopedEventCapture events;
  StartRunning();
  ASSERT_TRUE(WaitUntil([&] { return !events.Events().empty(); }));
  const auto reportsFrom = [this](size_t from) {
    const std::vector<Report> all = platform_.Reports();
    return std::vector<Report>(all.begin() + static_cast<long>(from), all.end());
  };
  const size_t running = platform_.Reports().size();

  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  // The held launch, then the look for a user once session changes are accepted.
  ASSERT_TRUE(WaitUntil([] { return g_tokenQueries >= 2; }));
  ASSERT_TRUE(WaitUntil([&] { return reportsFrom(running).size() >= 2; }));
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunningWithLogon});
  ASSERT_TRUE(WaitUntil([] { return g_tokenQueries >= 3; }));
  EXPECT_EQ(SessionChange(WTS_SESSION_LOGON, console_ + 1), std::vector<Report>{kRunningWithLogon});
  EXPECT_EQ(reportsFrom(running), (std::vector<Report>{kRunning, kRunningWithLogon, kRunningWithLogon,
                                                       kRunningWithLogon}));
  EXPECT_TRUE(Events().Lines().empty()) << "nothing started while nobody is at the console";
  EXPECT_EQ(events.Events(), (std::vector<std::string>{"info 0x40000064: 0 | 0 | service",
                                                        "warning 0x800000CC: " + std::to_string(console_)}));

  g_nobodyFor = 0;  // the user who logs on
  const size_t logon = platform_.Reports().size();
  EXPECT_EQ(SessionChange(WTS_SESSION_LOGON, console_), std::vector<Report>{kRunningWithLogon});
  ASSERT_TRUE(WaitUntil([&] { return reportsFrom(logon).size() >= 2; }));
  EXPECT_EQ(reportsFrom(logon), (std::vector<Report>{kRunningWithLogon, kRunning}));
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{ExpectedLaunch()});
  // With nothing waiting for a logon, a logon is not even accepted.
  EXPECT_EQ(Control(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON), std::vector<Report>{kRunning});
  StopAndJoin();
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{ExpectedLaunch()});
}

// A user who logs on between the held launch and the change of the accepted controls is told of by
// no control: found at the console then, that user gets the decision at once.
TEST_F(LaunchAtLogonTest, ALogonBeforeSessionChangesWereAcceptedIsNotMissed) {
  Scenario(service_test::kOneDisk);
  g_nobodyFor = 1;
  g_tokenQueries = 0;
  sys::ScopedCall<decltype(c_.WTSQueryUserToken)> noUser{c_.WTSQueryUserToken, UserTokenAfterNobody};
  StartRunning();
  const size_t running = platform_.Reports().size();
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  ASSERT_TRUE(WaitUntil([&] { return platform_.Reports().size() >= running + 3; }));
  const std::vector<Report> all = platform_.Reports();
  EXPECT_EQ(std::vector<Report>(all.begin() + static_cast<long>(running), all.end()),
            (std::vector<Report>{kRunning, kRunningWithLogon, kRunning}));
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{ExpectedLaunch()});
  StopAndJoin();
}

// A user already logged on at the console when the service starts gets the decision at once.
TEST_F(LaunchAtLogonTest, AUserAlreadyAtTheConsoleGetsTheDecisionAtStart) {
  SetModeFile("[Fields]\r\nLaunchAtLogon=1\r\n");
  Scenario(service_test::kOneDisk);
  StartService();
  ASSERT_TRUE(WaitUntil([] { return !Events().Lines().empty(); }));
  Control(SERVICE_CONTROL_STOP);
  main_.join();
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{ExpectedLaunch()});
}

// Without the key (or with 0) the accepted controls stay stop and shutdown, and a logon that still
// reaches the handler does nothing: the arrival after it is the only launch.
TEST_F(LaunchAtLogonTest, OffByDefault) {
  for (const char* file : {static_cast<const char*>(nullptr), "[Fields]\r\nLaunchAtLogon=0\r\n"}) {
    SCOPED_TRACE(file ? file : "no file");
    SetModeFile(file);
    Scenario(service_test::kOneDisk);
    Events().Clear();
    platform_.reports.clear();
    ::ResetEvent(platform_.running);
    StartRunning();
    EXPECT_EQ(SessionChange(WTS_SESSION_LOGON, console_), std::vector<Report>{kRunning});
    EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
    ASSERT_TRUE(WaitUntil([] { return !Events().Lines().empty(); }));
    StopAndJoin();
    EXPECT_EQ(Events().Lines(), std::vector<std::string>{ExpectedLaunch()});
  }
}

}  // namespace

namespace {

// Each code 1 to 10 has a text of its own; a number outside the table says so.
TEST(ServiceErrors, EveryCodeHasItsOwnText) {
  std::set<std::string> texts;
  for (DWORD code = 1; code <= 10; ++code) {
    const std::string text = ServiceErrorText(static_cast<ServiceError>(code));
    EXPECT_NE(text, "Unknown error.") << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), 10u);
  EXPECT_STREQ(ServiceErrorText(static_cast<ServiceError>(11)), "Unknown error.");
  EXPECT_EQ(StepFailed(ServiceError::kStopEvent, ERROR_ACCESS_DENIED).win32, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(StepFailed(ServiceError::kStopEvent, ERROR_ACCESS_DENIED).specific, 0u);
}

}  // namespace
