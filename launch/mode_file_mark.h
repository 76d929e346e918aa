// A byte-order mark at the head of the mode file. Windows' private-profile functions do not skip a
// UTF-8 mark: the first line "[Fields]" then reads as no section, and every key of it as absent.
#pragma once

#include <string>

enum class TextMark { kNone, kUtf8, kUtf16LittleEndian, kUtf16BigEndian };

// The mark the file at `path` begins with; kNone also when it cannot be read.
TextMark ReadTextMark(const char* path);

// "UTF-8", "UTF-16 little-endian" or "UTF-16 big-endian"; "" for kNone.
const char* TextMarkName(TextMark mark);

// The value of `key` in section "Fields" of a UTF-8 file read past its mark, as the profile
// functions read an unmarked file: section and key names without regard to letter case, blanks
// around them and around the value dropped, one pair of enclosing quotes removed, the first section
// of the name and the first key in it taken. "" when the file, the section or the key is missing.
std::string ReadValuePastMark(const char* path, const char* key);
