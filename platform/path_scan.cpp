#include "platform/path_scan.h"

#include <windows.h>

int LastPathSeparator(const char* path) {
  int last = -1;
  for (int i = 0; path[i] != '\0';) {
    if (::IsDBCSLeadByte(static_cast<BYTE>(path[i])) && path[i + 1] != '\0') {
      i += 2;
      continue;
    }
    if (path[i] == '\\') last = i;
    ++i;
  }
  return last;
}

bool SameFilePath(const char* a, const char* b) {
  // Room for a registered command line, quotes and arguments included; a longer one is no match.
  constexpr int kRoom = 1024;
  wchar_t wideA[kRoom];
  wchar_t wideB[kRoom];
  const int lengthA = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, a, -1, wideA, kRoom);
  const int lengthB = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, b, -1, wideB, kRoom);
  if (lengthA == 0 || lengthB == 0) return false;
  return ::CompareStringOrdinal(wideA, lengthA - 1, wideB, lengthB - 1, TRUE) == CSTR_EQUAL;
}
