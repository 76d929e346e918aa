#include "tests/tools/debug_output.h"

#include <chrono>
#include <cstring>

namespace tools {

namespace {
constexpr DWORD kBufferSize = 4096;
}

DebugOutputCapture::DebugOutputCapture() {
  bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
  const bool taken = bufferReady_ && GetLastError() == ERROR_ALREADY_EXISTS;
  dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
  mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, "DBWIN_BUFFER");
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (taken || !bufferReady_ || !dataReady_ || !mapping_ || !stop_) return;
  view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
  if (view_) reader_ = std::thread([this] { Run(); });
}

DebugOutputCapture::~DebugOutputCapture() {
  if (reader_.joinable()) {
    SetEvent(stop_);
    reader_.join();
  }
  if (view_) UnmapViewOfFile(view_);
  for (HANDLE h : {mapping_, dataReady_, bufferReady_, stop_}) {
    if (h) CloseHandle(h);
  }
}

void DebugOutputCapture::Run() {
  HANDLE waits[] = {dataReady_, stop_};
  SetEvent(bufferReady_);
  while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
    DebugLine line;
    std::memcpy(&line.pid, view_, sizeof line.pid);
    const char* text = view_ + sizeof line.pid;
    line.text.assign(text, strnlen(text, kBufferSize - sizeof line.pid));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(line));
    }
    arrived_.notify_all();
    SetEvent(bufferReady_);
  }
}

std::vector<DebugLine> DebugOutputCapture::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool DebugOutputCapture::WaitFor(const std::string& text, DWORD pid, DWORD timeoutMs, DebugLine* found) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const DebugLine& line : lines_) {
      if (line.text == text && (pid == 0 || line.pid == pid)) {
        if (found) *found = line;
        return true;
      }
    }
    return false;
  });
}

}  // namespace tools
