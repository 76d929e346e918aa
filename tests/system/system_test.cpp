// The real MarrowbankServer.exe under Wine's real service manager, driven the way an administrator
// and a plugged-in device would drive it: run by hand to install and start it, a simulated device
// of the family written as a scenario for the SDK simulator, the polling timer starting the
// stand-in desktop program, stop, start again, and the hand-run branches for states the real
// service never holds (a stand-in service program holds them). Message boxes are read and answered
// from here; debug output is read through the DBWIN buffer, the service's events through Wine's
// event-log debug channel.
//
// The installation is in a folder whose name holds Chinese characters, the last of them "乗", whose
// second byte in code page 936 is 0x5C (a backslash when read byte by byte). Each test sets up the
// state it starts from (nothing installed, running, or installed and stopped), so any one can run
// alone or in any order. Everything the suite starts or installs is removed at its end, also after
// a failure. No test bounds how long anything takes: waits end at the awaited state, with a hang
// guard far beyond any passing run.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/handles.h"
#include "tests/support/test_support.h"
#include "tests/tools/debug_output.h"
#include "tests/tools/message_box.h"
#include "tests/tools/processes.h"

namespace {

constexpr char kService[] = "MarrowbankServer";
// "C:\Program Files\Marrowbank 系统测试乗\" in code page 936.
constexpr char kInstallDir[] = "C:\\Program Files\\Marrowbank \xcf\xb5\xcd\xb3\xb2\xe2\xca\xd4\x81\x5c\\";
static_assert(sizeof kInstallDir - 1 == 39, "no escape ran into its neighbour");
// No wait in a passing run comes near it; it only keeps a broken run from hanging.
constexpr DWORD kHangGuardMs = 60000;
constexpr char kLaunchLine[] = "CreateProcessAsUser OK!\r\n";

// The texts the executable shows and registers, in code page 936.
constexpr char kStopQuestion[] = "\xcd\xa3\xd6\xb9\xb7\xfe\xce\xf1\x3f";  // 停止服务?
// 启动服务出错，错误码：1063
constexpr char kDispatcherError1063[] =
    "\xc6\xf4\xb6\xaf\xb7\xfe\xce\xf1\xb3\xf6\xb4\xed\xa3\xac\xb4\xed\xce\xf3\xc2\xeb\xa3\xba"
    "1063";
constexpr char kDescription[] =
    "\xc8\xe7\xb9\xfb\xcd\xa3\xd6\xb9\xb4\xcb\xb7\xfe\xce\xf1\xa3\xac\x4b\x4f\x4c\x56\x41\xb5\xc4\xc9\xe8\xb1"
    "\xb8\xbd\xab\xb2\xbb\xbb\xe1\xb1\xbb\xb7\xa2\xcf\xd6\xa1\xa3\xc8\xe7\xb9\xfb\xbd\xfb\xd3\xc3\xb4\xcb\xb7"
    "\xfe\xce\xf1\xa3\xac\xc8\xce\xba\xce\xd2\xc0\xc0\xb5\xb4\xcb\xb7\xfe\xce\xf1\xb5\xc4\xb7\xfe\xce\xf1\xb6"
    "\xbc\xce\xde\xb7\xa8\xd5\xfd\xb3\xa3\xc6\xf4\xb6\xaf\xa1\xa3";
static_assert(sizeof kDescription - 1 == 93, "the description is 93 bytes");

// One disk of the family on the first list position, encrypted (SDK state 1).
constexpr char kScenario[] =
    "position\r\n"
    "  accessory 12\r\n"
    "  record\r\n"
    "    kind 2\r\n"
    "    info \\\\?\\info#marrowbank-system-test\r\n"
    "    path \\\\?\\usbstor#marrowbank-system-test\r\n"
    "    base.model TAVRO211\r\n"
    "    base.vendor Marrowba\r\n"
    "    value 1\r\n"
    "    state 1\r\n";

constexpr char kModeConfig[] = "[Fields]\r\nAutoBack=1\r\nPollSeconds=1\r\n";

// What the stand-in service program writes for each control it receives.
constexpr char kStopControlLine[] = "control 1\r\n";

std::string Install(const char* name) { return std::string(kInstallDir) + name; }

using test_support::CountOf;
using test_support::ReadText;
using test_support::WaitUntil;
using test_support::WriteText;

// Wine's event log keeps nothing, but with its event-log channel on it prints each string of each
// event; the prefix fixture has the service manager, whose standard error services inherit, write
// them to this file. One line per string: "...:eventlog:ReportEventW L\"<string>\"".
std::string ServicesLog() { return test_support::OwnDirectory() + "..\\..\\wine-services.log"; }

// The event strings printed since byte `from` of the log, as Wine's debug output escapes them.
std::vector<std::string> EventStrings(size_t from = 0) {
  const std::string text = ReadText(ServicesLog());
  std::vector<std::string> strings;
  const std::string mark = "eventlog:ReportEventW L\"";
  for (size_t at = text.find(mark, from); at != std::string::npos; at = text.find(mark, at + 1)) {
    const size_t begin = at + mark.size();
    const size_t end = text.find('\n', begin);
    const std::string line = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    strings.push_back(line.substr(0, line.rfind('"')));
  }
  return strings;
}

// An ANSI string as Wine's debug output shows it: backslashes and double quotes escaped, characters
// beyond ASCII as \ and four hex digits of their UTF-16 code.
std::string WineEscaped(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], static_cast<int>(wide.size()))));
  std::string escaped;
  for (wchar_t c : wide) {
    if (c == L'\\' || c == L'"') {
      escaped += '\\';
      escaped += static_cast<char>(c);
    } else if (c >= L' ' && c <= 126) {
      escaped += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\%04x", static_cast<unsigned>(c));
      escaped += hex;
    }
  }
  return escaped;
}

