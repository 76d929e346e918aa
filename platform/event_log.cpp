#include "platform/event_log.h"

#include <string>

#include "platform/handles.h"

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
