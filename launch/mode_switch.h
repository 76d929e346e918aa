// The switches of "language\ModeConfig.ini" beside the executable, read anew at every call.
#pragma once

#include <cstddef>

constexpr char kModeFileName[] = "language\\ModeConfig.ini";
// Room for the longest module path GetModuleFileNameA can give (260 bytes) and the name after it.
constexpr std::size_t kModeFilePathSize = 261 + sizeof kModeFileName;

// Fills `path` with "<directory of modulePath>language\ModeConfig.ini", the directory ending after
// the last 0x5C byte (byte-wise); with no backslash, the whole of `modulePath`. Only the first 260
// bytes of `modulePath` are read.
void ModeFilePathFor(const char* modulePath, char (&path)[kModeFilePathSize]);

// Whether the mode file beside the executable at `modulePath` has a path the file functions can
// open (at most 259 characters).
bool ModeFilePathFits(const char* modulePath);

// False exactly when the key's value in section "Fields" is "0"; a missing file, section or key
// reads true. False, with a line on standard error, when the executable's path cannot be read.
bool ReadModeSwitch(const char* key);

// The polling period of the worker thread's timer, from key "PollSeconds" in section "Fields":
// an integer from 1 to 86400, else 0 (no polling) — absent, empty, 0, out of range or not a number.
unsigned ReadPollSeconds();
