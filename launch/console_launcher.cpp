#include "launch/console_launcher.h"

#include <windows.h>
#include <tlhelp32.h>
#include <userenv.h>


#include "platform/handles.h"
#include "platform/syscalls.h"

static_assert(sizeof(PROCESSENTRY32) == 296, "the 8-bit process entry");
static_assert(sizeof(STARTUPINFOA) == 68, "the 8-bit start-up record");

namespace {
constexpr DWORD kCreationFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;
static_assert(kCreationFlags == 0x430, "creation flags");
}  // namespace

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
    if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.szExeFile, -1, "Marrowbank.exe", -1) ==
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

  if (!sys::calls().OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, processToken.receive())) {
    return false;
  }
  if (!sys::calls().DuplicateTokenEx(processToken.get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification,
                                     TokenPrimary, newToken.receive())) {
    return false;
  }
  DWORD sessionId = sys::calls().WTSGetActiveConsoleSessionId();
  if (!sys::calls().SetTokenInformation(newToken.get(), TokenSessionId, &sessionId, sizeof sessionId)) {
    return false;
  }

  char desktop[] = "winsta0\\default";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;

  if (!sys::calls().CreateEnvironmentBlock(environment.receive(), newToken.get(), FALSE)) return false;

  const BOOL created =
      sys::calls().CreateProcessAsUserA(newToken.get(), nullptr, commandLine, nullptr, nullptr, FALSE,
                                        kCreationFlags, environment.get(), nullptr, &startup, process.receive());
  sys::calls().OutputDebugStringA(created ? "CreateProcessAsUser OK!\r\n" : "CreateProcessAsUser FAILD!\r\n");
  return created != FALSE;
}
