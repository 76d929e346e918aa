// Starting the desktop program as the user at the console, with that user's own rights.
#pragma once

// Starts `commandLine` with the console user's token (WTSQueryUserToken), that user's environment,
// in the active console session, on "winsta0\default". When no user is logged on there, starts
// nothing and reports it as a warning event; with no session at the console at all, starts nothing
// and reports nothing. True when the process was created; keeps no handle.
bool LaunchAsConsoleUser(char* commandLine);

// True when a user is logged on at the active console session: that session has a user token.
bool IsUserLoggedOnAtConsole();
