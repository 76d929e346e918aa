// Every platform call fails at every call site, across whole scenarios, and the service still ends
// well.
//
// Each scenario runs once to count the calls it makes through the platform-call table, then once per
// call site and error with that one call failing. After every run: the service ended RUNNING, or
// STOPPED with the failing call's error or a code of the service's table (0 only for a stop asked
// for), or its process ended where the service control manager could not be told; never
// START_PENDING or STOP_PENDING; everything obtained through the table was released, nothing twice;
// the program was started at most once; no message box but the by-hand branch's own, with their exact
// texts; no crash.
//
// Underneath the countdown sit the real Win32 calls, the SDK simulator and the stand-in desktop
// program, except for what a test process cannot do for real: the service control manager (a
// scripted one), thread timers (fired by posting WM_TIMER), the arrival response's pauses (counted,
// not waited out) and the process's end (recorded, not done).
//
// A run that breaks an invariant is named "scenario:Row#n:error" (the nth call of that table row
// fails with that error); FAULT_RUN=<that name> replays it alone, after the counting run.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_manager.h"
#include "launch/console_launcher.h"
#include "launch/launch_decisions.h"
#include "launch/settings_table.h"
#include "platform/event_log.h"
#include "platform/syscalls.h"
#include "selftest/self_test.h"
#include "service/command_switches.h"
#include "service/controller.h"
#include "service/installer_texts.h"
#include "service/service_setup.h"
#include "service/service_errors.h"
#include "service/service_host.h"
#include "service/service_main.h"
#include "service/worker.h"
#include "standins/t3fp_sim/t3fp_sim_control.h"
#include "tests/faults/countdown.h"
#include "tests/faults/ledger.h"
#include "tests/service/service_test_support.h"
#include "tests/support/test_support.h"

namespace {

using fault::Countdown;

// ---- The machine underneath the countdown ------------------------------------------------------

const SERVICE_STATUS_HANDLE kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);
constexpr UINT_PTR kPollTimer = 0x7A1;  // what the scripted SetTimer hands out

// Waits have no bound: a run that never settles is stuck, and CTest's time-out ends the test. So that
// the output names that run, a wait still going after this long says so once.
constexpr auto kStuckNotice = std::chrono::seconds(15);
std::string g_currentRun;  // named by that notice and by the crash handler

void NoticeStuck(const char* waitingFor) {
  std::fprintf(stderr, "\nStill waiting for %s after 15 s in run FAULT_RUN=%s: stuck?\n", waitingFor,
               g_currentRun.c_str());
  std::fflush(stderr);
}

struct Machine {
  std::mutex mutex;
  std::condition_variable changed;

  // The service control manager, as the controller sees it.
  bool exists = true;
  DWORD state = SERVICE_RUNNING;
  uintptr_t nextServiceHandle = 0x1000;

  // What the service reported, and whether its main routine has returned.
  std::vector<SERVICE_STATUS> reports;
  bool mainWaiting = false;  // in its wait for the stop
  bool mainEnded = false;

  // The worker's queue: messages posted to it and fetched by it, and whether it waits for the next.
  int posted = 0;
  int fetched = 0;
  bool waitingForMessage = false;
  DWORD workerId = 0;

  // The process's end, which a forced stop asks for: recorded, not done.
  bool terminated = false;
  UINT exitCode = 0;

  std::vector<std::string> boxes;  // "<style>:<text>"
  int pauses = 0;

  // The switches' standard output: a pipe, read after the run.
  HANDLE output = nullptr;

  // Nobody is logged on at the console: the console user's token is not there.
  bool nobodyAtConsole = false;

  // The settings watch, as the policy scenario sees it: the post of the re-read (1 made, -1 refused),
  // the re-read taken by the worker, the key's watch refused at start, and the warning that nothing
  // is watched written.
  int settingsPost = 0;
  bool settingsTaken = false;
  bool keyWatchRefused = false;
  bool notWatchedWritten = false;

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    exists = true;
    state = SERVICE_RUNNING;
    reports.clear();
    mainWaiting = mainEnded = false;
    posted = fetched = 0;
    waitingForMessage = false;
    workerId = 0;
    terminated = false;
    exitCode = 0;
    boxes.clear();
    pauses = 0;
    nobodyAtConsole = false;
    settingsPost = 0;
    settingsTaken = keyWatchRefused = notWatchedWritten = false;
  }
  template <typename Change>
  void Update(Change change) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      change();
    }
    changed.notify_all();
  }
  void WaitFor(const char* what, const std::function<bool()>& done) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, kStuckNotice, done)) {
      NoticeStuck(what);
      changed.wait(lock, done);
    }
  }
  bool WorkerIdle() const { return waitingForMessage && fetched == posted; }
  DWORD LastState() const { return reports.empty() ? 0 : reports.back().dwCurrentState; }
};
Machine machine;

SC_HANDLE NewServiceHandle() {
  std::lock_guard<std::mutex> lock(machine.mutex);
  return reinterpret_cast<SC_HANDLE>(machine.nextServiceHandle++);
}

