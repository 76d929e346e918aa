// Catches the events the code under test writes, through the platform-call table: each event as one
// line "<type> <id>: <string> | <string> ...", and whether every opened source was closed again.
#pragma once

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/syscalls.h"

namespace event_test {

const HANDLE kSource = reinterpret_cast<HANDLE>(0x4242);

struct Capture {
  std::mutex mutex;
  std::vector<std::string> events;
  std::vector<std::string> calls;  // "open", "report", "close", in order
  bool argumentsRight = true;
  bool openFails = false;
};
inline Capture* g_capture = nullptr;

inline std::string TypeName(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return "error";
    case EVENTLOG_WARNING_TYPE: return "warning";
    case EVENTLOG_INFORMATION_TYPE: return "info";
    default: return "type " + std::to_string(type);
  }
}

inline HANDLE WINAPI FakeRegisterEventSource(LPCSTR server, LPCSTR source) {
  std::lock_guard<std::mutex> lock(g_capture->mutex);
  g_capture->calls.push_back("open");
  if (server != nullptr || std::string(source) != "MarrowbankServer") g_capture->argumentsRight = false;
  if (!g_capture->openFails) return kSource;
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

inline BOOL WINAPI FakeReportEvent(HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count,
                                   DWORD dataSize, LPCSTR* strings, LPVOID data) {
  std::lock_guard<std::mutex> lock(g_capture->mutex);
  g_capture->calls.push_back("report");
  if (source != kSource || category != 0 || user != nullptr || dataSize != 0 || data != nullptr) {
    g_capture->argumentsRight = false;
  }
  char head[48];
  std::snprintf(head, sizeof head, "%s 0x%08lX:", TypeName(type).c_str(), static_cast<unsigned long>(id));
  std::string line = head;
  for (WORD i = 0; i < count; ++i) line += std::string(i == 0 ? " " : " | ") + strings[i];
  g_capture->events.push_back(line);
  return TRUE;
}

inline BOOL WINAPI FakeDeregisterEventSource(HANDLE source) {
  std::lock_guard<std::mutex> lock(g_capture->mutex);
  g_capture->calls.push_back("close");
  if (source != kSource) g_capture->argumentsRight = false;
  return TRUE;
}

// Catches events for the life of the object.
class ScopedEventCapture {
 public:
  ScopedEventCapture() { g_capture = &capture_; }
  ~ScopedEventCapture() { g_capture = nullptr; }
  ScopedEventCapture(const ScopedEventCapture&) = delete;
  ScopedEventCapture& operator=(const ScopedEventCapture&) = delete;

  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(capture_.mutex);
    return capture_.events;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(capture_.mutex);
    capture_.events.clear();
    capture_.calls.clear();
  }
  // Every source opened was written to once and closed, and every call had the expected arguments.
  bool Balanced() {
    std::lock_guard<std::mutex> lock(capture_.mutex);
    for (size_t i = 0; i < capture_.calls.size(); i += 3) {
      if (i + 2 >= capture_.calls.size() || capture_.calls[i] != "open" || capture_.calls[i + 1] != "report" ||
          capture_.calls[i + 2] != "close") {
        return false;
      }
    }
    return capture_.argumentsRight;
  }
  Capture& capture() { return capture_; }

 private:
  Capture capture_;
  sys::ScopedCall<decltype(&::RegisterEventSourceA)> open_{sys::calls().RegisterEventSourceA,
                                                          FakeRegisterEventSource};
  sys::ScopedCall<decltype(&::ReportEventA)> report_{sys::calls().ReportEventA, FakeReportEvent};
  sys::ScopedCall<decltype(&::DeregisterEventSource)> close_{sys::calls().DeregisterEventSource,
                                                             FakeDeregisterEventSource};
};

}  // namespace event_test
