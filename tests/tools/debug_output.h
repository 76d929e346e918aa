// Reads what processes write with OutputDebugStringA, the way debugging tools do: this process owns
// the "DBWIN_BUFFER" mapping and the "DBWIN_BUFFER_READY" / "DBWIN_DATA_READY" events; a writer
// waits for BUFFER_READY, puts its process id and the text into the buffer and signals DATA_READY.
// Only one reader can own the buffer at a time.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tools {

struct DebugLine {
  DWORD pid;
  std::string text;  // as written, line ends included
};

class DebugOutputCapture {
 public:
  // Starts listening at once; valid() is false when another reader owns the buffer.
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  bool valid() const { return view_ != nullptr; }
  std::vector<DebugLine> Lines() const;
  // Waits until a line with exactly `text` has been seen (from `pid`, unless it is 0); the lines
  // seen before the call count too.
  bool WaitFor(const std::string& text, DWORD pid, DWORD timeoutMs, DebugLine* found = nullptr);

 private:
  void Run();

  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  HANDLE mapping_ = nullptr;
  const char* view_ = nullptr;
  HANDLE stop_ = nullptr;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<DebugLine> lines_;
};

}  // namespace tools
