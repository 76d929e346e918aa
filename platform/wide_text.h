// Texts kept as code page 936 bytes, shown through the wide-character calls so that they read the
// same whatever the system's ANSI code page is.
#pragma once

#include <cstddef>

// Room for the longest of those texts in UTF-16, terminator included.
inline constexpr std::size_t kWideTextRoom = 512;

// Writes `text` (code page 936) into `wide` as UTF-16; false, with `wide` empty, when it is empty,
// does not fit, or cannot be converted (an invalid byte sequence, or a system without the code
// page's tables).
bool WideFromCodePage936(const char* text, wchar_t (&wide)[kWideTextRoom]);
