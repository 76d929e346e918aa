#include "launch/desktop_process.h"

#include <mutex>
#include <string>

#include "launch/command_line.h"
#include "platform/event_log.h"

static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104), "the 8-bit start-up record");

namespace {
constexpr DWORD kCreationFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;
static_assert(kCreationFlags == 0x430, "creation flags");

std::mutex g_lastProblemLock;
std::string g_lastProblem;  // "<step> <code>"; empty after a start. Guarded by g_lastProblemLock.

// True for a problem other than the one reported last, which it becomes.
bool IsNewProblem(const char* what, DWORD code) {
  const std::string problem = std::string(what) + " " + std::to_string(code);
  std::lock_guard<std::mutex> lock(g_lastProblemLock);
  if (problem == g_lastProblem) return false;
  g_lastProblem = problem;
  return true;
}

}  // namespace

void ReportLaunchHeldForLogon(DWORD sessionId) {
  if (IsNewProblem("(held for a console logon)", sessionId)) ReportLaunchWaitsForLogon(sessionId);
}

void ReportLaunchProblem(const char* step, DWORD code) {
  if (!IsNewProblem(step != nullptr ? step : "(no console user)", code)) return;
  if (step != nullptr) {
    ReportProgramFailed(step, code);
  } else {
    ReportNoConsoleUser(code);
  }
}

bool LaunchStepFailed(const char* step) {
  ReportLaunchProblem(step, ::GetLastError());
  return false;
}

bool CreateDesktopProcess(HANDLE token, DWORD sessionId, char* commandLine, void* environment,
                          sys::UniqueProcessInformation& process) {
  char desktop[] = "winsta0\\default";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;

  // The program starts in its own folder, as when a user starts it from there; without one it would
  // start in the service's (System32), and a relative path of its own would name another file.
  char folder[kCommandLineBufferSize];
  const bool inFolder = ProgramFolderOf(commandLine, folder);
  const BOOL created = sys::calls().CreateProcessAsUserA(token, nullptr, commandLine, nullptr, nullptr, FALSE,
                                                         kCreationFlags, environment, inFolder ? folder : nullptr,
                                                         &startup, process.receive());
  const DWORD error = ::GetLastError();
  sys::calls().OutputDebugStringA(created ? "CreateProcessAsUser OK!\r\n" : "CreateProcessAsUser FAILD!\r\n");
  if (!created) {
    ReportLaunchProblem("CreateProcessAsUserA", error);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_lastProblemLock);
    g_lastProblem.clear();
  }
  ReportProgramStarted(process.get().dwProcessId, sessionId, commandLine);
  return true;
}