// True when one event's strings, in order, are among those printed since byte `from`.
bool HasEvent(const std::vector<std::string>& strings, size_t from = 0) {
  const std::vector<std::string> all = EventStrings(from);
  return std::search(all.begin(), all.end(), strings.begin(), strings.end()) != all.end();
}

std::string PrintedEvents(size_t from = 0) {
  std::string text;
  for (const std::string& s : EventStrings(from)) text += "\n  " + s;
  return text;
}

constexpr char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\MarrowbankServer";

// The event source's message file, as registered; "" when there is no source.
std::string EventMessageFile() {
  sys::UniqueRegistryKey source;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_READ, source.receive()) != ERROR_SUCCESS) return "";
  char path[MAX_PATH] = {};
  DWORD type = 0, size = sizeof path - 1;
  if (RegQueryValueExA(source.get(), "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
          ERROR_SUCCESS ||
      type != REG_EXPAND_SZ) {
    return "?";
  }
  DWORD types = 0;
  size = sizeof types;
  if (RegQueryValueExA(source.get(), "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || types != 7) {
    return "?";
  }
  return path;
}

sys::UniqueServiceHandle OpenService(DWORD access) {
  sys::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return sys::UniqueServiceHandle();
  return sys::UniqueServiceHandle(OpenServiceA(manager.get(), kService, access));
}

// The service's state and process; state 0 when the service does not exist.
SERVICE_STATUS_PROCESS QueryStatus() {
  SERVICE_STATUS_PROCESS status = {};
  sys::UniqueServiceHandle service = OpenService(SERVICE_QUERY_STATUS);
  DWORD needed = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof status, &needed)) {
    status = {};
  }
  return status;
}

bool WaitForState(DWORD state) {
  return WaitUntil([state] { return QueryStatus().dwCurrentState == state; });
}

bool SendStop() {
  sys::UniqueServiceHandle service = OpenService(SERVICE_STOP);
  SERVICE_STATUS status = {};
  return service && ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
}

// A process started with none of our standard handles: a child that inherits them can keep
// the test runner's pipe open for as long as it lives.
sys::UniqueHandle StartDetached(const std::string& exe, const std::string& arguments, DWORD* pid = nullptr) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION pi = {};
  std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return sys::UniqueHandle();
  }
  CloseHandle(pi.hThread);
  if (pid) *pid = pi.dwProcessId;
  return sys::UniqueHandle(pi.hProcess);
}

bool InInstallDir(DWORD pid) {
  sys::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  char image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!process || !QueryFullProcessImageNameA(process.get(), 0, image, &size)) return false;
  return _strnicmp(image, kInstallDir, std::strlen(kInstallDir)) == 0;
}

std::vector<DWORD> DesktopPrograms() {
  std::vector<DWORD> pids = tools::FindProcesses("Marrowbank.exe");
  pids.erase(std::remove_if(pids.begin(), pids.end(), [](DWORD pid) { return !InInstallDir(pid); }), pids.end());
  return pids;
}

BOOL CALLBACK AppendWindow(HWND window, LPARAM param) {
  char title[128] = {}, name[64] = {};
  if (GetWindowTextA(window, title, sizeof title) <= 0) return TRUE;
  GetClassNameA(window, name, sizeof name);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  *reinterpret_cast<std::string*>(param) += std::string("\n  pid ") + std::to_string(pid) + " class " + name +
                                            (IsWindowVisible(window) ? " visible: " : " hidden: ") + title;
  return TRUE;
}

// The titled top-level windows, for failure messages.
std::string TitledWindows() {
  std::string list;
  EnumWindows(AppendWindow, reinterpret_cast<LPARAM>(&list));
  return list;
}

struct SwitchRun {
  DWORD code;
  std::string output;
};

// Runs the installed executable with switches, its standard output into a pipe, and waits for its
// end. /quiet is always added: no box may wait for an answer here.
SwitchRun RunSwitches(const std::string& arguments) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {static_cast<DWORD>(-1), "no pipe"};
  sys::UniqueHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writer.get();
  PROCESS_INFORMATION pi = {};
  const std::string exe = Install("MarrowbankServer.exe");
  std::string commandLine = "\"" + exe + "\" " + arguments + " /quiet";
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    return {static_cast<DWORD>(-1), "cannot start"};
  }
  sys::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writer.reset();  // the pipe ends when the child's copy closes
  SwitchRun run{static_cast<DWORD>(-1), ""};
  char chunk[512];
  for (DWORD n = 0; ReadFile(reader.get(), chunk, sizeof chunk, &n, nullptr) && n > 0;) run.output.append(chunk, n);
  if (WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &run.code);
  return run;
}

std::string RegisteredPath() {
  sys::UniqueServiceHandle service = OpenService(SERVICE_QUERY_CONFIG);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  if (!service || !QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                                       static_cast<DWORD>(buffer.size()), &needed)) {
    return "";
  }
  return reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.data())->lpBinaryPathName;
}

struct Suite {
  std::unique_ptr<tools::DebugOutputCapture> debugOutput;
  sys::UniqueHandle keeper;
  sys::UniqueHandle stubGo;    // auto-reset: lets the stand-in service program report its state
  sys::UniqueHandle stubQuit;  // manual reset: makes it report STOPPED and end
  std::string setupError;
};
Suite* gSuite = nullptr;

