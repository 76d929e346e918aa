// dbwin.exe: prints the debug output of every process, one line each: "[pid] text", with CR and LF
// of the text shown as \r and \n.
//   dbwin [--seconds N] [--until TEXT] [--pid PID]
// Listens N seconds (default 60); with --until it ends as soon as a line containing TEXT is seen
// (from PID, when given). Exit code 0 when done (or TEXT seen), 1 when TEXT was not seen in time,
// 2 when another reader owns the debug-output buffer, 3 for bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/tools/debug_output.h"

namespace {

std::string Shown(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  long seconds = 60;
  const char* until = nullptr;
  DWORD pid = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::strtol(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--until") && i + 1 < argc) until = argv[++i];
    else if (!std::strcmp(argv[i], "--pid") && i + 1 < argc) pid = std::strtoul(argv[++i], nullptr, 10);
    else {
      std::fprintf(stderr, "usage: dbwin [--seconds N] [--until TEXT] [--pid PID]\n");
      return 3;
    }
  }
  tools::DebugOutputCapture capture;
  if (!capture.valid()) {
    std::fprintf(stderr, "dbwin: another reader owns the debug-output buffer\n");
    return 2;
  }
  const DWORD start = GetTickCount();
  size_t printed = 0;
  for (;;) {
    const auto lines = capture.Lines();
    for (; printed < lines.size(); ++printed) {
      const tools::DebugLine& line = lines[printed];
      std::printf("[%lu] %s\n", static_cast<unsigned long>(line.pid), Shown(line.text).c_str());
      std::fflush(stdout);
      if (until && line.text.find(until) != std::string::npos && (pid == 0 || line.pid == pid)) return 0;
    }
    if (GetTickCount() - start >= static_cast<DWORD>(seconds) * 1000) return until ? 1 : 0;
    Sleep(50);
  }
}
