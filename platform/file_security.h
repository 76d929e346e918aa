// Who may change the files the service runs: whoever can write the executable, the maker's DLLs, the
// mode file or their folder runs code as LocalSystem through the service.
#pragma once

#include <windows.h>

#include <string>

// An account other than SYSTEM, Administrators and TrustedInstaller that may change a file or folder.
struct OtherWriter {
  DWORD error;          // 0 when the access list was read; else why it was not (2 or 3: no such file)
  bool found;           // such an account exists
  std::string account;  // "DOMAIN\name", or the SID's string where the name cannot be looked up
};

// Reads the access list of `path` (GetNamedSecurityInfoA) and finds the first account it grants a
// right to change the object (write or append data, create or delete children, write attributes or
// extended attributes, delete, change the access list or the owner, generic write or all), an entry
// that only passes on to children excepted. A missing access list (a NULL DACL) grants everything to
// Everyone. An owner outside the three may change the access list, so it counts too.
OtherWriter FindOtherWriter(const char* path);