SC_HANDLE WINAPI ScmOpenManager(LPCSTR, LPCSTR, DWORD) { return NewServiceHandle(); }
SC_HANDLE WINAPI ScmOpenService(SC_HANDLE, LPCSTR, DWORD) {
  if (machine.exists) return NewServiceHandle();
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  return nullptr;
}
BOOL WINAPI ScmQuery(SC_HANDLE, LPSERVICE_STATUS status) {
  *status = SERVICE_STATUS{};
  status->dwCurrentState = machine.state;
  return TRUE;
}
BOOL WINAPI ScmClose(SC_HANDLE) { return TRUE; }
BOOL WINAPI ScmDispatcher(const SERVICE_TABLE_ENTRYA*) { return TRUE; }
SC_HANDLE WINAPI ScmCreate(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD, LPCSTR,
                           LPCSTR, LPCSTR) {
  if (machine.exists) {
    SetLastError(ERROR_SERVICE_EXISTS);
    return nullptr;
  }
  machine.exists = true;
  machine.state = SERVICE_STOPPED;
  return NewServiceHandle();
}
// The switches' view: a process id while the service is not STOPPED (its process, once opened, has
// ended already), the image path this executable registers (so /install finds nothing moved), and
// starts, stops and deletes that take effect at once.
constexpr DWORD kServiceProcessId = 0x4D42;
BOOL WINAPI ScmQueryEx(SC_HANDLE, SC_STATUS_TYPE, LPBYTE buffer, DWORD, LPDWORD) {
  auto* status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
  *status = SERVICE_STATUS_PROCESS{};
  status->dwCurrentState = machine.state;
  status->dwProcessId = machine.state == SERVICE_STOPPED ? 0 : kServiceProcessId;
  return TRUE;
}
HANDLE WINAPI EndedServiceProcess(DWORD, BOOL, DWORD id) {
  if (id != kServiceProcessId) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return sys::realCalls().CreateEventA(nullptr, TRUE, TRUE, nullptr);
}
BOOL WINAPI ScmQueryConfig(SC_HANDLE, LPQUERY_SERVICE_CONFIGA config, DWORD, LPDWORD) {
  // Read past the countdown: the scripted manager's own calls are not the product's.
  static char command[MAX_PATH + 2];
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::snprintf(command, sizeof command, "\"%s\"", path);
  *config = QUERY_SERVICE_CONFIGA{};
  config->lpBinaryPathName = command;
  // As /install registers it, so that the self-test's clean run passes its registration check.
  static char account[] = "LocalSystem";
  config->dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
  config->dwStartType = SERVICE_AUTO_START;
  config->dwErrorControl = SERVICE_ERROR_NORMAL;
  config->lpServiceStartName = account;
  return TRUE;
}
// The failure actions and their flag as the installation sets them (Wine cannot read them back).
BOOL WINAPI ScmQueryConfig2(SC_HANDLE, DWORD level, LPBYTE buffer, DWORD, LPDWORD) {
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
    reinterpret_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(buffer)->fFailureActionsOnNonCrashFailures = TRUE;
    return TRUE;
  }
  auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSA*>(buffer);
  auto* array = reinterpret_cast<SC_ACTION*>(actions + 1);
  for (int i = 0; i < 3; ++i) array[i] = kFailureActions[i];
  *actions = SERVICE_FAILURE_ACTIONSA{kFailureResetSeconds, nullptr, nullptr, 3, array};
  return TRUE;
}
BOOL WINAPI ScmChangeConfig(SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD, LPCSTR, LPCSTR, LPCSTR,
                            LPCSTR) {
  return TRUE;
}
BOOL WINAPI ScmDelete(SC_HANDLE) {
  machine.exists = false;
  return TRUE;
}
HANDLE WINAPI ScriptedStdHandle(DWORD) { return machine.output; }
// No console to attach to: a GUI-subsystem program started from a shortcut.
BOOL WINAPI NoConsole(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
BOOL WINAPI ScmDescribe(SC_HANDLE, DWORD, LPVOID) { return TRUE; }
BOOL WINAPI ScmStart(SC_HANDLE, DWORD, LPCSTR*) {
  if (machine.state != SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
  }
  machine.state = SERVICE_RUNNING;
  return TRUE;
}
BOOL WINAPI ScmControl(SC_HANDLE, DWORD, LPSERVICE_STATUS status) {
  *status = SERVICE_STATUS{};
  status->dwCurrentState = SERVICE_STOP_PENDING;
  machine.state = SERVICE_STOPPED;
  return TRUE;
}
SERVICE_STATUS_HANDLE WINAPI ScmRegisterHandler(LPCSTR, LPHANDLER_FUNCTION_EX, LPVOID) { return kStatusHandle; }
HDEVNOTIFY WINAPI ScmRegisterDevices(HANDLE, LPVOID, DWORD) { return reinterpret_cast<HDEVNOTIFY>(0x77); }
BOOL WINAPI ScmReport(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
  machine.Update([&] { machine.reports.push_back(*status); });
  return TRUE;
}

int WINAPI Box(HWND, LPCSTR text, LPCSTR, UINT style) {
  machine.Update([&] { machine.boxes.push_back(std::to_string(style) + ":" + text); });
  return IDYES;
}
// The installer's boxes come as UTF-16; recorded in code page 936, as the executable holds them.
int WINAPI WideBox(HWND window, LPCWSTR text, LPCWSTR, UINT style) {
  char bytes[1000] = {};
  ::WideCharToMultiByte(936, 0, text, -1, bytes, sizeof bytes - 1, nullptr, nullptr);
  return Box(window, bytes, nullptr, style);
}
BOOL WINAPI ScmDescribeWide(SC_HANDLE, DWORD, LPVOID) { return TRUE; }

UINT_PTR WINAPI ScriptedSetTimer(HWND, UINT_PTR, UINT, TIMERPROC) { return kPollTimer; }
BOOL WINAPI ScriptedKillTimer(HWND, UINT_PTR id) { return id == kPollTimer; }

// A finite wait on the stop event is a pause between listing attempts: counted, and not waited out.
// Others (the stop's wait for the worker, a look at the stop event) end when their object does, as
// promptly as on a real machine.
DWORD WINAPI CountedWait(HANDLE handle, DWORD timeout) {
  if (timeout == INFINITE || timeout == 0 || g_serviceHost == nullptr || handle != ServiceStopEvent()) {
    return sys::realCalls().WaitForSingleObject(handle, timeout);
  }
  machine.Update([] { ++machine.pauses; });
  return sys::realCalls().WaitForSingleObject(handle, 0);
}
// The main routine's wait for the stop is watched: once it waits there, it makes no more calls.
DWORD WINAPI WatchedWaitForEither(DWORD count, const HANDLE* handles, BOOL all, DWORD timeout) {
  const bool forStop = g_serviceHost != nullptr && count > 0 && handles[0] == ServiceStopEvent();
  if (forStop) machine.Update([] { machine.mainWaiting = true; });
  const DWORD result = sys::realCalls().WaitForMultipleObjects(count, handles, all, timeout);
  if (forStop) machine.Update([] { machine.mainWaiting = false; });
  return result;
}
VOID WINAPI CountedSleep(DWORD) {
  machine.Update([] { ++machine.pauses; });
}

BOOL WINAPI WatchedPost(DWORD thread, UINT message, WPARAM wParam, LPARAM lParam) {
  const BOOL posted = sys::realCalls().PostThreadMessageA(thread, message, wParam, lParam);
  if (posted) machine.Update([] { ++machine.posted; });
  return posted;
}
BOOL WINAPI WatchedGetMessage(LPMSG msg, HWND window, UINT low, UINT high) {
  machine.Update([] {
    machine.waitingForMessage = true;
    machine.workerId = ::GetCurrentThreadId();
  });
  const BOOL fetched = sys::realCalls().GetMessageA(msg, window, low, high);
  machine.Update([&] {
    machine.waitingForMessage = false;
    if (fetched != 0 && fetched != -1) ++machine.fetched;
    if (fetched != 0 && fetched != -1 && msg->message == kSettingsMessage) machine.settingsTaken = true;
  });
  return fetched;
}

// The stand-in program is created for real, and suspended: it exists (the running check sees it)
// without the cost of its start-up, and it is ended after the run.
BOOL WINAPI SuspendedStart(HANDLE token, LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                           LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                           LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information) {
  return sys::realCalls().CreateProcessAsUserA(token, application, commandLine, process, thread, inherit,
                                               flags | CREATE_SUSPENDED, environment, directory, startup,
                                               information);
}

BOOL WINAPI ConsoleUserToken(ULONG session, PHANDLE token) {
  bool nobody;
  {
    std::lock_guard<std::mutex> lock(machine.mutex);
    nobody = machine.nobodyAtConsole;
  }
  if (!nobody) return sys::realCalls().WTSQueryUserToken(session, token);
  ::SetLastError(ERROR_NO_TOKEN);
  return FALSE;
}

BOOL WINAPI RecordedTerminate(HANDLE process, UINT code) {
  if (process != ::GetCurrentProcess()) return sys::realCalls().TerminateProcess(process, code);
  machine.Update([code] {
    machine.terminated = true;
    machine.exitCode = code;
  });
  return TRUE;
}

// ---- How each row fails ---------------------------------------------------------------------

// Access denied, not enough memory, invalid handle, and the row's own typical error (the table's list
// of platform calls gives it).
std::vector<DWORD> ErrorsFor(std::size_t row) {
  std::vector<DWORD> errors = {ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_HANDLE};
  const DWORD typical = Countdown::Failure(row).typicalError;
  if (std::find(errors.begin(), errors.end(), typical) == errors.end()) errors.push_back(typical);
  return errors;
}

// ---- One run ----------------------------------------------------------------------------------

struct Run;
using Step = void (*)(Run&);

constexpr char kSelfTestSwitch[] = "/selftest";

struct Scenario {
  const char* name;
  Step prepare;  // not counted: brings the service where the scenario starts
  Step act;      // counted: the calls that fail in turn
  bool byHand;   // not the service: the controller run by hand, or the process's exit
  bool stopAsked;  // the act stops the service: STOPPED with code 0 is then an end like any other
  const char* modeFile;
  const char* switches = nullptr;  // the administrator's switches the act runs
  DWORD switchesCode = 0;          // their exit code when nothing fails
};

struct Run {
  const Scenario& scenario;
  DWORD injected;  // the error the failing call leaves; 0 when nothing fails
  std::vector<std::string> problems;
  ServiceHost host{};
  HANDLE mainThread = nullptr;
  DWORD switchesCode = 0;

  void Problem(const std::string& text) { problems.push_back(text); }

  static DWORD WINAPI Main(LPVOID) {
    ServiceMain(0, nullptr);
    machine.Update([] { machine.mainEnded = true; });
    return 0;
  }
  void StartService() {
    mainThread = ::CreateThread(nullptr, 0, Main, nullptr, 0, nullptr);
    ASSERT_NE(mainThread, nullptr);
  }
  // The service has settled: its main routine has returned, or RUNNING is reported, the main routine
  // waits for the stop and the worker for its next message with nothing queued.
  void Settle() {
    machine.WaitFor("the service to settle", [] {
      return machine.mainEnded ||
             (machine.LastState() == SERVICE_RUNNING && machine.mainWaiting && machine.WorkerIdle());
    });
  }
  void Control(DWORD control, DWORD eventType = 0) {
    if (ServiceControlHandler(control, eventType, nullptr, nullptr) != NO_ERROR) {
      Problem("the control handler returned an error");
    }
  }
  void PostToWorker(UINT message) {
    const DWORD worker = OpenMailboxThread();
    if (worker != 0 && ::PostThreadMessageA(worker, message, kPollTimer, 0)) {
      machine.Update([] { ++machine.posted; });
    }
  }
};

// A STOPPED report's exit code: the failing call's own error, or a code of the service's table; 0 only
// for a stop that was asked for.
std::string ExitCodeProblem(const Run& run, const SERVICE_STATUS& stopped) {
  const DWORD win32 = stopped.dwWin32ExitCode, specific = stopped.dwServiceSpecificExitCode;
  if (win32 == NO_ERROR) {
    return run.scenario.stopAsked && specific == 0 ? "" : "STOPPED with exit code 0 although no stop was asked for";
  }
  if (win32 == ERROR_SERVICE_SPECIFIC_ERROR) {
    const bool known = specific != 0 && std::strcmp(ServiceErrorText(static_cast<ServiceError>(specific)),
                                                    ServiceErrorText(static_cast<ServiceError>(~0u))) != 0;
    return known ? "" : "STOPPED with service-specific code " + std::to_string(specific) + ", which is no code";
  }
  if (win32 != run.injected || specific != 0) {
    return "STOPPED with exit code " + std::to_string(win32) + "/" + std::to_string(specific) +
           ", neither the failing call's error nor a code of the table";
  }
  return "";
}

// Where the act left the service: RUNNING and waiting, or STOPPED (or, with nothing to report with,
// the process ended) and returned.
void CheckServiceEnd(Run& run) {
  std::lock_guard<std::mutex> lock(machine.mutex);
  if (!machine.mainEnded) {
    if (machine.LastState() != SERVICE_RUNNING) run.Problem("left in state " + std::to_string(machine.LastState()));
    return;
  }
  if (machine.reports.empty()) {
    if (!machine.terminated) run.Problem("the main routine returned having reported nothing");
    return;
  }
  const SERVICE_STATUS& last = machine.reports.back();
  if (last.dwCurrentState != SERVICE_STOPPED) {
    // A refused STOPPED report: the process's end is what tells the service control manager.
    if (!machine.terminated) {
      run.Problem("the main routine returned with state " + std::to_string(last.dwCurrentState) + " reported last");
    }
    return;
  }
  const std::string exit = ExitCodeProblem(run, last);
  if (!exit.empty()) run.Problem(exit);
  // A forced stop reports STOPPED, then ends the process: with the forced-stop code after a stop that
  // was asked for (which reports 0), else with the code the report carried. The forced-stop code is
  // never a STOPPED code: recovery would restart a service an administrator stopped.
  if (last.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR &&
      last.dwServiceSpecificExitCode == static_cast<DWORD>(ServiceError::kForcedStop)) {
    run.Problem("STOPPED with the forced-stop code");
  }
  const DWORD endCode = last.dwWin32ExitCode == NO_ERROR ? static_cast<DWORD>(ServiceError::kForcedStop)
                        : last.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? last.dwServiceSpecificExitCode
                                                                               : last.dwWin32ExitCode;
  if (machine.terminated && machine.exitCode != endCode) {
    run.Problem("the process end does not match the STOPPED report");
  }
}

// Ends the service if it still runs; afterwards nothing of it is left.
void StopService(Run& run) {
  if (run.mainThread == nullptr) return;
  bool ended;
  {
    std::lock_guard<std::mutex> lock(machine.mutex);
    ended = machine.mainEnded;
  }
  if (!ended) {
    run.Control(SERVICE_CONTROL_STOP);
    machine.WaitFor("the stop", [] { return machine.mainEnded; });
  }
  ::WaitForSingleObject(run.mainThread, INFINITE);
  ::CloseHandle(run.mainThread);
  run.mainThread = nullptr;
  std::lock_guard<std::mutex> lock(machine.mutex);
  if (machine.LastState() != SERVICE_STOPPED && !machine.reports.empty() && !machine.terminated) {
    run.Problem("the stop ended with state " + std::to_string(machine.LastState()) + " reported last");
  }
}

// What the process's end would have done after a forced stop: the worker, left running, is ended,
// and what was still held is released.
void EndWhatTheProcessEndWouldHave() {
  DWORD worker;
  {
    std::lock_guard<std::mutex> lock(machine.mutex);
    if (!machine.terminated) return;
    worker = machine.workerId;
  }
  if (HANDLE thread = worker != 0 ? ::OpenThread(SYNCHRONIZE, FALSE, worker) : nullptr) {
    ::PostThreadMessageA(worker, WM_QUIT, 0, 0);
    if (::WaitForSingleObject(thread, 15000) != WAIT_OBJECT_0) {
      NoticeStuck("the worker's end after the process's end");
      ::WaitForSingleObject(thread, INFINITE);
    }
    ::CloseHandle(thread);
  }
  fault::ReleaseHeld();
}

void EndStartedPrograms() {
  for (DWORD pid : fault::ProgramsStarted()) {
    if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
      ::TerminateProcess(process, 0);
      ::WaitForSingleObject(process, INFINITE);
      ::CloseHandle(process);
    }
  }
}

