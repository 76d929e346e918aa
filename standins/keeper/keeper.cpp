// An idle Windows process. Wine ends service processes once the last ordinary process of the prefix
// has gone, so whoever drives a service from outside keeps one of these alive for as long as the
// service should live, and ends it by its process id.
//
//   keeper.exe [SECONDS]
//
// Sleeps until it is killed, or at most SECONDS when given: a forgotten keeper still goes away.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  const long seconds = std::strtol(commandLine, nullptr, 10);
  Sleep(seconds > 0 ? static_cast<DWORD>(seconds) * 1000 : INFINITE);
  return 0;
}
