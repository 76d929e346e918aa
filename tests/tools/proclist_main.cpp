// proclist.exe: lists processes as "pid parent session name".
//   proclist [NAME]
// With NAME only the processes of that file name (any case); exit code 1 when there is none.
#include <windows.h>

#include <cstdio>

#include "tests/tools/processes.h"

int main(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : nullptr;
  int shown = 0;
  for (const tools::ProcessEntry& p : tools::ListProcesses()) {
    if (name && _stricmp(p.exe.c_str(), name) != 0) continue;
    std::printf("%lu %lu %ld %s\n", static_cast<unsigned long>(p.pid), static_cast<unsigned long>(p.parentPid),
                static_cast<long>(tools::SessionOf(p.pid)), p.exe.c_str());
    ++shown;
  }
  return name && shown == 0 ? 1 : 0;
}
