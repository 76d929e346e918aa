// The switches of "language\ModeConfig.ini" beside the executable, read anew at every call.
#pragma once

#include <cstddef>

inline constexpr char kModeFileName[] = "language\\ModeConfig.ini";
// Room for the longest module path GetModuleFileNameA can give (260 bytes) and the name after it.
inline constexpr std::size_t kModeFilePathSize = 261 + sizeof kModeFileName;

// "<directory of this executable>\language\ModeConfig.ini"; false when the executable's path cannot
// be read.
bool ModeFilePath(char (&path)[kModeFilePathSize]);

// False exactly when the key's value in section "Fields" is "0"; a missing file, section or key
// reads true. False, with a line on standard error, when the executable's path cannot be read.
bool ReadModeSwitch(const char* key);

// The polling period of the worker thread's timer, from key "PollSeconds" in section "Fields":
// an integer from 1 to 86400, else 0 (no polling) — absent, empty, 0, out of range or not a number.
unsigned ReadPollSeconds();