// Ends whatever a run (this one or a crashed earlier one) left: boxes, the service and its
// process, the desktop programs started from the install directory.
void RemoveLeftovers() {
  for (HWND box; (box = FindWindowA(nullptr, kService)) != nullptr;) {
    tools::AnswerMessageBox(box, IDNO);
    tools::AnswerMessageBox(box, IDOK);
    if (!tools::WaitWindowGone(box, kHangGuardMs)) break;
  }
  if (gSuite && gSuite->stubQuit) SetEvent(gSuite->stubQuit.get());
  const SERVICE_STATUS_PROCESS status = QueryStatus();
  if (status.dwCurrentState != 0 && status.dwCurrentState != SERVICE_STOPPED) {
    SendStop();
    if (!WaitForState(SERVICE_STOPPED) && status.dwProcessId) tools::KillProcess(status.dwProcessId);
    WaitForState(SERVICE_STOPPED);
  }
  if (gSuite && gSuite->stubQuit) ResetEvent(gSuite->stubQuit.get());
  if (sys::UniqueServiceHandle service = OpenService(DELETE)) DeleteService(service.get());
  WaitUntil([] { return !OpenService(SERVICE_QUERY_STATUS); });
  for (DWORD pid : DesktopPrograms()) tools::KillProcess(pid);
}

const char* const kInstalledFiles[] = {"MarrowbankServer.exe", "t3FPDll.dll", "JMUsbDll.dll", "Marrowbank.exe",
                                       "service_stub.exe"};
const char* const kWrittenFiles[] = {"language\\ModeConfig.ini", "t3fp-scenario.txt", "t3fp-calls.log",
                                     "Marrowbank-starts.log", "service_stub-controls.log"};

void RemoveInstallDir() {
  for (const char* name : kInstalledFiles) DeleteFileA(Install(name).c_str());
  for (const char* name : kWrittenFiles) DeleteFileA(Install(name).c_str());
  RemoveDirectoryA(Install("language").c_str());
  RemoveDirectoryA(kInstallDir);
}

std::string LayOutInstallDir() {
  RemoveInstallDir();
  if (!CreateDirectoryA(kInstallDir, nullptr) || !CreateDirectoryA(Install("language").c_str(), nullptr)) {
    return std::string("cannot create ") + kInstallDir;
  }
  const std::string built = test_support::OwnDirectory();
  for (const char* name : kInstalledFiles) {
    if (!CopyFileA((built + name).c_str(), Install(name).c_str(), FALSE)) return std::string("cannot copy ") + name;
  }
  if (!WriteText(Install("language\\ModeConfig.ini"), kModeConfig)) return "cannot write ModeConfig.ini";
  return std::string();
}

class SystemTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gSuite = new Suite;
    gSuite->stubGo.reset(CreateEventA(nullptr, FALSE, FALSE, "Global\\MarrowbankServiceStubGo"));
    gSuite->stubQuit.reset(CreateEventA(nullptr, TRUE, FALSE, "Global\\MarrowbankServiceStubQuit"));
    RemoveLeftovers();
    // Wine ends service processes once no ordinary process of the prefix is left.
    gSuite->keeper = StartDetached(test_support::OwnDirectory() + "keeper.exe", "600");
    if (!gSuite->keeper) gSuite->setupError = "cannot start keeper.exe";
    gSuite->debugOutput = std::make_unique<tools::DebugOutputCapture>();
    if (!gSuite->debugOutput->valid()) gSuite->setupError = "another reader owns the debug-output buffer";
  }

  static void TearDownTestSuite() {
    RemoveLeftovers();
    if (gSuite->keeper) TerminateProcess(gSuite->keeper.get(), 0);
    RemoveInstallDir();
    delete gSuite;
    gSuite = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(gSuite->setupError, "");
    ASSERT_EQ(GetACP(), 936u) << "the texts and the folder name are in code page 936";
  }

  // Starting states. Nothing installed, nothing left running, a fresh installation folder.
  static void Fresh() {
    RemoveLeftovers();
    const std::string error = LayOutInstallDir();
    ASSERT_EQ(error, "");
  }
  // Installed by a hand run, as an administrator would, and RUNNING.
  static void Running() {
    Fresh();
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_EQ(RunByHandToEnd(), 0u);
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING)) << "state " << QueryStatus().dwCurrentState;
  }
  // Installed, and STOPPED with its process gone.
  static void InstalledAndStopped() {
    Running();
    if (::testing::Test::HasFatalFailure()) return;
    const DWORD pid = QueryStatus().dwProcessId;
    ASSERT_TRUE(SendStop());
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    ASSERT_TRUE(tools::WaitProcessGone(pid, kHangGuardMs));
  }

  // Runs the installed executable by hand, as an administrator would, and waits for its end.
  // A box it shows instead is answered (and reported) so that nothing is left waiting.
  static DWORD RunByHandToEnd() {
    DWORD pid = 0;
    sys::UniqueHandle process = StartDetached(Install("MarrowbankServer.exe"), "", &pid);
    EXPECT_TRUE(process) << "cannot start MarrowbankServer.exe";
    if (!process) return static_cast<DWORD>(-1);
    const auto ended = [&] { return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; };
    WaitUntil([&] { return ended() || FindWindowA(nullptr, kService) != nullptr; });
    if (!ended()) {
      if (HWND box = FindWindowA(nullptr, kService)) {
        tools::MessageBoxView view;
        tools::ReadMessageBox(box, &view);
        ADD_FAILURE() << "unexpected message box, " << view.text.size() << " bytes of text";
        tools::AnswerMessageBox(box, IDNO);
        tools::AnswerMessageBox(box, IDOK);
      }
      ADD_FAILURE() << "MarrowbankServer.exe did not end by itself";
      TerminateProcess(process.get(), 1);
      return static_cast<DWORD>(-1);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
  }

  // Runs the executable by hand, waits for its message box, checks it and answers it, then
  // waits for the executable's end; its exit code.
  static DWORD RunByHandAnswering(const char* text, const std::vector<int>& buttons, bool icon, int answer) {
    const SERVICE_STATUS_PROCESS before = QueryStatus();
    DWORD pid = 0;
    sys::UniqueHandle process = StartDetached(Install("MarrowbankServer.exe"), "", &pid);
    EXPECT_TRUE(process) << "cannot start MarrowbankServer.exe";
    if (!process) return static_cast<DWORD>(-1);
    HWND box = tools::WaitForMessageBox(kService, kHangGuardMs);
    EXPECT_TRUE(box) << "no message box; windows:" << TitledWindows()
                     << "\nprocess " << pid << (tools::ProcessExists(pid) ? " running" : " ended")
                     << "; service state " << before.dwCurrentState << " pid " << before.dwProcessId << " before, "
                     << QueryStatus().dwCurrentState << " pid " << QueryStatus().dwProcessId << " now";
    if (box) {
      tools::MessageBoxView view;
      EXPECT_TRUE(tools::ReadMessageBox(box, &view));
      EXPECT_EQ(view.text, text);
      EXPECT_EQ(view.buttons, buttons);
      EXPECT_EQ(view.icon, icon);
      tools::AnswerMessageBox(box, answer);
    }
    if (WaitForSingleObject(process.get(), kHangGuardMs) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "MarrowbankServer.exe did not end after the answer";
      TerminateProcess(process.get(), 1);
      return static_cast<DWORD>(-1);
    }
    EXPECT_EQ(tools::WaitForMessageBox(kService, 0), nullptr) << "a second box followed";
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
  }

  // Registers the stand-in service program under the service's name, holding `state`.
  static void StartStub(const char* state, DWORD expected) {
    DeleteFileA(Install("service_stub-controls.log").c_str());
    ResetEvent(gSuite->stubQuit.get());
    ResetEvent(gSuite->stubGo.get());
    ASSERT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    sys::UniqueServiceHandle service = OpenService(SERVICE_CHANGE_CONFIG | SERVICE_START);
    ASSERT_TRUE(service);
    const std::string path = "\"" + Install("service_stub.exe") + "\" " + state;
    ASSERT_TRUE(ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    SetEvent(gSuite->stubGo.get());
    ASSERT_TRUE(WaitForState(expected)) << "state " << QueryStatus().dwCurrentState;
  }

  static void EndStub() {
    SetEvent(gSuite->stubQuit.get());
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    ResetEvent(gSuite->stubQuit.get());
  }
};

TEST_F(SystemTest, RunByHandInstallsAndStartsTheService) {
  Fresh();
  if (HasFatalFailure()) return;
  ASSERT_EQ(QueryStatus().dwCurrentState, 0u) << "the service exists already";
  EXPECT_EQ(RunByHandToEnd(), 0u);
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING)) << "state " << QueryStatus().dwCurrentState;

  sys::UniqueServiceHandle service = OpenService(SERVICE_QUERY_CONFIG);
  ASSERT_TRUE(service);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                                  static_cast<DWORD>(buffer.size()), &needed));
  const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.data());
  EXPECT_EQ(config->dwServiceType, 0x110u);
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_STREQ(config->lpBinaryPathName, ("\"" + Install("MarrowbankServer.exe") + "\"").c_str());
  EXPECT_STREQ(config->lpServiceStartName, "LocalSystem");
  EXPECT_STREQ(config->lpDisplayName, kService);
  EXPECT_STREQ(config->lpLoadOrderGroup ? config->lpLoadOrderGroup : "", "");
  EXPECT_STREQ(config->lpDependencies ? config->lpDependencies : "", "");

  ASSERT_TRUE(QueryServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                                   static_cast<DWORD>(buffer.size()), &needed));
  const char* description = reinterpret_cast<const SERVICE_DESCRIPTIONA*>(buffer.data())->lpDescription;
  EXPECT_EQ(std::string(description ? description : ""), kDescription);

  const DWORD pid = QueryStatus().dwProcessId;
  const auto servers = tools::FindProcesses("MarrowbankServer.exe");
  EXPECT_NE(std::find(servers.begin(), servers.end(), pid), servers.end()) << "service process " << pid;

  // The event source names the installed executable, whose message table holds the texts.
  EXPECT_EQ(EventMessageFile(), Install("MarrowbankServer.exe"));
  HMODULE image = LoadLibraryExA(Install("MarrowbankServer.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  char text[512] = {};
  DWORD_PTR strings[] = {reinterpret_cast<DWORD_PTR>("1"), reinterpret_cast<DWORD_PTR>("0"),
                         reinterpret_cast<DWORD_PTR>("service")};
  EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, image, 0x40000064, 0x409,
                           text, sizeof text, reinterpret_cast<va_list*>(strings)),
            0u);
  FreeLibrary(image);
  EXPECT_STREQ(text,
               "The service started. Read from the mode file at start: PollSeconds=1, LaunchAtLogon=0, "
               "LaunchAs=service.\r\n");

  // The running service's start, read back from Wine's event-log channel.
  EXPECT_TRUE(WaitUntil([] { return HasEvent({"1", "0", "service"}); })) << "no start event among:" << PrintedEvents();
}

