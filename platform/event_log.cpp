#include "platform/event_log.h"

#include <string>

#include "platform/handles.h"

namespace {

std::string Decimal(unsigned long value) { return std::to_string(value); }

}  // namespace

bool InstallEventSource(const char* executablePath) {
  sys::UniqueRegistryKey key;
  if (sys::calls().RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, key.receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::string path = executablePath;
  const DWORD types = kEventTypesSupported;
  // REG_EXPAND_SZ, as Event Viewer expects of a message-file value.
  return sys::calls().RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                                     reinterpret_cast<const BYTE*>(path.c_str()),
                                     static_cast<DWORD>(path.size() + 1)) == ERROR_SUCCESS &&
         sys::calls().RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&types), sizeof types) == ERROR_SUCCESS;
}

bool RemoveEventSource() {
  const LONG result = sys::calls().RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool ReadEventSourceMessageFile(std::string& path) {
  char value[1024];
  DWORD size = sizeof value;
  const LONG result = sys::calls().RegGetValueA(HKEY_LOCAL_MACHINE, kEventSourceKey, "EventMessageFile",
                                                 RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, value,
                                                 &size);
  if (result != ERROR_SUCCESS) {
    ::SetLastError(static_cast<DWORD>(result));
    return false;
  }
  path.assign(value);
  return true;
}

void WriteEvent(WORD type, DWORD id, std::initializer_list<const char*> strings) {
  sys::UniqueEventSource source(sys::calls().RegisterEventSourceA(nullptr, kEventSourceName));
  if (!source) return;
  sys::calls().ReportEventA(source.get(), type, 0, id, nullptr, static_cast<WORD>(strings.size()), 0,
                            const_cast<const char**>(strings.begin()), nullptr);
}

std::string Win32ErrorText(DWORD error) {
  char text[512] = {};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof text, nullptr);
  // The system's texts end with a line break; an event's text goes on after it.
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
  return std::string(text, length);
}

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

void ReportProgramStarted(DWORD processId, DWORD sessionId, const char* commandLine) {
  const std::string process = Decimal(processId), session = Decimal(sessionId);
  WriteEvent(EVENTLOG_INFORMATION_TYPE, MSG_PROGRAM_STARTED, {process.c_str(), session.c_str(), commandLine});
}

void ReportProgramFailed(const char* step, DWORD error) {
  const std::string code = Decimal(error);
  const std::string text = error == kErrorElevationRequired ? kElevationRequiredText : Win32ErrorText(error);
  WriteEvent(EVENTLOG_ERROR_TYPE, MSG_PROGRAM_FAILED, {step, code.c_str(), text.c_str()});
}

void ReportNoConsoleUser(DWORD sessionId) {
  const std::string session = Decimal(sessionId);
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_NO_CONSOLE_USER, {session.c_str()});
}

void ReportLaunchWaitsForLogon(DWORD sessionId) {
  const std::string session = Decimal(sessionId);
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_LAUNCH_WAITS_FOR_LOGON, {session.c_str()});
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

void ReportFolderWritable(const char* path, const char* account, const char* folder) {
  WriteEvent(EVENTLOG_WARNING_TYPE, MSG_FOLDER_WRITABLE, {path, account, folder});
}
