#include "launch/mode_file.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "platform/handles.h"
#include "platform/path_scan.h"
#include "platform/syscalls.h"

namespace {

constexpr std::size_t kLongestModulePath = 260;  // what ReadModulePath is offered
constexpr std::size_t kLongestPath = MAX_PATH - 1;  // what the ANSI file functions open

// The directory ends at the last 0x5C byte, found byte by byte; with no backslash at all the whole
// path is taken as the directory. Deliberately not PathBesideExecutable's double-byte-aware scan,
// which finds every other file beside the executable: the mode file's place is fixed by this
// byte-wise rule. The two agree unless the executable's own file name holds a double-byte character
// whose second byte is 0x5C.
std::size_t DirectoryLength(const char* modulePath) {
  const std::size_t length = strnlen(modulePath, kLongestModulePath);
  for (std::size_t i = length; i > 0; --i) {
    if (modulePath[i - 1] == '\\') return i;
  }
  return length;
}

// Far more than a mode file of a few keys holds; what lies beyond is not read.
constexpr DWORD kLongestFile = 64 * 1024;

// The file's first `size` bytes or fewer; empty when it cannot be read.
std::string ReadHead(const char* path, DWORD size) {
  const sys::UniqueHandle file(sys::calls().CreateFileA(path, GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::string();
  std::string bytes(size, '\0');
  DWORD read = 0;
  if (!sys::calls().ReadFile(file.get(), &bytes[0], size, &read, nullptr)) read = 0;
  bytes.resize(read);
  return bytes;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::string& a, const char* b) { return SameModeText(a.c_str(), b); }

}  // namespace

bool ModeFilePath(char (&path)[kModeFilePathSize]) {
  char modulePath[261] = {};
  if (ReadModulePath(modulePath, 260) == 0) return false;
  ModeFilePathFor(modulePath, path);
  return true;
}

void ModeFilePathFor(const char* modulePath, char (&path)[kModeFilePathSize]) {
  const std::size_t length = DirectoryLength(modulePath);
  std::memcpy(path, modulePath, length);
  std::memcpy(path + length, kModeFileName, sizeof kModeFileName);
}

bool ModeFilePathFits(const char* modulePath) {
  return DirectoryLength(modulePath) + sizeof kModeFileName - 1 <= kLongestPath;
}

void ReadModeValue(const char* path, const char* key, const char* fallback, char (&value)[kModeValueSize]) {
  value[0] = '\0';
  sys::calls().GetPrivateProfileStringA(kModeSection, key, fallback, value, kModeValueSize, path);
}

bool SameModeText(const char* a, const char* b) {
  return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

DWORD ModeFileOpenError(const char* path) {
  const sys::UniqueHandle file(sys::calls().CreateFileA(path, GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}


TextMark ReadTextMark(const char* path) {
  const std::string head = ReadHead(path, 3);
  if (head.compare(0, 3, "\xEF\xBB\xBF") == 0) return TextMark::kUtf8;
  if (head.compare(0, 2, "\xFF\xFE") == 0) return TextMark::kUtf16LittleEndian;
  if (head.compare(0, 2, "\xFE\xFF") == 0) return TextMark::kUtf16BigEndian;
  return TextMark::kNone;
}

const char* TextMarkName(TextMark mark) {
  switch (mark) {
    case TextMark::kUtf8: return "UTF-8";
    case TextMark::kUtf16LittleEndian: return "UTF-16 little-endian";
    case TextMark::kUtf16BigEndian: return "UTF-16 big-endian";
    default: return "";
  }
}

std::string ReadValuePastMark(const char* path, const char* key) {
  const std::string text = ReadHead(path, kLongestFile);
  if (text.compare(0, 3, "\xEF\xBB\xBF") != 0) return std::string();
  bool inSection = false;
  bool sectionSeen = false;
  size_t at = 3;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trimmed(line);
    if (!line.empty() && line[0] == '[') {
      // Only the first section of the name counts, as for the profile functions.
      if (inSection) return std::string();
      const size_t close = line.find(']');
      inSection = !sectionSeen && close != std::string::npos && SameName(Trimmed(line.substr(1, close - 1)), kModeSection);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    const size_t equals = line.find('=');
    if (!inSection || equals == std::string::npos || !SameName(Trimmed(line.substr(0, equals)), key)) continue;
    std::string value = Trimmed(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::string();
}