// The polling road end to end; the mode file (PollSeconds=1) is read from the folder whose name
// ends in a 0x5C second byte, and the program started is the one beside the executable.
TEST_F(SystemTest, PollingStartsTheDesktopProgramOnceInTheConsoleSession) {
  Running();
  if (HasFatalFailure()) return;
  const SERVICE_STATUS_PROCESS status = QueryStatus();
  ASSERT_TRUE(DesktopPrograms().empty());

  // Plug the device in.
  ASSERT_TRUE(WriteText(Install("t3fp-scenario.txt"), kScenario));
  const std::string startsLog = Install("Marrowbank-starts.log");
  ASSERT_TRUE(WaitUntil([&] { return !ReadText(startsLog).empty() && !DesktopPrograms().empty(); }))
      << "the desktop program did not start";
  tools::DebugLine line;
  EXPECT_TRUE(gSuite->debugOutput->WaitFor(kLaunchLine, status.dwProcessId, kHangGuardMs, &line))
      << "no \"CreateProcessAsUser OK!\" from the service's process " << status.dwProcessId;

  const std::vector<DWORD> programs = DesktopPrograms();
  ASSERT_EQ(programs.size(), 1u);
  const DWORD console = WTSGetActiveConsoleSessionId();
  EXPECT_EQ(tools::SessionOf(programs[0]), console);
  const std::string started = ReadText(startsLog);
  EXPECT_NE(started.find("pid=" + std::to_string(programs[0]) + " session=" + std::to_string(console) +
                         " cmdline=\"" + Install("Marrowbank.exe") + "\"\r\n"),
            std::string::npos)
      << started;
  const std::string callsLog = Install("t3fp-calls.log");
  EXPECT_NE(ReadText(callsLog).find("vsGetEncryptState"), std::string::npos);
  const std::vector<std::string> startEvent = {std::to_string(programs[0]), std::to_string(console),
                                               WineEscaped("\"" + Install("Marrowbank.exe") + "\"")};
  EXPECT_TRUE(WaitUntil([&] { return HasEvent(startEvent); })) << "no program-start event among:" << PrintedEvents();

  // The next two polls find it running and start nothing more.
  const size_t polls = CountOf(ReadText(callsLog), "vsRefreshDeviceList()");
  ASSERT_TRUE(WaitUntil([&] { return CountOf(ReadText(callsLog), "vsRefreshDeviceList()") >= polls + 2; }));
  EXPECT_EQ(CountOf(ReadText(startsLog), "\r\n"), 1u);
  EXPECT_EQ(DesktopPrograms().size(), 1u);
  size_t launches = 0;
  for (const tools::DebugLine& seen : gSuite->debugOutput->Lines()) {
    if (seen.pid == status.dwProcessId && seen.text == kLaunchLine) ++launches;
  }
  EXPECT_EQ(launches, 1u);
}

TEST_F(SystemTest, RunByHandWhileRunningDoesNothing) {
  Running();
  if (HasFatalFailure()) return;
  const SERVICE_STATUS_PROCESS before = QueryStatus();
  EXPECT_EQ(RunByHandToEnd(), 0u);
  const SERVICE_STATUS_PROCESS after = QueryStatus();
  EXPECT_EQ(after.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(after.dwProcessId, before.dwProcessId);
}

TEST_F(SystemTest, StopReachesStoppedAndTheProcessEnds) {
  Running();
  if (HasFatalFailure()) return;
  const SERVICE_STATUS_PROCESS status = QueryStatus();
  sys::UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId));
  ASSERT_TRUE(process);

  ASSERT_TRUE(SendStop()) << GetLastError();
  EXPECT_TRUE(WaitForState(SERVICE_STOPPED)) << "state " << QueryStatus().dwCurrentState;
  ASSERT_EQ(WaitForSingleObject(process.get(), kHangGuardMs), WAIT_OBJECT_0) << "the service process is still there";
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(QueryStatus().dwWin32ExitCode, 0u);
}

// An SDK call that does not return (here: for ten minutes) cannot hold up a stop: after its three
// seconds the service reports STOPPED with 0 (the stop was asked for, so recovery leaves it
// stopped), and its process ends with the forced-stop code 8 while the call is still blocked.
TEST_F(SystemTest, StopDuringAHungSdkCallIsForced) {
  Running();
  if (HasFatalFailure()) return;
  const SERVICE_STATUS_PROCESS status = QueryStatus();
  sys::UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId));
  ASSERT_TRUE(process);

  ASSERT_TRUE(WriteText(Install("t3fp-scenario.txt"), "block vsRefreshDeviceList 600000\r\n"));
  const std::string callsLog = Install("t3fp-calls.log");
  ASSERT_TRUE(WaitUntil([&] { return ReadText(callsLog).find("vsRefreshDeviceList blocks 600000 ms") != std::string::npos; }))
      << ReadText(callsLog);

  ASSERT_TRUE(SendStop()) << GetLastError();
  ASSERT_TRUE(WaitForState(SERVICE_STOPPED)) << "state " << QueryStatus().dwCurrentState;
  const SERVICE_STATUS_PROCESS stopped = QueryStatus();
  EXPECT_EQ(stopped.dwWin32ExitCode, 0u);
  EXPECT_EQ(stopped.dwServiceSpecificExitCode, 0u);
  ASSERT_EQ(WaitForSingleObject(process.get(), kHangGuardMs), WAIT_OBJECT_0) << "the service process is still there";
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 8u);
}

