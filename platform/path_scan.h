// Finding the directory part of an ANSI path the way the file system reads it.
#pragma once

// Index of the last path separator in `path`, or -1. A 0x5C byte that trails a lead byte of the
// ANSI code page is half of a double-byte character, not a separator, so the scan walks characters
// from the start.
int LastPathSeparator(const char* path);
