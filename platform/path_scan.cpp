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
