#include "launch/desktop_process.h"

#include "launch/command_line.h"
#include "launch/launch_events.h"

static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104), "the 8-bit start-up record");

namespace {

constexpr DWORD kCreationFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;
static_assert(kCreationFlags == 0x430, "creation flags");

}  // namespace

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
  ReportProgramStarted(process.get().dwProcessId, sessionId, commandLine);
  return true;
}
