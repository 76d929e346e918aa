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
