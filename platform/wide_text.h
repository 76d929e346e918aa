// Texts kept as code page 936 bytes, shown through the wide-character calls so that they read the
// same whatever the system's ANSI code page is.
#pragma once

#include <string>

// `text` (code page 936) as UTF-16; empty when it is empty or cannot be converted (an invalid byte
// sequence, or a system without the code page's tables).
std::wstring WideFromCodePage936(const char* text);
