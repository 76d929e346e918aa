// Files beside the test binary: the directory the code under test derives its paths from.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace launch_test {

// This test binary's directory, with its trailing backslash.
inline std::string OwnDirectory() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (char* separator = std::strrchr(path, '\\')) separator[1] = '\0';
  return path;
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// "language\ModeConfig.ini" beside the binary: written with the given text, or removed for nullptr.
inline void SetModeFile(const char* text) {
  const std::string directory = OwnDirectory() + "language";
  const std::string file = directory + "\\ModeConfig.ini";
  if (text == nullptr) {
    ::DeleteFileA(file.c_str());
    return;
  }
  ::CreateDirectoryA(directory.c_str(), nullptr);
  WriteText(file, text);
}

// A running copy of the stand-in desktop program, ended when the object goes.
class StandIn {
 public:
  explicit StandIn(const std::string& exePath, const std::string& arguments = std::string()) {
    std::string commandLine = "\"" + exePath + "\"" + (arguments.empty() ? "" : " " + arguments);
    // No standard handles: a child holding the test runner's output pipe would hold up the run.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    started_ = ::CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &info_) != FALSE;
  }
  ~StandIn() {
    if (!started_) return;
    ::TerminateProcess(info_.hProcess, 0);
    ::WaitForSingleObject(info_.hProcess, 10000);
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  bool started() const { return started_; }
  DWORD id() const { return info_.dwProcessId; }
  bool Ended(DWORD ms) const { return ::WaitForSingleObject(info_.hProcess, ms) == WAIT_OBJECT_0; }

 private:
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

// Ends every process of the stand-in that a launch under test started (by file name, via the log
// of its starts: each line begins "pid=<id> ").
inline void EndLoggedStandIns(const std::string& log) {
  std::istringstream lines(ReadText(log));
  std::string line;
  while (std::getline(lines, line)) {
    unsigned long pid = 0;
    if (std::sscanf(line.c_str(), "pid=%lu", &pid) != 1) continue;
    if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
      ::TerminateProcess(process, 0);
      ::WaitForSingleObject(process, 10000);
      ::CloseHandle(process);
    }
  }
}

}  // namespace launch_test
