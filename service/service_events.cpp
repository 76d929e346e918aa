#include "service/service_events.h"

#include <string>

#include "platform/event_log.h"

namespace {

std::string Decimal(unsigned long value) { return std::to_string(value); }

}  // namespace

void ReportServiceStarted(unsigned pollSeconds, bool launchAtLogon, bool launchAsUser) {
  const std::string seconds = Decimal(pollSeconds);
  WriteEvent(EVENTLOG_INFORMATION_TYPE, MSG_SERVICE_STARTED,
             {seconds.c_str(), launchAtLogon ? "1" : "0", launchAsUser ? "user" : "service"});
}

void ReportServiceStopped(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
  const std::string win32 = Decimal(win32ExitCode), specific = Decimal(serviceSpecificExitCode);
  WriteEvent(EVENTLOG_INFORMATION_TYPE, MSG_SERVICE_STOPPED, {win32.c_str(), specific.c_str()});
}

void ReportStartStepFailed(const char* step, DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
  const std::string code = Decimal(win32ExitCode), text = Win32ErrorText(win32ExitCode);
  const std::string specific = Decimal(serviceSpecificExitCode);
  WriteEvent(EVENTLOG_ERROR_TYPE, MSG_START_STEP_FAILED, {step, code.c_str(), text.c_str(), specific.c_str()});
}

void ReportStopForced(DWORD exitCode) {
  const std::string code = Decimal(exitCode);
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_STOP_FORCED, {code.c_str()});
}

void ReportFolderWritable(const char* path, const char* account, const char* folder) {
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_FOLDER_WRITABLE, {path, account, folder});
}

void ReportSettingsChanged(const char* changes) {
  WriteEvent(EVENTLOG_INFORMATION_TYPE, MSG_SETTINGS_CHANGED, {changes});
}

void ReportSettingsNotWatched(const char* step, DWORD error) {
  const std::string code = Decimal(error), text = Win32ErrorText(error);
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_SETTINGS_NOT_WATCHED, {step, code.c_str(), text.c_str()});
}
