// What a run obtained and released through the platform-call table: kernel handles (events, threads,
// snapshots, tokens, the started program's process and thread), service-manager handles, environment
// blocks, libraries, thread timers, registry keys and change notifications, and how many programs it
// started.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fault {

// Installs observers on the countdown's rows (call once a Countdown exists).
void WatchAcquisitionsAndReleases();

// Forgets everything seen so far.
void ClearLedger();

// What is still held, and every release of something that was not held (a double close), one
// readable line each; empty when the run was clean.
std::vector<std::string> LedgerProblems();

// Releases what is still held, as the process's end would, and forgets it.
void ReleaseHeld();

// The processes started (CreateProcessAsUserA calls that succeeded), by process id.
std::vector<DWORD> ProgramsStarted();

}  // namespace fault
