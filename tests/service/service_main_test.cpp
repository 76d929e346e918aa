// ServiceMain and the control handler through the platform-call table: every status report, the
// device registration, stop, arrivals and each start-up failure. The worker thread, the launch code
// and the simulator are real; pauses and the launch itself are logged instead of taken.
#include "service/service_main.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <initguid.h>
#include <usbiodef.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/service_host.h"
#include "tests/service/service_test_support.h"

namespace {

using service_test::Events;
using service_test::ExpectedLaunch;
using service_test::WaitUntil;

const SERVICE_STATUS_HANDLE kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);

struct Report {
  DWORD state, accepted, checkPoint, waitHint, exitCode = 0;
  bool operator==(const Report& o) const {
    return state == o.state && accepted == o.accepted && checkPoint == o.checkPoint && waitHint == o.waitHint &&
           exitCode == o.exitCode;
  }
};
void PrintTo(const Report& r, std::ostream* os) {
  *os << "{state " << r.state << ", accepted " << r.accepted << ", cp " << r.checkPoint << ", hint " << r.waitHint
      << ", exit " << r.exitCode << "}";
}

const Report kStart1{SERVICE_START_PENDING, 0, 1, 3000};
const Report kStart2{SERVICE_START_PENDING, 0, 2, 1000};
const Report kRunning{SERVICE_RUNNING, 5, 0, 0};
const Report kStopPending1{SERVICE_STOP_PENDING, 5, 1, 3000};
const Report kStopPending0{SERVICE_STOP_PENDING, 5, 0, 0};
const Report kStopped{SERVICE_STOPPED, 5, 0, 0};
Report StoppedWith(DWORD code) { return {SERVICE_STOPPED, 5, 0, 0, code}; }

// The scripted service control manager and kernel: what fails, and what was seen.
struct Platform {
  std::mutex mutex;
  std::vector<Report> reports;
  bool reportsWellFormed = true;
  int refuseReportFrom = 0;  // 1-based index of the first refused report; 0: none refused
  bool failHandlerRegistration = false;
  DWORD failDeviceRegistration = 0, failEvent = 0, failThread = 0;  // error codes; 0: succeeds
  bool arrivalDuringRegistration = false;
  bool registrationRight = false;
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  HANDLE stopEvent = nullptr, worker = nullptr;
  std::set<HANDLE> closed;
  HANDLE running = nullptr;  // signalled when RUNNING is reported

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
  SetLastError(platform->failDeviceRegistration);
  return nullptr;
}

BOOL WINAPI FakeSetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS s) {
  // The handler's closing report of a stop is slow to arrive: STOPPED must still come after it.
  if (s->dwCurrentState == SERVICE_STOP_PENDING && s->dwCheckPoint == 0) ::Sleep(50);
  std::lock_guard<std::mutex> lock(platform->mutex);
  platform->reports.push_back({s->dwCurrentState, s->dwControlsAccepted, s->dwCheckPoint, s->dwWaitHint,
                               s->dwWin32ExitCode});
  if (handle != kStatusHandle || s->dwServiceType != SERVICE_WIN32_OWN_PROCESS || s->dwServiceSpecificExitCode != 0) {
    platform->reportsWellFormed = false;
  }
  const int index = static_cast<int>(platform->reports.size());
  if (platform->refuseReportFrom != 0 && index >= platform->refuseReportFrom) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (s->dwCurrentState == SERVICE_RUNNING) ::SetEvent(platform->running);
  return TRUE;
}

HANDLE WINAPI FakeCreateEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (platform->failEvent != 0) {
    SetLastError(platform->failEvent);
    return nullptr;
  }
  EXPECT_TRUE(security == nullptr && manualReset && !initialState && name == nullptr);
  // The stop event is the first one made; the second tells ServiceMain that the worker is ready.
  const HANDLE event = sys::realCalls().CreateEventA(security, manualReset, initialState, name);
  if (platform->stopEvent == nullptr) platform->stopEvent = event;
  return event;
}

