// Starting the desktop program where the user at the console sees it.
#pragma once

// True when a process whose file name is "Marrowbank.exe", in any letter case, exists, and when the
// process list cannot be read to its end (so that a failure never starts a second copy).
bool IsDesktopAppRunning();

// Starts `commandLine` under a duplicate of this process's token moved to the active console
// session, on "winsta0\default". True when the process was created; keeps no handle of it. The start,
// or the step that failed, is reported as an event. With no session at the console, starts nothing
// and reports nothing. With nobody logged on in that session (WTSQueryUserToken: ERROR_NO_TOKEN),
// starts nothing, reports it as a warning event, and waits for a console logon (below): a LocalSystem
// program on the logon screen would be the next user's to find, file dialogs and all. The user's
// token only tells that someone is there; the program still gets the service's own.
bool LaunchInConsoleSession(char* commandLine);

// True while a launch with the service's token waits for a user to log on at the console, since one
// was held back for nobody being there. The arrival decision for a logon (OnConsoleLogon) ends the
// wait, whatever it finds; so does a launch that finds a user there.
bool AwaitingConsoleLogon();
void EndConsoleLogonWait();
