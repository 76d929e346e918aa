// The last step of both launchers: creating the desktop program's process under a token they made.
#pragma once

#include <windows.h>

#include "platform/handles.h"

// What WTSGetActiveConsoleSessionId answers while no session is attached to the console (during a
// session switch, for one). Nobody is there to start the program for: both launchers start nothing
// and report nothing, and the next arrival or timer check tries again.
constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;

// Starts `commandLine` under `token` with `environment`, on "winsta0\default", with flags 0x430, in
// the folder of the program it names (ProgramFolderOf; none when it names no folder), and
// writes "CreateProcessAsUser OK!\r\n" or "CreateProcessAsUser FAILD!\r\n" to the debug output. The
// start is reported as an event (process id, `sessionId`, command line), a failure as one too. The
// new process's handles go to `process`, whose owner closes them.
bool CreateDesktopProcess(HANDLE token, DWORD sessionId, char* commandLine, void* environment,
                          sys::UniqueProcessInformation& process);

// Reports that `step` failed, with the calling thread's last error; returns false.
bool LaunchStepFailed(const char* step);

// Launch problems are reported once for a run of the same problem: the polling road tries a failed
// launch again every period, and the event log must not fill with copies. A successful start ends
// the run. `ReportLaunchProblem` reports a failed step (or, with `step` null, nobody at the console
// in `code`'s session) unless it is the problem reported last.
void ReportLaunchProblem(const char* step, DWORD code);
// The same for a launch with the service's token held back until a user logs on at the console of
// session `sessionId`.
void ReportLaunchHeldForLogon(DWORD sessionId);
