#include "renames/pending_renames.h"

#include <windows.h>

namespace renames {
namespace {

const std::wstring kKernelPrefix = L"\\??\\";

// A pair's place in the value: [begin, end), the destination's terminator included.
struct Span {
  size_t begin;
  size_t end;
  PendingRename pair;
};

// The pairs in order, and where what follows them (the list's terminator) begins.
std::vector<Span> Pairs(const std::wstring& value, size_t* rest) {
  std::vector<Span> spans;
  size_t at = 0;
  for (;;) {
    *rest = at;
    const size_t source_end = value.find(L'\0', at);
    // An empty source ends the list; an unterminated string or a source without its destination is
    // no pair and stays as it is.
    if (source_end == std::wstring::npos || source_end == at) break;
    const size_t destination_end = value.find(L'\0', source_end + 1);
    if (destination_end == std::wstring::npos) break;
    spans.push_back({at, destination_end + 1,
                     {value.substr(at, source_end - at),
                      value.substr(source_end + 1, destination_end - source_end - 1)}});
    at = destination_end + 1;
  }
  return spans;
}

}  // namespace

std::wstring Win32Path(const std::wstring& path) {
  std::wstring p = path;
  if (!p.empty() && p[0] == L'!') p.erase(0, 1);
  if (p.compare(0, kKernelPrefix.size(), kKernelPrefix) == 0) p.erase(0, kKernelPrefix.size());
  return p;
}

bool LiesIn(const std::wstring& path, const std::wstring& folder) {
  const std::wstring p = Win32Path(path);
  std::wstring f = Win32Path(folder);
  while (!f.empty() && f.back() == L'\\') f.pop_back();
  if (f.empty() || p.size() < f.size()) return false;
  if (p.size() > f.size() && p[f.size()] != L'\\') return false;
  // As the file system compares names: ordinal, letter case aside.
  return CompareStringOrdinal(p.data(), static_cast<int>(f.size()), f.data(), static_cast<int>(f.size()), TRUE) ==
         CSTR_EQUAL;
}

Cancelled CancelRenamesInto(const std::wstring& value, const std::wstring& folder) {
  Cancelled result;
  size_t rest = 0;
  bool kept_any = false;
  for (const Span& span : Pairs(value, &rest)) {
    if (!span.pair.destination.empty() && LiesIn(span.pair.destination, folder)) {
      result.dropped.push_back(span.pair);
    } else {
      result.value.append(value, span.begin, span.end - span.begin);
      kept_any = true;
    }
  }
  if (result.dropped.empty()) {
    result.value = value;
  } else if (kept_any) {
    result.value.append(value, rest, std::wstring::npos);
  }
  return result;
}

std::vector<PendingRename> ParseRenames(const std::wstring& value) {
  size_t rest = 0;
  std::vector<PendingRename> pairs;
  for (Span& span : Pairs(value, &rest)) pairs.push_back(std::move(span.pair));
  return pairs;
}

std::wstring AppendRenames(const std::wstring& value, const std::vector<PendingRename>& pairs) {
  size_t rest = 0;
  Pairs(value, &rest);
  std::wstring added;
  for (const PendingRename& pair : pairs) {
    added += pair.source;
    added += L'\0';
    added += pair.destination;
    added += L'\0';
  }
  if (rest == value.size()) return value + added + L'\0';  // no terminator yet: a new value
  std::wstring result = value;
  result.insert(rest, added);
  return result;
}

}  // namespace renames
