// The launch layer's events: the desktop program's starts and failures, and the mode file's warnings.
// Launch problems are reported once for a run of the same problem: the polling road tries a failed
// launch again every period, and the event log must not fill with copies. A successful start ends
// the run.
#pragma once

#include <windows.h>

// ERROR_ELEVATION_REQUIRED, which MinGW-w64's headers do not define.
inline constexpr DWORD kErrorElevationRequired = 740;
inline constexpr char kElevationRequiredText[] =
    "The program's manifest asks for administrator rights, which a program started with the console "
    "user's token (LaunchAs=user) cannot have. Set LaunchAs=service, or give the program a manifest with "
    "the level asInvoker.";

// A start, which also ends a run of problems.
void ReportProgramStarted(DWORD processId, DWORD sessionId, const char* commandLine);

// Reports a failed step (or, with `step` null, nobody at the console in `code`'s session) unless it
// is the problem reported last. 740 (ERROR_ELEVATION_REQUIRED) carries a text of its own that names
// the cause and the remedy.
void ReportLaunchProblem(const char* step, DWORD code);
// The same for a launch with the service's token held back until a user logs on at the console of
// session `sessionId`.
void ReportLaunchHeldForLogon(DWORD sessionId);
// Reports that `step` failed, with the calling thread's last error; returns false.
bool LaunchStepFailed(const char* step);

void ReportProgramNeedsElevation(const char* path, const char* level);

void ReportModeFileUnreadable(const char* path, DWORD error);
// `consequence` says what the service does with the key instead.
void ReportModeValueRejected(const char* path, const char* key, const char* value, const char* consequence);
// `mark` names the byte-order mark, `consequence` says what it does to the reading.
void ReportModeFileMarked(const char* path, const char* mark, const char* consequence);
// `key` names the policy key in full; `consequence` says what the service does with the setting instead.
void ReportPolicyValueRejected(const char* key, const char* name, const char* value, const char* consequence);
void ReportPolicyKeyUnreadable(const char* key, DWORD error);