// The installer's boxes, with their styles; the dispatcher's box carries an error code.
bool ByHandBranchBox(const std::string& box) {
  const std::string stop = std::to_string(MB_YESNO | MB_ICONQUESTION) + ":" + kStopQuestion;
  const std::string startFailed = std::to_string(MB_OK) + ":" + kStartFailedMessage;
  const std::string noPath = std::to_string(MB_ICONERROR) + ":" + kNoPathMessage;
  if (box == stop || box == startFailed || box == noPath) return true;
  char dispatch[1000];
  std::snprintf(dispatch, sizeof dispatch, kDispatchErrorFormat, 0);
  const std::string prefix = std::to_string(MB_OK) + ":" + std::string(dispatch, std::strlen(dispatch) - 1);
  return box.compare(0, prefix.size(), prefix) == 0 && box.size() > prefix.size() &&
         box.find_first_not_of("-0123456789", prefix.size()) == std::string::npos;
}

void SetModeFile(const char* text) {
  const std::string directory = test_support::OwnDirectory() + "language";
  const std::string file = directory + "\\ModeConfig.ini";
  ::DeleteFileA(file.c_str());
  if (text == nullptr) return;
  ::CreateDirectoryA(directory.c_str(), nullptr);
  if (FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fputs(text, f);
    std::fclose(f);
  }
}