// A disk already present when the service starts, with a user at the console, polling off and
// LaunchAtLogon=1: the service accepts session changes and starts the program once at start, as
// that user (LaunchAs=user).
TEST_F(SystemTest, LaunchAtLogonStartsTheProgramForADiskAlreadyPresent) {
  InstalledAndStopped();
  if (HasFatalFailure()) return;
  for (DWORD pid : DesktopPrograms()) tools::KillProcess(pid);
  const std::string startsLog = Install("Marrowbank-starts.log");
  DeleteFileA(startsLog.c_str());
  ASSERT_TRUE(WriteText(Install("t3fp-scenario.txt"), kScenario));
  ASSERT_TRUE(WriteText(Install("language\\ModeConfig.ini"), "[Fields]\r\nLaunchAtLogon=1\r\nLaunchAs=user\r\n"));
  const size_t logFrom = ReadText(ServicesLog()).size();

  {
    sys::UniqueServiceHandle service = OpenService(SERVICE_START);
    ASSERT_TRUE(service);
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
  }
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING)) << "state " << QueryStatus().dwCurrentState;
  EXPECT_EQ(QueryStatus().dwControlsAccepted, 0x85u) << "stop, shutdown and session changes";
  ASSERT_TRUE(WaitUntil([&] { return !ReadText(startsLog).empty() && !DesktopPrograms().empty(); }))
      << "the desktop program did not start";
  const std::vector<DWORD> programs = DesktopPrograms();
  ASSERT_EQ(programs.size(), 1u);
  const DWORD console = WTSGetActiveConsoleSessionId();
  EXPECT_EQ(tools::SessionOf(programs[0]), console);
  EXPECT_TRUE(HasEvent({"0", "1", "user"}, logFrom)) << PrintedEvents(logFrom);
  EXPECT_TRUE(WaitUntil([&] {
    return HasEvent({std::to_string(programs[0]), std::to_string(console),
                     WineEscaped("\"" + Install("Marrowbank.exe") + "\"")},
                    logFrom);
  })) << PrintedEvents(logFrom);

  ASSERT_TRUE(SendStop());
  EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
  EXPECT_EQ(CountOf(ReadText(startsLog), "\r\n"), 1u) << "started once";
}

// Wine's reg.exe with `arguments`, as an administrator would run it; its exit code.
DWORD RunReg(const std::string& arguments) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  sys::UniqueHandle process = StartDetached(std::string(system) + "\\reg.exe", arguments);
  DWORD code = static_cast<DWORD>(-1);
  if (process && WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.get(), &code);
  }
  return code;
}

constexpr char kPolicyKeyPath[] = "HKLM\\SOFTWARE\\Policies\\Marrowbank\\MarrowbankServer";

// A policy written while the service runs takes effect without a restart: one information event names
// each change with its origin, polling starts and finds the disk, and the program starts, as the user.
TEST_F(SystemTest, APolicyWrittenWhileRunningTakesEffectWithoutARestart) {
  InstalledAndStopped();
  if (HasFatalFailure()) return;
  for (DWORD pid : DesktopPrograms()) tools::KillProcess(pid);
  const std::string startsLog = Install("Marrowbank-starts.log");
  DeleteFileA(startsLog.c_str());
  RunReg(std::string("delete ") + kPolicyKeyPath + " /f");
  ASSERT_TRUE(WriteText(Install("language\\ModeConfig.ini"), "[Fields]\r\nAutoBack=1\r\n"));
  ASSERT_TRUE(WriteText(Install("t3fp-scenario.txt"), kScenario));
  {
    sys::UniqueServiceHandle service = OpenService(SERVICE_START);
    ASSERT_TRUE(service);
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
  }
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING)) << "state " << QueryStatus().dwCurrentState;
  // No polling and no arrival (Wine delivers none): the disk plugged in starts nothing yet.
  EXPECT_TRUE(HasEvent({"0", "0", "service"})) << PrintedEvents();
  const size_t logFrom = ReadText(ServicesLog()).size();

  ASSERT_EQ(RunReg(std::string("add ") + kPolicyKeyPath + " /v LaunchAs /t REG_SZ /d user /f"), 0u);
  ASSERT_EQ(RunReg(std::string("add ") + kPolicyKeyPath + " /v PollSeconds /t REG_DWORD /d 1 /f"), 0u);
  const auto told = [&](const char* change) {
    for (const std::string& s : EventStrings(logFrom)) {
      if (s.find(change) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(WaitUntil([&] { return told("LaunchAs: service -> user (policy)"); })) << PrintedEvents(logFrom);
  EXPECT_TRUE(WaitUntil([&] { return told("PollSeconds: 0 -> 1 (policy)"); })) << PrintedEvents(logFrom);
  ASSERT_TRUE(WaitUntil([&] { return !ReadText(startsLog).empty() && !DesktopPrograms().empty(); }))
      << "the polling the policy switched on did not start the program";

  ASSERT_TRUE(SendStop());
  EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
  EXPECT_EQ(RunReg(std::string("delete ") + kPolicyKeyPath + " /f"), 0u);
}

TEST_F(SystemTest, RunByHandWhileStoppedStartsTheService) {
  InstalledAndStopped();
  if (HasFatalFailure()) return;
  EXPECT_EQ(RunByHandToEnd(), 0u);
  ASSERT_TRUE(WaitForState(SERVICE_RUNNING)) << "state " << QueryStatus().dwCurrentState;
  EXPECT_TRUE(tools::ProcessExists(QueryStatus().dwProcessId));
}

// In any state but start-pending, stopped and running the executable asks whether to stop the
// service. The stand-in service program holds the state and logs the controls it receives.
TEST_F(SystemTest, StopQuestionAnsweredNoAndYes) {
  struct Case {
    const char* name;
    DWORD state;
    bool stopReachesIt;  // the service manager refuses every control to a STOP_PENDING service
  } cases[] = {{"PAUSED", SERVICE_PAUSED, true}, {"STOP_PENDING", SERVICE_STOP_PENDING, false}};
  const std::vector<int> yesNo = {IDYES, IDNO};
  const std::string controls = Install("service_stub-controls.log");
  InstalledAndStopped();
  if (HasFatalFailure()) return;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartStub(c.name, c.state);
    if (HasFatalFailure()) return;

    EXPECT_EQ(RunByHandAnswering(kStopQuestion, yesNo, true, IDNO), 0u);
    EXPECT_EQ(QueryStatus().dwCurrentState, c.state);
    EXPECT_EQ(CountOf(ReadText(controls), kStopControlLine), 0u) << "No sent a stop";

    EXPECT_EQ(RunByHandAnswering(kStopQuestion, yesNo, true, IDYES), 0u);
    if (c.stopReachesIt) {
      EXPECT_TRUE(WaitUntil([&] { return CountOf(ReadText(controls), kStopControlLine) == 1; }))
          << "Yes sent no stop: " << ReadText(controls);
      EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    } else {
      EXPECT_EQ(QueryStatus().dwCurrentState, c.state);
    }
    EndStub();
  }
}

// A hand-run copy cannot connect to the dispatcher while another process holds the service
// START_PENDING: it shows the dispatcher's error code (Wine answers after its ~10 s pipe wait).
TEST_F(SystemTest, DispatcherErrorBoxWhileStartPending) {
  InstalledAndStopped();
  if (HasFatalFailure()) return;
  StartStub("START_PENDING", SERVICE_START_PENDING);
  if (HasFatalFailure()) return;
  EXPECT_EQ(RunByHandAnswering(kDispatcherError1063, {IDOK}, false, IDOK), 0u);
  EXPECT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EndStub();
}

// The administrator's switches from each state the service can be in. The states the real service
// never holds come from the stand-in service program.
TEST_F(SystemTest, SwitchesFromStatesTheServiceNeverHolds) {
  StartStub("PAUSED", SERVICE_PAUSED);
  if (HasFatalFailure()) return;
  EXPECT_EQ(RunSwitches("/status").code, static_cast<DWORD>(SERVICE_PAUSED));
  EXPECT_EQ(RunSwitches("/start").code, static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_EQ(RunSwitches("-STOP").code, 0u);
  EXPECT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));

  // A stop already under way takes no control: /stop waits for STOPPED, which the stub reports
  // when it is told to end.
  StartStub("STOP_PENDING", SERVICE_STOP_PENDING);
  if (HasFatalFailure()) return;
  EXPECT_EQ(RunSwitches("/status").code, static_cast<DWORD>(SERVICE_STOP_PENDING));
  SwitchRun stop{};
  std::thread stopper([&stop] { stop = RunSwitches("/stop"); });
  SetEvent(gSuite->stubQuit.get());
  stopper.join();
  EXPECT_EQ(stop.code, 0u) << stop.output;
  EXPECT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  ResetEvent(gSuite->stubQuit.get());

  // Starting, and accepting no stop yet: the service manager's refusal is the exit code (Windows
  // refuses with 1061, Wine with 1052).
  StartStub("START_PENDING", SERVICE_START_PENDING);
  if (HasFatalFailure()) return;
  EXPECT_EQ(RunSwitches("/status").code, static_cast<DWORD>(SERVICE_START_PENDING));
  ASSERT_FALSE(SendStop());
  const DWORD refusal = GetLastError();
  EXPECT_EQ(RunSwitches("/stop").code, refusal);
  EXPECT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EndStub();
}

