// The package's removal step for the restart's queue, run by Windows Installer from the package itself
// (never from the installed files, which may be missing or unable to load):
//   CancelQueuedRenames.exe /cancel FOLDER   drops the queued pairs that would put a file into FOLDER,
//                                            keeping what it dropped in FOLDER\QueuedRenames.cancelled
//   CancelQueuedRenames.exe /restore FOLDER  queues them again (the rollback of a failed removal)
// A queued source inside FOLDER (the replacement Windows Installer wrote beside a file in use) is
// renamed to NAME.cancelled, which the removal deletes with the folder's other files and a failed
// removal puts back; the set-aside files and the folder are also queued for deletion at the restart. Exit codes: 0 done or nothing to do, 1 nothing changed (a read or write failed),
// 87 a bad command line.
#include <windows.h>

#include <string>

#include "platform/handles.h"
#include "renames/pending_renames.h"

namespace {

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kValue[] = L"PendingFileRenameOperations";
const wchar_t kRecord[] = L"QueuedRenames.cancelled";
const wchar_t kCancelledSuffix[] = L".cancelled";
const std::wstring kKernelPrefix = L"\\??\\";

// The value's data as UTF-16 units; false when it cannot be read. A missing value is an empty one.
bool ReadQueue(HKEY key, std::wstring* value) {
  value->clear();
  DWORD type = 0, bytes = 0;
  LONG status = RegQueryValueExW(key, kValue, nullptr, &type, nullptr, &bytes);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  // Anything but whole UTF-16 units of a string list is left alone.
  if (status != ERROR_SUCCESS || type != REG_MULTI_SZ || bytes % sizeof(wchar_t) != 0) return false;
  value->resize(bytes / sizeof(wchar_t));
  status = RegQueryValueExW(key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(&(*value)[0]), &bytes);
  value->resize(bytes / sizeof(wchar_t));
  return status == ERROR_SUCCESS && type == REG_MULTI_SZ;
}

bool WriteQueue(HKEY key, const std::wstring& value) {
  if (value.empty()) {
    const LONG status = RegDeleteValueW(key, kValue);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  }
  return RegSetValueExW(key, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(value.data()),
                        static_cast<DWORD>(value.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WriteRecord(const std::wstring& path, const std::wstring& data) {
  sys::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
  if (!file) return false;
  const DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  DWORD written = 0;
  return WriteFile(file.get(), data.data(), bytes, &written, nullptr) && written == bytes;
}

// The record's pairs; false when there is no readable record.
bool ReadRecord(const std::wstring& path, std::wstring* data) {
  sys::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const DWORD bytes = GetFileSize(file.get(), nullptr);
  if (bytes == INVALID_FILE_SIZE || bytes % sizeof(wchar_t) != 0) return false;
  data->resize(bytes / sizeof(wchar_t));
  DWORD read = 0;
  return bytes == 0 || (ReadFile(file.get(), &(*data)[0], bytes, &read, nullptr) && read == bytes);
}

int Cancel(HKEY key, const std::wstring& folder, const std::wstring& record) {
  std::wstring value;
  if (!ReadQueue(key, &value)) return 1;
  const renames::Cancelled cancelled = renames::CancelRenamesInto(value, folder);
  if (cancelled.dropped.empty()) return 0;
  // The record first: without it nothing changes, so a failed removal has nothing to get back.
  if (!WriteRecord(record, renames::AppendRenames(L"", cancelled.dropped))) return 1;
  // What is set aside is also queued for deletion, with the folder (removed only if empty): the
  // removal deletes it right after this step (RemoveFile row), and these are then no-ops at the
  // restart; an installer that does not honour that row (Wine's) leaves it until the restart.
  std::vector<renames::PendingRename> deletions;
  for (const renames::PendingRename& pair : cancelled.dropped) {
    if (!renames::LiesIn(pair.source, folder)) continue;  // not the package's: left where it is
    const std::wstring source = renames::Win32Path(pair.source);
    MoveFileExW(source.c_str(), (source + kCancelledSuffix).c_str(), MOVEFILE_REPLACE_EXISTING);
    deletions.push_back({kKernelPrefix + source + kCancelledSuffix, L""});
  }
  deletions.push_back({kKernelPrefix + record, L""});
  deletions.push_back({kKernelPrefix + folder, L""});
  return WriteQueue(key, renames::AppendRenames(cancelled.value, deletions)) ? 0 : 1;
}

int Restore(HKEY key, const std::wstring& folder, const std::wstring& record) {
  std::wstring data;
  if (!ReadRecord(record, &data)) return 0;  // nothing was cancelled
  const std::vector<renames::PendingRename> pairs = renames::ParseRenames(data);
  for (const renames::PendingRename& pair : pairs) {
    if (!renames::LiesIn(pair.source, folder)) continue;
    const std::wstring source = renames::Win32Path(pair.source);
    MoveFileExW((source + kCancelledSuffix).c_str(), source.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  std::wstring value;
  if (!ReadQueue(key, &value) || !WriteQueue(key, renames::AppendRenames(value, pairs))) return 1;
  DeleteFileW(record.c_str());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return ERROR_INVALID_PARAMETER;
  const std::wstring mode = argv[1];
  std::wstring folder = argv[2];
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  if (folder.empty() || (mode != L"/cancel" && mode != L"/restore")) return ERROR_INVALID_PARAMETER;
  sys::UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.receive()) !=
      ERROR_SUCCESS) {
    return 1;
  }
  const std::wstring record = folder + L"\\" + kRecord;
  return mode == L"/cancel" ? Cancel(key.get(), folder, record) : Restore(key.get(), folder, record);
}
