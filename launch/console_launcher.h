// Starting the desktop program where the user at the console sees it.
#pragma once

// True when a process whose file name is "Marrowbank.exe", in any letter case, exists, and when the
// process list cannot be read to its end (so that a failure never starts a second copy).
bool IsDesktopAppRunning();

// Starts `commandLine` under a duplicate of this process's token moved to the active console
// session, on "winsta0\default". True when the process was created; keeps no handle of it. The start,
// or the step that failed, is reported as an event. With no session at the console, starts nothing
// and reports nothing.
bool LaunchInConsoleSession(char* commandLine);