HANDLE WINAPI FakeCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE routine,
                               LPVOID parameter, DWORD flags, LPDWORD id) {
  if (platform->failThread != 0) {
    SetLastError(platform->failThread);
    return nullptr;
  }
  return platform->worker = sys::realCalls().CreateThread(security, stack, routine, parameter, flags, id);
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
    host_.serviceName = kServiceName;
    host_.displayName = kServiceName;
    g_serviceHost = &host_;
  }
  void TearDown() override {
    if (main_.joinable()) {
      ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
      main_.join();
    }
    ::CloseHandle(platform_.running);
    g_serviceHost = nullptr;
    platform = nullptr;
    LaunchFixture::TearDown();
  }

  void StartService() { main_ = std::thread([] { ServiceMain(0, nullptr); }); }
  void StartRunning() {
    StartService();
    ASSERT_EQ(::WaitForSingleObject(platform_.running, 5000), WAIT_OBJECT_0);
    ASSERT_EQ(platform_.Reports(), (std::vector<Report>{kStart1, kStart2, kRunning}));
  }
  // The reports a control yields, with the handler's result checked.
  std::vector<Report> Control(DWORD control, DWORD eventType = 0) {
    const size_t before = platform_.Reports().size();
    EXPECT_EQ(ServiceControlHandler(control, eventType, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
    const std::vector<Report> all = platform_.Reports();
    return std::vector<Report>(all.begin() + static_cast<long>(before), all.end());
  }
  void StopAndJoin() {
    EXPECT_EQ(Control(SERVICE_CONTROL_STOP), (std::vector<Report>{kStopPending1, kStopPending0}));
    main_.join();
  }

  Platform platform_;
  ServiceHost host_{};
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
};

// Start, then a stop or a shutdown: the handler records and reports STOP_PENDING twice, ServiceMain
// ends the worker, releases both handles and reports STOPPED.
TEST_F(ServiceMainTest, StartThenStopOrShutdown) {
  for (DWORD control : {static_cast<DWORD>(SERVICE_CONTROL_STOP), static_cast<DWORD>(SERVICE_CONTROL_SHUTDOWN)}) {
    SCOPED_TRACE(control);
    platform_.reports.clear();
    ::ResetEvent(platform_.running);
    StartRunning();
    EXPECT_TRUE(platform_.registrationRight);
    EXPECT_EQ(host_.statusHandle, kStatusHandle);
    EXPECT_EQ(host_.currentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_NE(host_.workerThreadId, 0u);

    const auto stopped = std::chrono::steady_clock::now();
    EXPECT_EQ(Control(control), (std::vector<Report>{kStopPending1, kStopPending0}));
    main_.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
    EXPECT_EQ(platform_.Reports(),
              (std::vector<Report>{kStart1, kStart2, kRunning, kStopPending1, kStopPending0, kStopped}));
    EXPECT_EQ(host_.currentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
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
  const std::string log = service_test::OwnDirectory() + "Marrowbank-starts.log";
  ::DeleteFileA(log.c_str());
  sys::ScopedCall<decltype(c_.CreateProcessAsUserA)> realLaunch{c_.CreateProcessAsUserA,
                                                                sys::realCalls().CreateProcessAsUserA};
  Scenario(service_test::kOneDisk);
  StartRunning();
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  std::string started;
  ASSERT_TRUE(WaitUntil([&] { return !(started = service_test::ReadText(log)).empty(); }));
  StopAndJoin();
  service_test::EndStartedStandIns(started);

  unsigned long pid = 0;
  ASSERT_EQ(std::sscanf(started.c_str(), "pid=%lu", &pid), 1) << started;
  EXPECT_NE(started.find("cmdline=\"" + service_test::OwnDirectory() + "Marrowbank.exe\""), std::string::npos)
      << started;
}

// With nothing listed the response pauses for real; the handler still returns at once, and a stop
// during the pauses completes within a second.
TEST_F(ServiceMainTest, ArrivalPausesHoldUpNeitherTheHandlerNorTheStop) {
  service_test::g_realPauseFrom = 1;
  StartRunning();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL), std::vector<Report>{kRunning});
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
  ASSERT_TRUE(WaitUntil([] { return Events().Count("pause") >= 1; }));

  const auto stopped = std::chrono::steady_clock::now();
  StopAndJoin();
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
  EXPECT_EQ(Events().Lines(), std::vector<std::string>{"pause"});
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
      {"running report", [](Platform& p) { p.refuseReportFrom = 3; },
       {kStart1, kStart2, kRunning, StoppedWith(ERROR_INVALID_DATA)}, true, true},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.reports.clear();
    platform_.refuseReportFrom = 0;
    platform_.failHandlerRegistration = false;
    platform_.failDeviceRegistration = platform_.failEvent = platform_.failThread = 0;
    platform_.stopEvent = platform_.worker = nullptr;
    platform_.closed.clear();
    host_.currentState = 0;
    c.arrange(platform_);

    ServiceMain(0, nullptr);  // returns: nothing is left waiting
    EXPECT_EQ(platform_.Reports(), c.reports);
    EXPECT_EQ(platform_.stopEvent != nullptr, c.eventMade);
    EXPECT_EQ(platform_.worker != nullptr, c.workerMade);
    if (c.eventMade) {
      EXPECT_TRUE(platform_.closed.count(platform_.stopEvent));
    }
    if (c.workerMade) {
      EXPECT_TRUE(platform_.closed.count(platform_.worker));
    }
    EXPECT_EQ(host_.stopEvent, nullptr);
    EXPECT_EQ(host_.workerThread, nullptr);
    EXPECT_EQ(host_.workerThreadId, 0u);
    if (!c.workerMade) {
      EXPECT_EQ(host_.currentState, 0u);  // RUNNING neither recorded nor reported
    }
  }
}

// "PollSeconds" is read when the service starts and becomes the worker's timer period.
TEST_F(ServiceMainTest, PollSecondsArmsTheWorkersTimer) {
  const std::string directory = service_test::OwnDirectory() + "language";
  const std::string file = directory + "\\ModeConfig.ini";
  ::CreateDirectoryA(directory.c_str(), nullptr);
  ASSERT_TRUE(::WritePrivateProfileStringA("Fields", "PollSeconds", "7", file.c_str()));
  StartRunning();
  ::DeleteFileA(file.c_str());
  StopAndJoin();
  EXPECT_EQ(Events().Count("set timer 7000"), 1u);
}

}  // namespace