// The service is still registered for the stand-in service program, as after a moved installation:
// /install registers this executable again, quoted, and starts it.
TEST_F(SystemTest, InstallSwitchReregistersThisExecutable) {
  ASSERT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  ASSERT_NE(RegisteredPath(), "\"" + Install("MarrowbankServer.exe") + "\"");
  {
    // The event source still names the old place too.
    sys::UniqueRegistryKey source;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              source.receive(), nullptr),
              ERROR_SUCCESS);
    const char old[] = "C:\\Elsewhere\\MarrowbankServer.exe";
    ASSERT_EQ(RegSetValueExA(source.get(), "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(old),
                             sizeof old),
              ERROR_SUCCESS);
  }
  const SwitchRun run = RunSwitches("/install");
  EXPECT_EQ(run.code, 0u);
  EXPECT_EQ(run.output, "MarrowbankServer is installed and RUNNING\r\n");
  EXPECT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(RegisteredPath(), "\"" + Install("MarrowbankServer.exe") + "\"");
  EXPECT_TRUE(InInstallDir(QueryStatus().dwProcessId));
  EXPECT_EQ(EventMessageFile(), Install("MarrowbankServer.exe"));
}

TEST_F(SystemTest, SwitchesFromRunningStoppedAndAbsent) {
  ASSERT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  const std::string path = "\"" + Install("MarrowbankServer.exe") + "\"";
  // The service's line, then the settings in force (StatusOutputTest shows those lines).
  const std::string status = RunSwitches("/status").output;
  EXPECT_EQ(status.rfind("MarrowbankServer is RUNNING (4); image path " + path + "\r\n  AutoBack = ", 0), 0u) << status;
  constexpr DWORD kAbsent = 0;
  struct Step {
    const char* arguments;
    DWORD code;
    DWORD stateAfter;
  } steps[] = {
      {"/status", SERVICE_RUNNING, SERVICE_RUNNING},
      {"/start", 0, SERVICE_RUNNING},
      {"/install", 0, SERVICE_RUNNING},
      {"/bogus", ERROR_INVALID_PARAMETER, SERVICE_RUNNING},
      {"/stop", 0, SERVICE_STOPPED},
      {"/status", SERVICE_STOPPED, SERVICE_STOPPED},
      {"/stop", 0, SERVICE_STOPPED},
      {"/start", 0, SERVICE_RUNNING},
      {"/uninstall", 0, kAbsent},
      {"/status", ERROR_SERVICE_DOES_NOT_EXIST, kAbsent},
      {"/start", ERROR_SERVICE_DOES_NOT_EXIST, kAbsent},
      {"/stop", ERROR_SERVICE_DOES_NOT_EXIST, kAbsent},
      {"/uninstall", 0, kAbsent},
      {"/uninstall /install", ERROR_INVALID_PARAMETER, kAbsent},
      {"/remove", ERROR_INVALID_PARAMETER, kAbsent},
      {"-Install", 0, SERVICE_RUNNING},
  };
  DWORD pid = QueryStatus().dwProcessId;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.arguments);
    const bool wasRunning = QueryStatus().dwCurrentState == SERVICE_RUNNING;
    const SwitchRun run = RunSwitches(step.arguments);
    EXPECT_EQ(run.code, step.code) << run.output;
    const SERVICE_STATUS_PROCESS after = QueryStatus();
    EXPECT_EQ(after.dwCurrentState, step.stateAfter);
    // The event source comes and goes with the service.
    EXPECT_EQ(EventMessageFile(), step.stateAfter == kAbsent ? "" : Install("MarrowbankServer.exe"));
    // Nothing restarts a service that was running and stays so.
    if (wasRunning && step.stateAfter == SERVICE_RUNNING) {
      EXPECT_EQ(after.dwProcessId, pid);
    }
    if (step.stateAfter == SERVICE_STOPPED || step.stateAfter == kAbsent) {
      EXPECT_TRUE(tools::WaitProcessGone(pid, INFINITE));
    }
    pid = after.dwProcessId;
  }
  EXPECT_EQ(RegisteredPath(), path);
}

