#include "launch/launch_events.h"

#include <mutex>
#include <string>

#include "platform/event_log.h"

namespace {

std::string Decimal(unsigned long value) { return std::to_string(value); }

std::mutex g_lastProblemLock;
std::string g_lastProblem;  // "<step> <code>"; empty after a start. Guarded by g_lastProblemLock.

// True for a problem other than the one reported last, which it becomes.
bool IsNewProblem(const char* what, DWORD code) {
  const std::string problem = std::string(what) + " " + std::to_string(code);
  std::lock_guard<std::mutex> lock(g_lastProblemLock);
  if (problem == g_lastProblem) return false;
  g_lastProblem = problem;
  return true;
}

}  // namespace

void ReportProgramStarted(DWORD processId, DWORD sessionId, const char* commandLine) {
  {
    std::lock_guard<std::mutex> lock(g_lastProblemLock);
    g_lastProblem.clear();
  }
  const std::string process = Decimal(processId), session = Decimal(sessionId);
  WriteEvent(EVENTLOG_INFORMATION_TYPE, MSG_PROGRAM_STARTED, {process.c_str(), session.c_str(), commandLine});
}

void ReportLaunchHeldForLogon(DWORD sessionId) {
  if (!IsNewProblem("(held for a console logon)", sessionId)) return;
  const std::string session = Decimal(sessionId);
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_LAUNCH_WAITS_FOR_LOGON, {session.c_str()});
}

void ReportLaunchProblem(const char* step, DWORD code) {
  if (!IsNewProblem(step != nullptr ? step : "(no console user)", code)) return;
  const std::string number = Decimal(code);
  if (step == nullptr) {
    WriteEvent(EVENTLOG_WARNING_TYPE, MSG_NO_CONSOLE_USER, {number.c_str()});
    return;
  }
  const std::string text = code == kErrorElevationRequired ? kElevationRequiredText : Win32ErrorText(code);
  WriteEvent(EVENTLOG_ERROR_TYPE, MSG_PROGRAM_FAILED, {step, number.c_str(), text.c_str()});
}

bool LaunchStepFailed(const char* step) {
  ReportLaunchProblem(step, ::GetLastError());
  return false;
}

void ReportProgramNeedsElevation(const char* path, const char* level) {
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_PROGRAM_NEEDS_ELEVATION, {path, level});
}

void ReportModeFileUnreadable(const char* path, DWORD error) {
  const std::string code = Decimal(error), text = Win32ErrorText(error);
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_MODE_FILE_UNREADABLE, {path, code.c_str(), text.c_str()});
}

void ReportModeValueRejected(const char* path, const char* key, const char* value, const char* consequence) {
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_MODE_VALUE_REJECTED, {path, key, value, consequence});
}

void ReportModeFileMarked(const char* path, const char* mark, const char* consequence) {
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_MODE_FILE_MARKED, {path, mark, consequence});
}

void ReportPolicyValueRejected(const char* key, const char* name, const char* value, const char* consequence) {
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_POLICY_VALUE_REJECTED, {key, name, value, consequence});
}

void ReportPolicyKeyUnreadable(const char* key, DWORD error) {
  const std::string code = Decimal(error), text = Win32ErrorText(error);
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_POLICY_KEY_UNREADABLE, {key, code.c_str(), text.c_str()});
}
