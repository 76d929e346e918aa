// ANSI paths read the way the file system reads them: by characters of the ANSI code page.
#pragma once

#include <windows.h>

// Index of the last path separator in `path`, or -1. A 0x5C byte that trails a lead byte of the
// ANSI code page is half of a double-byte character, not a separator, so the scan walks characters
// from the start.
int LastPathSeparator(const char* path);

// Whether two ANSI paths name the same file as the file system compares names: character by
// character of the ANSI code page, letter case ignored by the ordinal rules. Byte-wise case folding
// would take the second byte of a double-byte character for a letter. False when either cannot be
// converted.
bool SameFilePath(const char* a, const char* b);

// The path of `module` (this executable for null) in the ANSI code page, as GetModuleFileNameA
// answers for `size` bytes (the
// path and its terminator; cut to size - 1 bytes, terminated, and `size` returned when it does not
// fit), except for a character the code page has no exact form for: then 0, with `path` empty and
// ERROR_NO_UNICODE_TRANSLATION. The path is read in UTF-16 and converted without best-fit look-alikes,
// which would name another file (8 for an infinity sign), and without '?' standing in silently.
// 0 with the call's error when the path cannot be read.
unsigned long ReadModulePath(char* path, unsigned long size, HMODULE module = nullptr);

// The path of `fileName` in this executable's folder, in `path` of `size` bytes. The folder ends
// after the last separator of the executable's path, found by characters (LastPathSeparator); with
// `fileName` "", the folder itself, separator included. False, with `path` empty, when the
// executable's path cannot be read whole in MAX_PATH bytes, holds no separator, or the result does
// not fit. Every file the service finds beside itself is found this way, except the mode file, whose
// place is fixed by a byte-wise rule of its own (launch/mode_file.h).
bool PathBesideExecutable(const char* fileName, char* path, unsigned long size);

// The folder that holds the file at `path`: the text before its last separator (by characters), the
// separator kept only for a drive's root ("C:\\"; "C:" alone would name that drive's current folder).
// False, with `folder` empty, when `path` holds no separator or the folder does not fit in `size`.
bool FolderOfPath(const char* path, char* folder, unsigned long size);
