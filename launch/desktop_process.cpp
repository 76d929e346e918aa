#include "launch/desktop_process.h"

#include <mutex>
#include <string>

#include "platform/event_log.h"

static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104), "the 8-bit start-up record");

namespace {
constexpr DWORD kCreationFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;
static_assert(kCreationFlags == 0x430, "creation flags");

std::mutex g_lastProblemLock;
std::string g_lastProblem;  // "<step> <code>"; empty after a start. Guarded by g_lastProblemLock.

}  // namespace

void ReportLaunchProblem(const char* step, DWORD code) {
  {
    const std::string problem = std::string(step != nullptr ? step : "(no console user)") + " " + std::to_string(code);
    std::lock_guard<std::mutex> lock(g_lastProblemLock);
    if (problem == g_lastProblem) return;
    g_lastProblem = problem;
  }
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

  const BOOL created = sys::calls().CreateProcessAsUserA(token, nullptr, commandLine, nullptr, nullptr, FALSE,
                                                         kCreationFlags, environment, nullptr, &startup,
                                                         process.receive());
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
