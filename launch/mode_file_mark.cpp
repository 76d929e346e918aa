#include "launch/mode_file_mark.h"

#include <windows.h>

#include <cstring>

#include "launch/mode_switch.h"
#include "platform/handles.h"

namespace {

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
  if (!::ReadFile(file.get(), &bytes[0], size, &read, nullptr)) read = 0;
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
