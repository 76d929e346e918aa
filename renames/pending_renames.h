// The restart's queue of file operations (PendingFileRenameOperations, a REG_MULTI_SZ the session
// manager carries out at the next start): pairs of a source and a destination, an empty destination
// meaning the source is deleted. A removal of the package drops the pairs that would put a file into
// its folder after the folder is gone; everything else is kept byte for byte.
#pragma once

#include <string>
#include <vector>

namespace renames {

// One pair as stored: paths in the kernel's form (\??\C:\...), a destination replaced if it exists
// written with a leading '!'.
struct PendingRename {
  std::wstring source;
  std::wstring destination;  // empty: the source is deleted
};

// `path` without the kernel's \??\ and the replace mark '!', as Win32 calls take it.
std::wstring Win32Path(const std::wstring& path);

// Whether `path` (with or without \??\ and '!') is `folder` or lies under it, letter case aside.
bool LiesIn(const std::wstring& path, const std::wstring& folder);

struct Cancelled {
  std::wstring value;                 // the value without the dropped pairs; empty when none is left
  std::vector<PendingRename> dropped;  // in their order in the value
};

// Drops every pair whose destination lies in `folder`. `value` is the value's data as UTF-16 units;
// the pairs kept, and whatever follows the last pair, stay unit for unit.
Cancelled CancelRenamesInto(const std::wstring& value, const std::wstring& folder);

// The pairs of a value, in order.
std::vector<PendingRename> ParseRenames(const std::wstring& value);

// `value` with `pairs` added after its last pair (a value of those pairs alone when `value` is empty).
std::wstring AppendRenames(const std::wstring& value, const std::vector<PendingRename>& pairs);

}  // namespace renames