LONG WINAPI NameTheCrashedRun(EXCEPTION_POINTERS* exception) {
  std::fprintf(stderr, "\nCRASH (exception 0x%08lX) in run FAULT_RUN=%s\n",
               static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode), g_currentRun.c_str());
  std::fflush(stderr);
  return EXCEPTION_CONTINUE_SEARCH;
}

// A call site that is made to fail: the `occurrence`-th call of `row`; occurrence 0 fails nothing.
struct Target {
  std::size_t row = 0;
  unsigned occurrence = 0;
  DWORD error = 0;
};

// The switches' exit code when `target` fails: the failing call's error where the switch stops at it,
// and what it answers without a fault where the call only tells, configures or tidies up.
DWORD ExpectedSwitchesCode(const Scenario& scenario, const Target& target) {
  if (target.occurrence == 0) return scenario.switchesCode;
  const std::string row = Countdown::RowName(target.row);
  static const char* const kNotAnswered[] = {
      "CloseServiceHandle", "ChangeServiceConfig2A", "ChangeServiceConfig2W", "GetStdHandle", "AttachConsole",
      "MessageBoxA", "MessageBoxW", "RegisterEventSourceA", "ReportEventA", "DeregisterEventSource",
      "RegCreateKeyExA", "RegSetValueExA", "RegCloseKey", "RegDeleteKeyA", "CloseHandle", "OutputDebugStringA",
      // The event source's previous registration, kept only to put it back should the start fail.
      "RegGetValueA",
      // The output's own calls, should they go through the table: a text not written is shown another way.
      "WriteFile", "CreateFileA",
      // The service's process not opened: the stop waits for STOPPED alone, which it gets.
      "OpenProcess"};
  for (const char* name : kNotAnswered) {
    if (row == name) return scenario.switchesCode;
  }
  const std::string arguments = scenario.switches;
  // /status shows "?" for an image path it cannot read.
  if (row == "QueryServiceConfigA" && arguments == "/status") return scenario.switchesCode;
  // /status shows the settings it reads; a read that fails is a line of its text, not its answer.
  static const char* const kSettingsReads[] = {"RegOpenKeyExA", "RegQueryValueExA", "GetModuleFileNameW", "ReadFile",
                                               "GetPrivateProfileStringA", "GetFileAttributesA"};
  for (const char* name : kSettingsReads) {
    if (row == name && arguments == "/status") return scenario.switchesCode;
  }
  if (row == "GetModuleFileNameW") return kPathUnreadable;
  // A service marked for deletion is as good as deleted; one that is gone needs no uninstalling.
  if (row == "DeleteService" && target.error == ERROR_SERVICE_MARKED_FOR_DELETE) return scenario.switchesCode;
  const bool present = std::strcmp(scenario.name, "switch_reinstall") == 0;
  if (row == "OpenServiceA" && target.error == ERROR_SERVICE_DOES_NOT_EXIST && target.occurrence == 1) {
    if (arguments == "/uninstall") return scenario.switchesCode;
    // Taken for absent, the service is created: a service that is there the manager refuses to create.
    if (arguments.rfind("/install", 0) == 0) return present ? ERROR_SERVICE_EXISTS : scenario.switchesCode;
  }
  // A service that already runs is where /install brings it.
  if (row == "StartServiceA" && target.error == ERROR_SERVICE_ALREADY_RUNNING && present) {
    return scenario.switchesCode;
  }
  return target.error;
}

// The administrator is told once: on the standard output, or (with no output to write to) in one
// box of the same text, unless /quiet; the text names the code.
void CheckSwitchesTold(Run& run, const std::string& written, DWORD expected) {
  if (run.switchesCode != expected) {
    run.Problem("the switches exited with " + std::to_string(run.switchesCode) + ", not " + std::to_string(expected));
  }
  const std::string prefix = std::string(kServiceName) + " ";
  std::vector<std::string> told;
  if (!written.empty()) told.push_back(written);
  for (const std::string& box : machine.boxes) {
    const size_t colon = box.find(':');
    const UINT style = static_cast<UINT>(std::strtoul(box.c_str(), nullptr, 10));
    const UINT wanted = MB_OK | (run.switchesCode != 0 && run.switchesCode != ERROR_SERVICE_DOES_NOT_EXIST &&
                                         std::string(run.scenario.switches) != "/status"
                                     ? MB_ICONERROR
                                     : MB_ICONINFORMATION);
    if (style != wanted && std::string(run.scenario.switches) != "/status") {
      run.Problem("a box of style " + std::to_string(style) + ", not " + std::to_string(wanted));
    }
    told.push_back(box.substr(colon + 1));
  }
  const bool quiet = std::strstr(run.scenario.switches, "/quiet") != nullptr;
  if (told.size() != (quiet && written.empty() ? 0u : 1u)) {
    run.Problem("told " + std::to_string(told.size()) + " times: " + ::testing::PrintToString(told));
    return;
  }
  if (told.empty()) return;
  const std::string& text = told.front();
  if (text.compare(0, prefix.size(), prefix) != 0 || text.size() < 2 || text.substr(text.size() - 2) != "\r\n") {
    run.Problem("told " + ::testing::PrintToString(text));
  }
  if (expected != 0 && (std::string(run.scenario.switches) != "/status" || expected > SERVICE_PAUSED) &&
      text.find(std::to_string(expected)) == std::string::npos) {
    run.Problem("the text " + ::testing::PrintToString(text) + " does not name " + std::to_string(expected));
  }
}

