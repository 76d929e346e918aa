// The desktop program's command line: the quoted full path of "Marrowbank.exe" beside this
// executable.
#pragma once

// The desktop program's file name: the one spelling of it, for the command line and for the check
// whether it already runs.
inline constexpr char kDesktopAppFileName[] = "Marrowbank.exe";

constexpr unsigned kCommandLineBufferSize = 261;

// Fills `buffer` with "\"<directory of this executable>\\Marrowbank.exe\"". False, with nothing to
// launch, when the executable's path cannot be read, holds no backslash, or leaves too little room.
bool BuildDesktopAppCommandLine(char (&buffer)[kCommandLineBufferSize]);

// The folder of the program that a command line of that form names: the text between the opening
// quote and the last path separator before the closing quote, the separator kept only for a drive's
// root ("C:\\"). False, with `folder` empty, when the line does not begin with a quoted path that
// holds a separator.
bool ProgramFolderOf(const char* commandLine, char (&folder)[kCommandLineBufferSize]);
