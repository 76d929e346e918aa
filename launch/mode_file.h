// "language\ModeConfig.ini" beside the executable, as a file: where it is, its raw values as the
// profile functions read them, and the byte-order mark those functions do not skip. What the keys
// mean is launch/settings.h's.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

constexpr char kModeFileName[] = "language\\ModeConfig.ini";
constexpr char kModeSection[] = "Fields";
// Room for the longest module path ReadModulePath gives for 260 bytes, and the name after it.
constexpr std::size_t kModeFilePathSize = 261 + sizeof kModeFileName;
// Room for one value as the profile functions give it.
constexpr std::size_t kModeValueSize = 260;

// Fills `path` with "<directory of modulePath>language\ModeConfig.ini", the directory ending after
// the last 0x5C byte (byte-wise); with no backslash, the whole of `modulePath`. Only the first 260
// bytes of `modulePath` are read.
void ModeFilePathFor(const char* modulePath, char (&path)[kModeFilePathSize]);

// Whether the mode file beside the executable at `modulePath` has a path the file functions can
// open (at most 259 characters).
bool ModeFilePathFits(const char* modulePath);

// The mode file beside this executable; false when the executable's path cannot be read.
bool ModeFilePath(char (&path)[kModeFilePathSize]);

// The value of `key` in section "Fields" of the file at `path`, as the profile functions give it
// (blanks around it dropped); `fallback` when the file, the section or the key is missing.
void ReadModeValue(const char* path, const char* key, const char* fallback, char (&value)[kModeValueSize]);

// Whether two values are the same text without regard to letter case, by the invariant locale's
// rules: what the administrator's locale would fold differently must not change a setting.
bool SameModeText(const char* a, const char* b);

// ERROR_SUCCESS when the file at `path` can be opened for reading or is not there (an absent file
// reads as every key absent); otherwise why it cannot be opened (a directory of that name, no read
// access), in which case it also reads as every key absent.
DWORD ModeFileOpenError(const char* path);

// A byte-order mark at the head of the mode file. Windows' private-profile functions do not skip a
// UTF-8 mark: the first line "[Fields]" then reads as no section, and every key of it as absent.
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