// The self-test's lines, keyed by check and subject ("permissions C:\\x"), with their level; the
// summary line last, under the key "".
struct SelfTestLine {
  std::string level, key, text;
};
std::vector<SelfTestLine> SelfTestLines(const std::string& told) {
  std::vector<SelfTestLine> lines;
  for (size_t at = 0, end; (end = told.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string line = told.substr(at, end - at);
    const size_t space = line.find(' '), colon = line.find(": ");
    if (line.rfind(std::string(kServiceName) + " self-test: ", 0) == 0) {
      lines.push_back({"", "", line});
    } else if (space != std::string::npos && colon != std::string::npos) {
      const size_t key = line.find_first_not_of(' ', space);
      lines.push_back({line.substr(0, space), line.substr(key, colon - key), line});
    } else {
      lines.push_back({"?", "?", line});
    }
  }
  return lines;
}

std::string g_cleanSelfTest;  // what the run without faults told

// The rows whose failure the self-test must show: a line differs from the run without faults. Not the
// lookup that picks the bridge's load flags (its failure picks the older flags, and the load works)
// nor the program's manifest read (it reads as no manifest, as the service reads it).
bool SelfTestMustShow(const std::string& row, unsigned occurrence) {
  if ((row == "GetProcAddress" && occurrence == 8) || (row == "LoadLibraryExA" && occurrence == 2)) return false;
  static const char* const kRows[] = {"OpenSCManagerA", "OpenServiceA", "QueryServiceConfigA", "QueryServiceConfig2A",
                                      "RegGetValueA", "GetNamedSecurityInfoA", "LookupAccountSidA", "GetProcAddress",
                                      "LoadLibraryExA", "WTSGetActiveConsoleSessionId", "WTSQuerySessionInformationA"};
  for (const char* name : kRows) {
    if (row == name) return true;
  }
  return false;
}

// Told once (standard output, else one box); one line per check and a summary whose exit code is the
// worst line's and the one answered; every check of the run without faults still there, none of its
// WARN or FAIL lines turned OK; a failing read shown.
void CheckSelfTestTold(Run& run, const std::string& written, const Target& target) {
  std::vector<std::string> told;
  if (!written.empty()) told.push_back(written);
  for (const std::string& box : machine.boxes) told.push_back(box.substr(box.find(':') + 1));
  const std::string row = target.occurrence == 0 ? "" : Countdown::RowName(target.row);
  if (told.size() != (told.empty() && row == "MessageBoxA" ? 0u : 1u)) {
    run.Problem("told " + std::to_string(told.size()) + " times");
    return;
  }
  if (told.empty()) return;
  if (target.occurrence == 0) g_cleanSelfTest = told.front();
  const std::vector<SelfTestLine> lines = SelfTestLines(told.front()), clean = SelfTestLines(g_cleanSelfTest);
  if (lines.empty() || !lines.back().key.empty()) {
    run.Problem("no summary line: " + ::testing::PrintToString(told.front()));
    return;
  }
  DWORD worst = 0;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string& level = lines[i].level;
    if (level == "WARN" && worst < 1) worst = 1;
    if (level == "FAIL") worst = 2;
    if (level != "OK" && level != "WARN" && level != "FAIL") run.Problem("a line without a result: " + lines[i].text);
  }
  if (run.switchesCode != worst) {
    run.Problem("exit code " + std::to_string(run.switchesCode) + ", the worst line says " + std::to_string(worst));
  }
  if (lines.back().text.find("exit code " + std::to_string(run.switchesCode)) == std::string::npos) {
    run.Problem("the summary does not name the exit code: " + lines.back().text);
  }
  if (row == "GetModuleFileNameW") return;  // the paths themselves change
  for (const SelfTestLine& before : clean) {
    bool present = false;
    for (const SelfTestLine& now : lines) {
      if (now.key != before.key) continue;
      present = true;
      if (before.level != "OK" && now.level == "OK") run.Problem("turned OK: " + now.text);
    }
    if (!present) run.Problem("a check is missing: " + before.text);
  }
  if (SelfTestMustShow(row, target.occurrence) && told.front() == g_cleanSelfTest) run.Problem("the failing call is not shown");
}

