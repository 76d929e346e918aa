#include "launch/desktop_process.h"

#include "platform/event_log.h"

static_assert(sizeof(STARTUPINFOA) == 68, "the 8-bit start-up record");

namespace {
constexpr DWORD kCreationFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;
static_assert(kCreationFlags == 0x430, "creation flags");
}  // namespace

bool LaunchStepFailed(const char* step) {
  ReportProgramFailed(step, ::GetLastError());
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
    ReportProgramFailed("CreateProcessAsUserA", error);
    return false;
  }
  ReportProgramStarted(process.get().dwProcessId, sessionId, commandLine);
  return true;
}
