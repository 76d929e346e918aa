// A stand-in service program for driving the real service executable's hand-run branches under a
// real service manager: registered under the name "MarrowbankServer", it connects to the control
// dispatcher and holds one state, chosen by its command line (the registered path may carry it) or,
// when the command line names none, by the first word of "service_stub-state.txt" beside it:
//
//   PAUSED         reports PAUSED, accepts stop and shutdown
//   STOP_PENDING   reports STOP_PENDING, accepts stop and shutdown
//   START_PENDING  reports START_PENDING and never RUNNING, accepts nothing
//
// Wine's service manager fails a start (and ends the process) when the first state reported is
// neither START_PENDING nor RUNNING, so the stub reports START_PENDING first and its state only once
// the starter is done: when the auto-reset event "Global\MarrowbankServiceStubGo" is signalled (a
// test signals it after StartServiceA has returned), or after a second.
//
// Each control that reaches the handler is appended as "control N" to "service_stub-controls.log"
// beside the program, so a test can see whether a stop request was sent. A stop or shutdown, the
// named event "Global\MarrowbankServiceStubQuit", or two minutes, whichever comes first, make it
// report STOPPED and end. Exit code 2 for an unknown state, 1 when the dispatcher refuses it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kServiceName[] = "MarrowbankServer";
constexpr char kQuitEventName[] = "Global\\MarrowbankServiceStubQuit";
constexpr char kGoEventName[] = "Global\\MarrowbankServiceStubGo";
constexpr DWORD kGoWaitMs = 1000;
constexpr DWORD kLifetimeMs = 120 * 1000;

SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
DWORD gHeldState = 0;
HANDLE gQuit = nullptr;
std::string gDirectory;  // with its trailing backslash

std::string ProgramDirectory() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\') + 1);
}

std::string FirstWord(const char* text) {
  const char* blanks = " \t\r\n\"";
  std::string s(text);
  const size_t begin = s.find_first_not_of(blanks);
  if (begin == std::string::npos) return std::string();
  return s.substr(begin, s.find_first_of(blanks, begin) - begin);
}

DWORD StateNamed(const std::string& word) {
  if (word == "PAUSED") return SERVICE_PAUSED;
  if (word == "STOP_PENDING") return SERVICE_STOP_PENDING;
  if (word == "START_PENDING") return SERVICE_START_PENDING;
  return 0;
}

std::string StateFromFile() {
  std::string word;
  if (FILE* f = std::fopen((gDirectory + "service_stub-state.txt").c_str(), "rb")) {
    char text[64] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    text[n] = '\0';
    word = FirstWord(text);
    std::fclose(f);
  }
  return word;
}

void Report(DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  status.dwCheckPoint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 1 : 0;
  status.dwWaitHint = status.dwCheckPoint ? 60000 : 0;
  SetServiceStatus(gStatusHandle, &status);
}

void LogControl(DWORD control) {
  if (FILE* f = std::fopen((gDirectory + "service_stub-controls.log").c_str(), "ab")) {
    std::fprintf(f, "control %lu\r\n", static_cast<unsigned long>(control));
    std::fclose(f);
  }
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  LogControl(control);
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    SetEvent(gQuit);
  } else if (control == SERVICE_CONTROL_INTERROGATE) {
    Report(gHeldState);
  }
  return NO_ERROR;
}

void WINAPI StubMain(DWORD, LPSTR*) {
  gStatusHandle = RegisterServiceCtrlHandlerExA(kServiceName, Handler, nullptr);
  if (!gStatusHandle) return;
  Report(SERVICE_START_PENDING);
  if (gHeldState != SERVICE_START_PENDING) {
    if (HANDLE go = CreateEventA(nullptr, FALSE, FALSE, kGoEventName)) {
      WaitForSingleObject(go, kGoWaitMs);
      CloseHandle(go);
    } else {
      Sleep(kGoWaitMs);
    }
    Report(gHeldState);
  }
  HANDLE stopped[] = {gQuit, CreateEventA(nullptr, TRUE, FALSE, kQuitEventName)};
  WaitForMultipleObjects(stopped[1] ? 2 : 1, stopped, FALSE, kLifetimeMs);
  if (stopped[1]) CloseHandle(stopped[1]);
  Report(SERVICE_STOPPED);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  gDirectory = ProgramDirectory();
  std::string word = FirstWord(commandLine);
  if (word.empty()) word = StateFromFile();
  gHeldState = StateNamed(word);
  if (gHeldState == 0) return 2;
  gQuit = CreateEventA(nullptr, TRUE, FALSE, nullptr);

  char name[sizeof kServiceName];
  std::memcpy(name, kServiceName, sizeof name);
  SERVICE_TABLE_ENTRYA table[] = {{name, StubMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