// What the switches wrote to their standard output, read from the pipe's other end.
std::string ReadOutput(HANDLE reader) {
  std::string text;
  char buffer[4096];
  DWORD available = 0, read = 0;
  while (::PeekNamedPipe(reader, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
         ::ReadFile(reader, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  return text;
}

std::string RunName(const Scenario& scenario, const Target& target) {
  return std::string(scenario.name) + ":" + Countdown::RowName(target.row) + "#" +
         std::to_string(target.occurrence) + ":" + std::to_string(target.error);
}

// Runs the scenario once, with the target failing; the rows called while counting, in order.
std::vector<std::string> RunOnce(const Scenario& scenario, Countdown& countdown, const Target& target,
                                 std::vector<std::size_t>& sites) {
  machine.Reset();
  fault::ClearLedger();
  LaunchedFlag = 0;
  EndConsoleLogonWait();
  SimLoadScenario(service_test::kOneDisk);
  SetModeFile(scenario.modeFile);

  Run run{scenario, target.error, {}};
  run.host.serviceName = kServiceName;
  run.host.displayName = kServiceName;
  g_serviceHost = &run.host;
  HANDLE outputReader = nullptr;
  if (scenario.switches != nullptr) ::CreatePipe(&outputReader, &machine.output, nullptr, 1 << 16);

  scenario.prepare(run);
  countdown.Arm(target.row, target.occurrence, target.error);
  scenario.act(run);
  countdown.Disarm();
  if (scenario.switches == kSelfTestSwitch) {
    CheckSelfTestTold(run, ReadOutput(outputReader), target);
    ::CloseHandle(outputReader);
    ::CloseHandle(machine.output);
    machine.output = nullptr;
  } else if (scenario.switches != nullptr) {
    CheckSwitchesTold(run, ReadOutput(outputReader), ExpectedSwitchesCode(scenario, target));
    ::CloseHandle(outputReader);
    ::CloseHandle(machine.output);
    machine.output = nullptr;
  }
  sites = countdown.Sites();
  if (target.occurrence != 0 && !countdown.Fired()) run.Problem("the run never made the call that was to fail");

  if (!scenario.byHand) CheckServiceEnd(run);
  StopService(run);
  EndWhatTheProcessEndWouldHave();

  DeviceManager::Teardown();
  EndStartedPrograms();
  for (const std::string& leak : fault::LedgerProblems()) run.Problem(leak);
  const size_t started = fault::ProgramsStarted().size();
  if (started > 1) run.Problem("the program was started " + std::to_string(started) + " times");
  for (const std::string& box : machine.boxes) {
    if (scenario.switches == nullptr && (scenario.byHand ? !ByHandBranchBox(box) : true)) {
      run.Problem("unexpected message box " + box);
    }
  }
  g_serviceHost = nullptr;
  return run.problems;
}

// ---- The scenarios ----------------------------------------------------------------------------

void Nothing(Run&) {}

void ByHand(Run& run, bool exists, DWORD state) {
  machine.exists = exists;
  machine.state = state;
  (void)run;
  RunServiceController();
}

// The event source registered for this executable, as /install registers it.
void RegisterOwnEventSource(Run&) {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  InstallEventSource(path);
}

// Up and RUNNING with the worker waiting, before the counting starts.
void Running(Run& run) {
  run.StartService();
  run.Settle();
  std::lock_guard<std::mutex> lock(machine.mutex);
  if (machine.mainEnded) run.Problem("the service did not start without faults");
}

// The same, with the device manager made and the bridge SDK bound: the arrival scenario covers the
// binding's calls already.
void RunningAndBound(Run& run) {
  DeviceManager::Instance();
  Running(run);
}

void StartUp(Run& run) {
  run.StartService();
  run.Settle();
}

void Arrivals(Run& run) {
  // A disk announces itself on more than one interface: the second arrival finds the program running.
  for (int i = 0; i < 2; ++i) {
    run.Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL);
    run.Settle();
  }
}

void TimerChecks(Run& run) {
  for (int i = 0; i < 2; ++i) {
    run.PostToWorker(WM_TIMER);
    run.Settle();
  }
}

void Switches(Run& run) { run.switchesCode = RunCommandSwitches(run.scenario.switches); }

// A logon at the console, as the service control manager tells it.
void Logons(Run& run) {
  WTSSESSION_NOTIFICATION notification{sizeof notification, sys::realCalls().WTSGetActiveConsoleSessionId()};
  for (int i = 0; i < 2; ++i) {
    if (ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &notification, nullptr) != NO_ERROR) {
      run.Problem("the control handler returned an error");
    }
    run.Settle();
  }
}

// An arrival while nobody is logged on at the console, then that user's logons.
void ArrivalThenLogons(Run& run) {
  machine.Update([] { machine.nobodyAtConsole = true; });
  run.Control(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL);
  run.Settle();
  machine.Update([] { machine.nobodyAtConsole = false; });
  Logons(run);
}

void Stop(Run& run) {
  run.Control(SERVICE_CONTROL_STOP);
  machine.WaitFor("the stop", [] { return machine.mainEnded; });
}

// The policy scenario's calls above the countdown: they see every attempt, the failed one included.
struct AboveCountdown {
  static inline decltype(&::PostThreadMessageA) post = nullptr;
  static inline decltype(&::RegOpenKeyExA) open = nullptr;
  static inline decltype(&::RegNotifyChangeKeyValue) notify = nullptr;
  static inline decltype(&::ReportEventA) report = nullptr;

  static BOOL WINAPI Post(DWORD thread, UINT message, WPARAM wParam, LPARAM lParam) {
    const BOOL posted = post(thread, message, wParam, lParam);
    if (message == kSettingsMessage) machine.Update([posted] { machine.settingsPost = posted ? 1 : -1; });
    return posted;
  }
  // The watch opens its key for notification alone; a key that is not there is looked for higher up.
  static LONG WINAPI Open(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    const LONG opened = open(parent, path, options, access, key);
    if ((access & KEY_NOTIFY) != 0 && (access & KEY_QUERY_VALUE) == 0 && opened != ERROR_SUCCESS &&
        opened != ERROR_FILE_NOT_FOUND && opened != ERROR_PATH_NOT_FOUND) {
      machine.Update([] { machine.keyWatchRefused = true; });
    }
    return opened;
  }
  static LONG WINAPI Notify(HKEY key, BOOL subtree, DWORD filter, HANDLE event, BOOL async) {
    const LONG armed = notify(key, subtree, filter, event, async);
    if (armed != ERROR_SUCCESS) machine.Update([] { machine.keyWatchRefused = true; });
    return armed;
  }
  static BOOL WINAPI Report(HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD size,
                            LPCSTR* strings, LPVOID data) {
    if ((id & 0xFFFF) == 306) machine.Update([] { machine.notWatchedWritten = true; });
    return report(source, type, category, id, user, count, size, strings, data);
  }

  sys::Calls& c = sys::calls();
  sys::ScopedCall<decltype(c.PostThreadMessageA)> p{c.PostThreadMessageA, (post = c.PostThreadMessageA, Post)};
  sys::ScopedCall<decltype(c.RegOpenKeyExA)> o{c.RegOpenKeyExA, (open = c.RegOpenKeyExA, Open)};
  sys::ScopedCall<decltype(c.RegNotifyChangeKeyValue)> n{c.RegNotifyChangeKeyValue,
                                                         (notify = c.RegNotifyChangeKeyValue, Notify)};
  sys::ScopedCall<decltype(c.ReportEventA)> r{c.ReportEventA, (report = c.ReportEventA, Report)};
};

// The policy key, written and removed past the table: the administrator's doing, not the service's.
void SetPolicyValue(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
  ::RegCloseKey(key);
}
void DeletePolicyKey() {
  ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kPolicyKey, KEY_WOW64_64KEY, 0);
  ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Marrowbank", KEY_WOW64_64KEY, 0);
}

// The policy forbids the service's own token, and the service starts watching that key; then the
// policy asks for polling. The worker re-reads the settings, unless the key's watch was refused at
// start, which the warning that nothing is watched says instead; then the stop.
void PolicyChange(Run& run) {
  const AboveCountdown seen;
  DeletePolicyKey();
  SetPolicyValue("LaunchAs", REG_SZ, "user", 5);
  StartUp(run);
  bool watched;
  {
    std::lock_guard<std::mutex> lock(machine.mutex);
    watched = !machine.mainEnded && !machine.keyWatchRefused;
  }
  if (watched) {
    const DWORD seconds = 1;
    SetPolicyValue("PollSeconds", REG_DWORD, &seconds, sizeof seconds);
    machine.WaitFor("the settings' re-read", [] {
      return machine.mainEnded || machine.settingsPost == -1 ||
             (machine.settingsTaken && machine.WorkerIdle());
    });
  } else {
    machine.WaitFor("the warning that the settings are not watched",
                    [] { return machine.mainEnded || machine.notWatchedWritten; });
  }
  bool ended;
  {
    std::lock_guard<std::mutex> lock(machine.mutex);
    ended = machine.mainEnded;
  }
  if (!ended) Stop(run);
  DeletePolicyKey();
}

