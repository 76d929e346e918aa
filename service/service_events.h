// The service layer's events: its start, its stop, a failed start-up step, a forced stop, and a
// folder that accounts other than the administrators' can change.
#pragma once

#include <windows.h>

void ReportServiceStarted(unsigned pollSeconds, bool launchAtLogon, bool launchAsUser);
void ReportServiceStopped(DWORD win32ExitCode, DWORD serviceSpecificExitCode);
// `step` says what failed and what to check; the codes are those of the STOPPED report.
void ReportStartStepFailed(const char* step, DWORD win32ExitCode, DWORD serviceSpecificExitCode);
// A stop that was asked for had to end the process: `exitCode` is the process's.
void ReportStopForced(DWORD exitCode);
// `path` (in `folder`, or the folder itself) can be changed by `account`, which is none of SYSTEM,
// Administrators and TrustedInstaller.
void ReportFolderWritable(const char* path, const char* account, const char* folder);
// `changes` lists each changed setting: "PollSeconds: 0 -> 30 (policy)", separated by "; ".
void ReportSettingsChanged(const char* changes);
// The change watch could not be armed: `step` failed with `error`; the settings are read at start only.
void ReportSettingsNotWatched(const char* step, DWORD error);
