// What every test suite needs around the code under test: where this binary lives, reading and
// writing small files, waiting for a condition, and ending the stand-in programs a test started.
#pragma once

#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

namespace test_support {

// The full path of `module` (null: this executable), or "" when it cannot be read.
inline std::string ModulePath(HMODULE module = nullptr) {
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

// What GetModuleFileNameW writes for the path `ansi` (bytes of the ANSI code page) into `size`
// units: cut to size - 1 and terminated when it does not fit, which the answer `size` then says, as
// the system does.
inline DWORD WideModulePath(const std::string& ansi, LPWSTR buffer, DWORD size) {
  std::wstring wide(ansi.size() + 1, L'\0');
  const int converted = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                                              static_cast<int>(wide.size()));
  wide.resize(converted > 0 ? static_cast<size_t>(converted) : 0);
  const DWORD length = static_cast<DWORD>(wide.size());
  const DWORD copied = length < size ? length : size - 1;
  std::copy(wide.begin(), wide.begin() + copied, buffer);
  buffer[copied] = L'\0';
  return length < size ? length : size;
}

// This test binary's directory, with its trailing backslash. Test binaries live in ASCII folders of
// the build tree, so the last backslash byte is the separator.
inline std::string OwnDirectory() {
  const std::string path = ModulePath();
  return path.substr(0, path.find_last_of('\\') + 1);
}

// The whole file, or "" when it cannot be read.
inline std::string ReadText(const std::string& path) {
  std::string text;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    std::fclose(file);
  }
  return text;
}

// Replaces the file's contents; false when it could not be written whole.
inline bool WriteText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

// How many times `part` occurs in `text`, without overlaps.
inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// Polls `done` until it holds. The limit only keeps a broken test from hanging the run: it is far
// beyond anything a passing run takes, however loaded the machine, and says nothing about speed.
inline bool WaitUntil(const std::function<bool()>& done) {
  constexpr DWORD kHangGuardMs = 60000;
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start >= kHangGuardMs) return false;
    ::Sleep(5);
  }
  return true;
}

// Ends each process that a log of starts names (lines beginning "pid=<id>"), and waits for its end.
inline void EndStartedStandIns(const std::string& log) {
  for (size_t at = 0; (at = log.find("pid=", at)) != std::string::npos;) {
    at += 4;
    const unsigned long pid = std::strtoul(log.c_str() + at, nullptr, 10);
    if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
      ::TerminateProcess(process, 0);
      ::WaitForSingleObject(process, INFINITE);
      ::CloseHandle(process);
    }
  }
}

}  // namespace test_support
