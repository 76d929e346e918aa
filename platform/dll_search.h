// Where the process looks for libraries it loads at run time.
#pragma once

// Restricts the search for libraries loaded at run time to the system folder and the executable's
// own folder, never the current directory or PATH, which ordinary users may be able to write to.
// Called first thing at process start. False when the system refused; the process carries on, since
// the only library it loads at run time is named by full path.
bool RestrictDllSearch();
