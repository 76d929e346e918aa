#include "platform/wide_text.h"

#include <windows.h>

namespace {
constexpr UINT kCodePage936 = 936;
}  // namespace

std::wstring WideFromCodePage936(const char* text) {
  const int length = ::MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (length <= 1) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (::MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, text, -1, &wide[0], length) != length) {
    return std::wstring();
  }
  wide.pop_back();  // the terminator the count included
  return wide;
}
