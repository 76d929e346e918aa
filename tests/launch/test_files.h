// The mode file beside the test binary and running copies of the stand-in desktop program.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/test_support.h"

namespace launch_test {

// "language\ModeConfig.ini" beside the binary: written with the given text, or removed for nullptr.
inline void SetModeFile(const char* text) {
  const std::string directory = test_support::OwnDirectory() + "language";
  const std::string file = directory + "\\ModeConfig.ini";
  if (text == nullptr) {
    ::DeleteFileA(file.c_str());
    return;
  }
  ::CreateDirectoryA(directory.c_str(), nullptr);
  test_support::WriteText(file, text);
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

}  // namespace launch_test
