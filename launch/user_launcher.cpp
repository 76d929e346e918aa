#include "launch/user_launcher.h"

#include <windows.h>

#include "launch/desktop_process.h"
#include "launch/launch_events.h"
#include "platform/handles.h"

// The user's profile is not loaded here: a user who is logged on at the console has it loaded by the
// logon itself, so the program sees its own registry hive and folders. Loading it again would only
// add a reference that this service, which keeps no handle of the program, could not drop at the
// right time.
bool LaunchAsConsoleUser(char* commandLine) {
  if (commandLine == nullptr) return false;

  // Released last-declared first: the user's token, the environment block, then the new process's
  // own handles, which this service never keeps.
  sys::UniqueProcessInformation process;
  sys::UniqueEnvironmentBlock environment;
  sys::UniqueHandle userToken;

  const DWORD sessionId = sys::calls().WTSGetActiveConsoleSessionId();
  if (sessionId == kNoConsoleSession) return false;
  if (!sys::calls().WTSQueryUserToken(sessionId, userToken.receive())) {
    const DWORD error = ::GetLastError();
    // No token for the session: nobody is logged on there.
    if (error == ERROR_NO_TOKEN) {
      ReportLaunchProblem(nullptr, sessionId);
    } else {
      ReportLaunchProblem("WTSQueryUserToken", error);
    }
    return false;
  }
  if (!sys::calls().CreateEnvironmentBlock(environment.receive(), userToken.get(), FALSE)) {
    return LaunchStepFailed("CreateEnvironmentBlock");
  }
  return CreateDesktopProcess(userToken.get(), sessionId, commandLine, environment.get(), process);
}

bool IsUserLoggedOnAtConsole() {
  const DWORD sessionId = sys::calls().WTSGetActiveConsoleSessionId();
  if (sessionId == kNoConsoleSession) return false;
  sys::UniqueHandle userToken;
  return sys::calls().WTSQueryUserToken(sessionId, userToken.receive()) != FALSE;
}
