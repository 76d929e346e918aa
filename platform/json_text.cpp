#include "platform/json_text.h"

#include <windows.h>

#include <cstdio>
#include <vector>

std::string JsonString(const std::string& text) {
  std::vector<wchar_t> wide;
  if (!text.empty()) {
    const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0);
    if (length > 0) {
      wide.resize(static_cast<size_t>(length));
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
    } else {
      for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
  }
  std::string json = "\"";
  for (wchar_t c : wide) {
    if (c == L'"' || c == L'\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      json += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      json += escape;
    }
  }
  return json + "\"";
}
