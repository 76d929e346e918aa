#include "launch/console_launcher.h"

#include <windows.h>
#include <tlhelp32.h>
#include <userenv.h>


#include <atomic>

#include "launch/command_line.h"
#include "launch/desktop_process.h"
#include "launch/launch_events.h"
#include "platform/handles.h"
#include "platform/syscalls.h"

namespace {

// Written by the launch (the worker thread), read by the service's handler as well.
std::atomic<bool> g_awaitingLogon{false};

}  // namespace

bool AwaitingConsoleLogon() { return g_awaitingLogon; }

void EndConsoleLogonWait() { g_awaitingLogon = false; }

static_assert(sizeof(PROCESSENTRY32) == (sizeof(void*) == 4 ? 296 : 304), "the 8-bit process entry");

bool IsDesktopAppRunning() {
  // A process list that cannot be read counts as "running": not knowing must not start a second copy.
  sys::UniqueHandle snapshot(sys::calls().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return true;

  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  // The list holds this process at least, so its first entry cannot be missing.
  if (!sys::calls().Process32First(snapshot.get(), &entry)) return true;
  do {
    // The file name alone, without regard to letter case, as the file system names files: a copy
    // started as "MARROWBANK.EXE" is the same program. The invariant locale compares in the ANSI code
    // page without the linguistic rules of whichever user the service runs as (lstrcmpiA would use
    // them).
    if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.szExeFile, -1, kDesktopAppFileName, -1) ==
        CSTR_EQUAL) {
      return true;
    }
  } while (sys::calls().Process32Next(snapshot.get(), &entry));
  // Only the list's real end says that the program is not running.
  return ::GetLastError() != ERROR_NO_MORE_FILES;
}

bool LaunchInConsoleSession(char* commandLine) {
  if (commandLine == nullptr) return false;

  // Released last-declared first: new token, process token, environment block, then the new
  // process's own handles, which this service never keeps.
  sys::UniqueProcessInformation process;
  sys::UniqueEnvironmentBlock environment;
  sys::UniqueHandle processToken;
  sys::UniqueHandle newToken;

  // Asked first: with no session at the console there is no token to make.
  DWORD sessionId = sys::calls().WTSGetActiveConsoleSessionId();
  if (sessionId == kNoConsoleSession) return false;
  {
    // Is anybody logged on there? The token itself is not used.
    sys::UniqueHandle userToken;
    if (!sys::calls().WTSQueryUserToken(sessionId, userToken.receive())) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_NO_TOKEN) {
        g_awaitingLogon = true;
        ReportLaunchHeldForLogon(sessionId);
        return false;
      }
      // Not knowing whether anybody is there must not put a LocalSystem window on the logon screen.
      ReportLaunchProblem("WTSQueryUserToken", error);
      return false;
    }
  }
  g_awaitingLogon = false;
  if (!sys::calls().OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, processToken.receive())) {
    return LaunchStepFailed("OpenProcessToken");
  }
  if (!sys::calls().DuplicateTokenEx(processToken.get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification,
                                     TokenPrimary, newToken.receive())) {
    return LaunchStepFailed("DuplicateTokenEx");
  }
  if (!sys::calls().SetTokenInformation(newToken.get(), TokenSessionId, &sessionId, sizeof sessionId)) {
    return LaunchStepFailed("SetTokenInformation");
  }
  if (!sys::calls().CreateEnvironmentBlock(environment.receive(), newToken.get(), FALSE)) {
    return LaunchStepFailed("CreateEnvironmentBlock");
  }
  return CreateDesktopProcess(newToken.get(), sessionId, commandLine, environment.get(), process);
}
