// Where the process looks for libraries it loads at run time.
#pragma once

// Restricts the search for libraries loaded at run time to the system folder and the executable's
// own folder, never the current directory or PATH, which ordinary users may be able to write to.
// Called first thing at process start. False when the system refused; the process carries on, since
// the only library it loads at run time is named by full path.
bool RestrictDllSearch();

// The flags for loading a library named by full path so that its own dependencies are searched for
// in its folder and the system folder only: LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
// LOAD_LIBRARY_SEARCH_SYSTEM32 where the system knows those flags (it has SetDefaultDllDirectories:
// Windows 8, and 7 with update KB2533623), else LOAD_WITH_ALTERED_SEARCH_PATH, which also searches
// the current folder and PATH.
unsigned long FullPathLoadFlags();
