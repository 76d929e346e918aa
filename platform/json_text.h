// JSON strings of ANSI text, for the outputs an administrator's tools read (/status /json,
// /selftest /json).
#pragma once

#include <string>

// `text` (ANSI code page) as a JSON string, quotes included: quotes, backslashes and control
// characters escaped, and everything beyond ASCII as \u escapes of its UTF-16 units, so that the
// output reads the same whatever the console's code page. Bytes that are no text of the ANSI code
// page are escaped one by one.
std::string JsonString(const std::string& text);