const Scenario kScenarios[] = {
    {"by_hand_absent", Nothing, [](Run& r) { ByHand(r, false, 0); }, true, false, nullptr},
    {"by_hand_stopped", Nothing, [](Run& r) { ByHand(r, true, SERVICE_STOPPED); }, true, false, nullptr},
    {"by_hand_running", Nothing, [](Run& r) { ByHand(r, true, SERVICE_RUNNING); }, true, false, nullptr},
    {"by_hand_paused", Nothing, [](Run& r) { ByHand(r, true, SERVICE_PAUSED); }, true, false, nullptr},
    // The process the service control manager started: it hands ServiceMain to the dispatcher.
    {"dispatch", Nothing, [](Run& r) { ByHand(r, true, SERVICE_START_PENDING); }, true, false, nullptr},
    {"service_start", Nothing, StartUp, false, false, "[Fields]\r\nPollSeconds=1\r\n"},
    {"arrival", Running, Arrivals, false, false, nullptr},
    {"timer", RunningAndBound, TimerChecks, false, false, "[Fields]\r\nPollSeconds=1\r\n"},
    {"stop", Running, Stop, false, true, nullptr},
    // The policy changed while the service runs: the start, the re-read, the stop.
    {"policy_change", Nothing, PolicyChange, false, true, "[Fields]\r\nLaunchAs=service\r\n"},
    // The teardown registered for the process's exit, with the bridge SDK bound.
    {"exit", [](Run&) { DeviceManager::Instance(); }, [](Run&) { DeviceManager::Teardown(); }, true, false, nullptr},
    // The program started in the console user's own session, with the user's token.
    {"arrival_as_user", Running, Arrivals, false, false, "[Fields]\r\nLaunchAs=user\r\n"},
    // Started with a user logged on: the program is started at once; then logons at the console.
    {"logon_start", Nothing, StartUp, false, false, "[Fields]\r\nLaunchAtLogon=1\r\n"},
    {"logon", Running, Logons, false, false, "[Fields]\r\nLaunchAtLogon=1\r\nLaunchAs=user\r\n"},
    // The service's own token with nobody at the console: held until the logon, which starts it.
    {"arrival_before_logon", Running, ArrivalThenLogons, false, false, nullptr},
    // The administrator's switches, against a scripted service control manager.
    {"switch_install", [](Run&) { machine.exists = false, machine.state = 0; }, Switches, true, false, nullptr,
     "/install", 0},
    {"switch_reinstall", Nothing, Switches, true, false, nullptr, "/install /quiet", 0},
    {"switch_uninstall", Nothing, Switches, true, false, nullptr, "/uninstall", 0},
    {"switch_start", [](Run&) { machine.state = SERVICE_STOPPED; }, Switches, true, false, nullptr, "/start", 0},
    {"switch_stop", Nothing, Switches, true, false, nullptr, "/stop /quiet", 0},
    {"switch_status", Nothing, Switches, true, false, nullptr, "/status", SERVICE_RUNNING},
    {"switch_status_absent", [](Run&) { machine.exists = false; }, Switches, true, false, nullptr, "/status",
     ERROR_SERVICE_DOES_NOT_EXIST},
    // The self-test with the service registered as /install registers it and a mode file to read.
    {"selftest", RegisterOwnEventSource, [](Run& r) { r.switchesCode = RunSelfTest(false, false); }, true, false,
     "[Fields]\r\nLaunchAs=user\r\n", kSelfTestSwitch},
};

// The run FAULT_RUN names, or "" for every run.
std::string ReplayRequested() {
  const char* text = std::getenv("FAULT_RUN");
  return text == nullptr ? std::string() : std::string(text);
}

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

// "scenario:Row#n:error" back into its scenario and target; false for a name that is none.
bool ParseRun(const std::string& name, const Scenario*& scenario, Target& target) {
  const size_t colon = name.find(':'), hash = name.find('#'), last = name.rfind(':');
  if (colon == std::string::npos || hash == std::string::npos || last <= hash || hash <= colon) return false;
  scenario = nullptr;
  for (const Scenario& s : kScenarios) {
    if (name.compare(0, colon, s.name) == 0 && std::strlen(s.name) == colon) scenario = &s;
  }
  const std::string row = name.substr(colon + 1, hash - colon - 1);
  target = Target{Countdown::RowCount(), 0, 0};
  for (std::size_t r = 0; r < Countdown::RowCount(); ++r) {
    if (Countdown::RowName(r) == row) target.row = r;
  }
  target.occurrence = static_cast<unsigned>(std::strtoul(name.c_str() + hash + 1, nullptr, 10));
  target.error = std::strtoul(name.c_str() + last + 1, nullptr, 10);
  return scenario != nullptr && target.row < Countdown::RowCount() && target.occurrence > 0;
}

class FaultMatrixBase : public ::testing::Test {
 protected:
  void SetUp() override {
    ::SetUnhandledExceptionFilter(NameTheCrashedRun);
    fault::WatchAcquisitionsAndReleases();
  }
  void TearDown() override {
    SimReset();
    SetModeFile(nullptr);
  }

