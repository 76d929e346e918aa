// The last step of both launchers: creating the desktop program's process under a token they made.
#pragma once

#include <windows.h>

#include "platform/handles.h"

// Starts `commandLine` under `token` with `environment`, on "winsta0\default", with flags 0x430, and
// writes "CreateProcessAsUser OK!\r\n" or "CreateProcessAsUser FAILD!\r\n" to the debug output. The
// start is reported as an event (process id, `sessionId`, command line), a failure as one too. The
// new process's handles go to `process`, whose owner closes them.
bool CreateDesktopProcess(HANDLE token, DWORD sessionId, char* commandLine, void* environment,
                          sys::UniqueProcessInformation& process);

// Reports that `step` failed, with the calling thread's last error; returns false.
bool LaunchStepFailed(const char* step);
