// The desktop program's command line: the quoted full path of "Marrowbank.exe" beside this
// executable.
#pragma once

constexpr unsigned kCommandLineBufferSize = 261;

// Fills `buffer` with "\"<directory of this executable>\\Marrowbank.exe\"". False, with nothing to
// launch, when the executable's path cannot be read, holds no backslash, or leaves too little room.
bool BuildDesktopAppCommandLine(char (&buffer)[kCommandLineBufferSize]);
