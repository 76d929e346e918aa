#include "platform/path_scan.h"

#include <windows.h>

#include <cstring>

#include "platform/syscalls.h"

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

unsigned long ReadModulePath(char* path, unsigned long size, HMODULE module) {
  if (size == 0) return 0;
  path[0] = '\0';
  // Far beyond the 260 bytes any caller offers; a longer path is one no caller could use.
  constexpr DWORD kWideRoom = 1024;
  wchar_t wide[kWideRoom];
  const DWORD length = sys::calls().GetModuleFileNameW(module, wide, kWideRoom);
  if (length == 0) return 0;
  if (length >= kWideRoom) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Each UTF-16 unit takes at most two bytes of a double-byte code page.
  char ansi[2 * kWideRoom];
  // Where the ANSI code page is UTF-8 every character has its exact form, and the call takes neither
  // the flag nor the question.
  const bool utf8 = ::GetACP() == CP_UTF8;
  BOOL usedDefault = FALSE;
  const int bytes = ::WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(length),
                                          ansi, sizeof ansi, nullptr, utf8 ? nullptr : &usedDefault);
  if (bytes <= 0) return 0;
  if (usedDefault) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (static_cast<unsigned long>(bytes) >= size) {
    std::memcpy(path, ansi, size - 1);
    path[size - 1] = '\0';
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(path, ansi, static_cast<size_t>(bytes));
  path[bytes] = '\0';
  return static_cast<unsigned long>(bytes);
}

bool PathBesideExecutable(const char* fileName, char* path, unsigned long size) {
  if (size == 0) return false;
  path[0] = '\0';
  char modulePath[MAX_PATH];
  const unsigned long length = ReadModulePath(modulePath, MAX_PATH);
  // A full buffer means the path was cut: whatever it names is not this executable's folder.
  if (length == 0 || length >= MAX_PATH) return false;
  const int separator = LastPathSeparator(modulePath);
  if (separator < 0) return false;
  const size_t folderLength = static_cast<size_t>(separator) + 1;
  const size_t nameLength = std::strlen(fileName);
  if (folderLength + nameLength + 1 > size) return false;
  std::memcpy(path, modulePath, folderLength);
  std::memcpy(path + folderLength, fileName, nameLength + 1);
  return true;
}

bool FolderOfPath(const char* path, char* folder, unsigned long size) {
  if (size == 0) return false;
  folder[0] = '\0';
  const int separator = LastPathSeparator(path);
  if (separator < 0) return false;
  const size_t length = separator > 0 && path[separator - 1] == ':' ? static_cast<size_t>(separator) + 1
                                                                     : static_cast<size_t>(separator);
  if (length + 1 > size) return false;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  return true;
}
