// ANSI paths read the way the file system reads them: by characters of the ANSI code page.
#pragma once

// Index of the last path separator in `path`, or -1. A 0x5C byte that trails a lead byte of the
// ANSI code page is half of a double-byte character, not a separator, so the scan walks characters
// from the start.
int LastPathSeparator(const char* path);

// Whether two ANSI paths name the same file as the file system compares names: character by
// character of the ANSI code page, letter case ignored by the ordinal rules. Byte-wise case folding
// would take the second byte of a double-byte character for a letter. False when either cannot be
// converted.
bool SameFilePath(const char* a, const char* b);