  // The machine underneath, then the countdown over everything.
  sys::Calls& c_ = sys::calls();
  sys::ScopedCall<decltype(c_.OpenSCManagerA)> r1_{c_.OpenSCManagerA, ScmOpenManager};
  sys::ScopedCall<decltype(c_.OpenServiceA)> r2_{c_.OpenServiceA, ScmOpenService};
  sys::ScopedCall<decltype(c_.QueryServiceStatus)> r3_{c_.QueryServiceStatus, ScmQuery};
  sys::ScopedCall<decltype(c_.CloseServiceHandle)> r4_{c_.CloseServiceHandle, ScmClose};
  sys::ScopedCall<decltype(c_.StartServiceCtrlDispatcherA)> r5_{c_.StartServiceCtrlDispatcherA, ScmDispatcher};
  sys::ScopedCall<decltype(c_.CreateServiceA)> r6_{c_.CreateServiceA, ScmCreate};
  sys::ScopedCall<decltype(c_.ChangeServiceConfig2A)> r7_{c_.ChangeServiceConfig2A, ScmDescribe};
  sys::ScopedCall<decltype(c_.StartServiceA)> r8_{c_.StartServiceA, ScmStart};
  sys::ScopedCall<decltype(c_.ControlService)> r9_{c_.ControlService, ScmControl};
  sys::ScopedCall<decltype(c_.RegisterServiceCtrlHandlerExA)> r10_{c_.RegisterServiceCtrlHandlerExA,
                                                                    ScmRegisterHandler};
  sys::ScopedCall<decltype(c_.RegisterDeviceNotificationA)> r11_{c_.RegisterDeviceNotificationA, ScmRegisterDevices};
  sys::ScopedCall<decltype(c_.SetServiceStatus)> r12_{c_.SetServiceStatus, ScmReport};
  sys::ScopedCall<decltype(c_.MessageBoxA)> r13_{c_.MessageBoxA, Box};
  sys::ScopedCall<decltype(c_.MessageBoxW)> r13w_{c_.MessageBoxW, WideBox};
  sys::ScopedCall<decltype(c_.ChangeServiceConfig2W)> r7w_{c_.ChangeServiceConfig2W, ScmDescribeWide};
  sys::ScopedCall<decltype(c_.SetTimer)> r14_{c_.SetTimer, ScriptedSetTimer};
  sys::ScopedCall<decltype(c_.KillTimer)> r15_{c_.KillTimer, ScriptedKillTimer};
  sys::ScopedCall<decltype(c_.WaitForSingleObject)> r16_{c_.WaitForSingleObject, CountedWait};
  sys::ScopedCall<decltype(c_.OpenProcess)> r16p_{c_.OpenProcess, EndedServiceProcess};
  sys::ScopedCall<decltype(c_.Sleep)> r17_{c_.Sleep, CountedSleep};
  sys::ScopedCall<decltype(c_.PostThreadMessageA)> r18_{c_.PostThreadMessageA, WatchedPost};
  sys::ScopedCall<decltype(c_.GetMessageA)> r19_{c_.GetMessageA, WatchedGetMessage};
  sys::ScopedCall<decltype(c_.WaitForMultipleObjects)> r20_{c_.WaitForMultipleObjects, WatchedWaitForEither};
  sys::ScopedCall<decltype(c_.CreateProcessAsUserA)> r21_{c_.CreateProcessAsUserA, SuspendedStart};
  sys::ScopedCall<decltype(c_.TerminateProcess)> r22_{c_.TerminateProcess, RecordedTerminate};
  sys::ScopedCall<decltype(c_.QueryServiceStatusEx)> r23_{c_.QueryServiceStatusEx, ScmQueryEx};
  sys::ScopedCall<decltype(c_.QueryServiceConfigA)> r24_{c_.QueryServiceConfigA, ScmQueryConfig};
  sys::ScopedCall<decltype(c_.QueryServiceConfig2A)> r24b_{c_.QueryServiceConfig2A, ScmQueryConfig2};
  sys::ScopedCall<decltype(c_.ChangeServiceConfigA)> r25_{c_.ChangeServiceConfigA, ScmChangeConfig};
  sys::ScopedCall<decltype(c_.DeleteService)> r26_{c_.DeleteService, ScmDelete};
  sys::ScopedCall<decltype(c_.GetStdHandle)> r27_{c_.GetStdHandle, ScriptedStdHandle};
  sys::ScopedCall<decltype(c_.AttachConsole)> r28_{c_.AttachConsole, NoConsole};
  sys::ScopedCall<decltype(c_.WTSQueryUserToken)> r29_{c_.WTSQueryUserToken, ConsoleUserToken};
  Countdown countdown_;
};

class FaultMatrix : public FaultMatrixBase, public ::testing::WithParamInterface<Scenario> {};

TEST_P(FaultMatrix, EveryCallSiteFailsWithEachError) {
  const Scenario& scenario = GetParam();
  const std::string replay = ReplayRequested();
  if (!replay.empty() && replay.rfind(std::string(scenario.name) + ":", 0) != 0) {
    GTEST_SKIP() << "replaying another scenario";
  }

  // The count, and the row of each call; without faults every invariant holds.
  std::vector<std::size_t> sites;
  g_currentRun = std::string(scenario.name) + " without faults";
  const std::vector<std::string> clean = RunOnce(scenario, countdown_, Target{}, sites);
  ASSERT_TRUE(clean.empty()) << "without faults: " << ::testing::PrintToString(clean);
  ASSERT_FALSE(sites.empty());

  int runs = 0;
  std::vector<std::string> failures;
  std::vector<unsigned> occurrences(Countdown::RowCount(), 0);
  for (std::size_t site = 1; site <= sites.size(); ++site) {
    const std::size_t row = sites[site - 1];
    const unsigned occurrence = ++occurrences[row];
    if (!Countdown::CanFail(row)) continue;
    for (DWORD error : ErrorsFor(row)) {
      const Target target{row, occurrence, error};
      g_currentRun = RunName(scenario, target);
      if (!replay.empty() && replay != g_currentRun) continue;
      std::vector<std::size_t> seen;
      const std::vector<std::string> problems = RunOnce(scenario, countdown_, target, seen);
      ++runs;
      if (problems.empty()) continue;
      std::ostringstream text;
      text << "FAULT_RUN=" << g_currentRun << "  (call " << site << " of " << sites.size() << "):";
      for (const std::string& p : problems) text << "\n    " << p;
      failures.push_back(text.str());
    }
  }
  g_currentRun.clear();

  std::string rows;
  for (std::size_t row = 0; row < Countdown::RowCount(); ++row) {
    if (occurrences[row] != 0) rows += " " + Countdown::RowName(row);
  }
  std::printf("[ %s ] %zu calls, %d runs; rows:%s\n", scenario.name, sites.size(), runs, rows.c_str());
  for (const std::string& f : failures) ADD_FAILURE() << f;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultMatrix, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& param) { return param.param.name; });

// The runs that found faults, each replayed alone: the call fails, and every invariant holds.
TEST_F(FaultMatrixBase, RunsThatFoundFaults) {
  const char* const kFound[] = {
      // The worker's queue did not exist yet when WM_QUIT was posted: stuck in START_PENDING.
      "service_start:WaitForMultipleObjects#1:5",
      // ServiceMain never heard that the worker was ready: stuck in START_PENDING.
      "service_start:SetEvent#1:6",
      // A failed wait for the stop ended the service as if stopped: STOPPED with exit code 0.
      "service_start:WaitForMultipleObjects#2:6",
      // The handler could not signal the stop: stuck in STOP_PENDING.
      "stop:SetEvent#1:6",
      // No status handle: the service stayed start-pending for the life of the process.
      "service_start:RegisterServiceCtrlHandlerExA#1:8",
      // The worker could not be told to quit: stuck in STOP_PENDING until the forced stop.
      "stop:PostThreadMessageA#1:5",
      // The STOPPED report was refused: the dispatcher never returned, the service stayed STOP_PENDING.
      "stop:SetServiceStatus#4:13",
      // The process list could not be read on the second arrival: the program started twice.
      "arrival:CreateToolhelp32Snapshot#2:8",
      "arrival:Process32First#2:5",
  };
  for (const char* name : kFound) {
    SCOPED_TRACE(name);
    const Scenario* scenario = nullptr;
    Target target;
    ASSERT_TRUE(ParseRun(name, scenario, target));
    std::vector<std::size_t> sites;
    g_currentRun = name;
    EXPECT_EQ(RunOnce(*scenario, countdown_, target, sites), std::vector<std::string>{});
    // Its outcome is determined: the first failure, the worker that was not ready, names the STOPPED
    // code, and the worker ends within the stop's bound, so nothing is forced.
    if (std::strcmp(name, "service_start:WaitForMultipleObjects#1:5") == 0) {
      std::lock_guard<std::mutex> lock(machine.mutex);
      ASSERT_FALSE(machine.reports.empty());
      EXPECT_EQ(machine.reports.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
      EXPECT_EQ(machine.reports.back().dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
      EXPECT_EQ(machine.reports.back().dwServiceSpecificExitCode, static_cast<DWORD>(ServiceError::kWorkerNotReady));
      EXPECT_FALSE(machine.terminated);
    }
  }
  g_currentRun.clear();
}

}  // namespace