// /selftest on the installation Wine's service manager runs, then on one broken on purpose: an
// unquoted image path, a mode file with a byte-order mark, a maker's DLL that is no program. Wine's own
// answers show too: the failure actions cannot be read back (124), every file can be changed by the
// Unix user's account, nothing is signed. The start's warning (303) names the folder.
TEST_F(SystemTest, SelfTestReportsTheInstallationLineByLine) {
  ASSERT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  const std::string exe = Install("MarrowbankServer.exe");
  std::string folder = Install("");
  folder.pop_back();
  const std::vector<std::string> strings = EventStrings();
  bool named = false;
  for (size_t i = 0; i + 2 < strings.size(); ++i) {
    named = named || (strings[i] == WineEscaped(folder) && strings[i + 2] == WineEscaped(folder));
  }
  EXPECT_TRUE(named) << "no folder warning among:" << PrintedEvents();

  const auto has = [](const SwitchRun& run, const std::string& line) {
    return run.output.find(line) != std::string::npos;
  };
  const SwitchRun healthy = RunSwitches("/selftest");
  EXPECT_EQ(healthy.code, 1u) << healthy.output;
  EXPECT_TRUE(has(healthy, "OK   registration MarrowbankServer: image path \"" + exe +
                               "\" (this executable); automatic start; account LocalSystem; error control normal.\r\n"))
      << healthy.output;
  EXPECT_TRUE(has(healthy, "WARN failure_actions MarrowbankServer: the failure actions cannot be read: error 124"))
      << healthy.output;
  EXPECT_TRUE(has(healthy, "OK   event_source MarrowbankServer: its message file is this executable.\r\n"));
  EXPECT_TRUE(has(healthy, "WARN permissions " + folder + ": can be changed by ")) << healthy.output;
  EXPECT_TRUE(has(healthy, "WARN signature " + exe + ": not signed (0x800B0100)")) << healthy.output;
  for (const char* line : {"OK   sdk ", "OK   bridge ", "OK   mode_file ", "OK   console_user ", "OK   program "}) {
    EXPECT_TRUE(has(healthy, line)) << line << " in " << healthy.output;
  }
  EXPECT_FALSE(has(healthy, "FAIL ")) << healthy.output;

  ASSERT_TRUE(SendStop());
  ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
  {
    sys::UniqueServiceHandle service = OpenService(SERVICE_CHANGE_CONFIG);
    ASSERT_TRUE(service);
    ASSERT_TRUE(ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     exe.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  ASSERT_TRUE(WriteText(Install("language\\ModeConfig.ini"), "\xEF\xBB\xBF" + std::string(kModeConfig)));
  const std::string bridge = Install("JMUsbDll.dll"), aside = Install("JMUsbDll.dll.aside");
  ASSERT_TRUE(MoveFileA(bridge.c_str(), aside.c_str()));
  ASSERT_TRUE(WriteText(bridge, "not a program"));
  const SwitchRun broken = RunSwitches("/selftest");
  const SwitchRun json = RunSwitches("/selftest /json");
  DeleteFileA(bridge.c_str());
  ASSERT_TRUE(MoveFileA(aside.c_str(), bridge.c_str()));
  ASSERT_TRUE(WriteText(Install("language\\ModeConfig.ini"), kModeConfig));

  EXPECT_EQ(broken.code, 2u) << broken.output;
  EXPECT_TRUE(has(broken, "WARN registration MarrowbankServer: image path " + exe + " is not in double quotes"))
      << broken.output;
  EXPECT_TRUE(has(broken, "WARN mode_file " + Install("language\\ModeConfig.ini") + ": it begins with a UTF-8 "
                          "byte-order mark")) << broken.output;
  EXPECT_TRUE(has(broken, "FAIL bridge " + bridge + ": does not load")) << broken.output;
  EXPECT_TRUE(has(broken, "error 193")) << broken.output;
  EXPECT_TRUE(has(broken, "WARN signature " + bridge + ": not a file that can carry a signature (0x800B0003)"))
      << broken.output;
  EXPECT_EQ(json.code, 2u);
  EXPECT_EQ(json.output.rfind("{\"service\":\"MarrowbankServer\",\"exit_code\":2,\"checks\":[{\"check\":"
                              "\"registration\"", 0), 0u) << json.output;
  // ASCII only: the folder's Chinese characters come as \u escapes.
  EXPECT_TRUE(std::all_of(json.output.begin(), json.output.end(), [](char c) { return (c & 0x80) == 0; }));
  EXPECT_NE(json.output.find("\\u"), std::string::npos);

  // /install puts the quoted path back and starts the service again.
  EXPECT_EQ(RunSwitches("/install").code, 0u);
  EXPECT_EQ(RegisteredPath(), "\"" + exe + "\"");
  EXPECT_EQ(QueryStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
