#include "tests/tools/footprint.h"

#include <tlhelp32.h>
#include <winternl.h>

#include "platform/handles.h"

namespace tools {

namespace {
constexpr ULONG_PTR kLastHandleValue = 0xFFFC;
}  // namespace

Footprint MeasureFootprint() {
  Footprint f{0, 0, 0};
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) f.privateBytes += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;  // the top of the address space
    at = next;
  }
  for (ULONG_PTR value = 4; value <= kLastHandleValue; value += 4) {
    DWORD flags;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++f.handles;
  }
  // Taken after the probing, so that its own handle is not counted.
  sys::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (snapshot) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
      f.threads += entry.th32OwnerProcessID == self;
    }
  }
  return f;
}

std::map<std::string, int> HandleTypes() {
  std::map<std::string, int> types;
  for (ULONG_PTR value = 4; value <= kLastHandleValue; value += 4) {
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags;
    if (!GetHandleInformation(handle, &flags)) continue;
    alignas(8) unsigned char buffer[512];
    std::string name = "?";
    if (NtQueryObject(handle, ObjectTypeInformation, buffer, sizeof buffer, nullptr) >= 0) {
      const UNICODE_STRING& type = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer)->TypeName;
      name.clear();
      for (USHORT i = 0; i < type.Length / sizeof(WCHAR); ++i) name += static_cast<char>(type.Buffer[i]);
    }
    ++types[name];
  }
  return types;
}

}  // namespace tools
