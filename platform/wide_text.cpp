#include "platform/wide_text.h"

#include <windows.h>

namespace {
constexpr UINT kCodePage936 = 936;
}  // namespace

bool WideFromCodePage936(const char* text, wchar_t (&wide)[kWideTextRoom]) {
  const int length = ::MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, text, -1, wide,
                                           static_cast<int>(kWideTextRoom));
  if (length > 1) return true;
  wide[0] = L'\0';
  return false;
}
