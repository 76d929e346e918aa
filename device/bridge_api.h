// The bridge-chip SDK JMUsbDll.dll, bound at run time. Nothing calls its entries; the binding only
// finds the library and resolves every entry, group by group.
#pragma once

#include <windows.h>

struct BridgeApi {
  static constexpr char kLibraryName[] = "JMUsbDll.dll";
  static constexpr int kEntryCount = 40;
  static constexpr int kGroupCount = 18;
  // Entry names in lookup order, and how many of them each group takes.
  static const char* const kEntryNames[kEntryCount];
  static constexpr int kGroupSizes[kGroupCount] = {2, 2, 3, 1, 2, 11, 2, 2, 2,
                                                   3, 1, 1, 2, 1, 1, 1, 1, 2};

  // One untyped address per entry, in the order of kEntryNames; null until bound.
  FARPROC entries[kEntryCount];

  // The process-wide table.
  static BridgeApi& Table();

  // Uses a "JMUsbDll" module already loaded in the process, or else loads JMUsbDll.dll by full path
  // from this executable's own directory (never through the DLL search path: this runs as
  // LocalSystem and search-path directories may be writable by users). Resolves the groups in order
  // and stops at the first group with a missing entry. Returns the module when every entry was found,
  // else null. *loadedHere tells whether the returned module holds a reference this binding took
  // (and the caller must free). A failed binding that loaded the library frees it again and clears
  // the table, so no slot points into an unloaded library; one that found it already loaded leaves
  // the slots it filled.
  static HMODULE Bind(bool* loadedHere = nullptr);

  // The slot of a named entry, or null for a name that is not an entry.
  FARPROC Entry(const char* name) const;
  void Clear();
};
