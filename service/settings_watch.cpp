#include "service/settings_watch.h"

#include <cstring>
#include <vector>

#include "platform/handles.h"
#include "platform/syscalls.h"
#include "service/service_events.h"
#include "service/worker.h"

namespace {

constexpr DWORD kKeyChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
// The mode file's folder: the file written, replaced, renamed or removed. While that folder is absent,
// its parent, for the folder's creation alone: what else happens beside the executable is no concern.
constexpr DWORD kModeFolderChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
constexpr DWORD kParentChanges = FILE_NOTIFY_CHANGE_DIR_NAME;

// The policy key may not exist yet: the nearest key of its path that does is watched with its
// subtree, so that the key's creation is seen too, and the watch moves down as the path appears.
const char* const kPolicyPath[] = {kPolicyKey, "SOFTWARE\\Policies\\Marrowbank", "SOFTWARE\\Policies", "SOFTWARE"};

}  // namespace

struct SettingsWatch::Watcher {
  // The watch's own events are made and closed directly, outside the call table, as is its thread:
  // they have no place in the order of the service's own calls.
  HANDLE quit = nullptr;        // set to end the watch
  HANDLE keyChanged = nullptr;  // auto-reset
  sys::UniqueRegistryKey key;
  HANDLE folderChanged = INVALID_HANDLE_VALUE;
  bool reported = false;

  bool keyArmed = false;
  bool folderArmed = false;

  ~Watcher() {
    if (folderChanged != INVALID_HANDLE_VALUE) sys::calls().FindCloseChangeNotification(folderChanged);
    if (quit != nullptr) ::CloseHandle(quit);
    if (keyChanged != nullptr) ::CloseHandle(keyChanged);
  }

  // On the worker's thread: both notifications asked for. False when neither can be.
  bool Arm() {
    keyChanged = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (keyChanged == nullptr) Failed("CreateEventA", ::GetLastError());
    keyArmed = keyChanged != nullptr && ArmKey();
    folderArmed = ArmFolder();
    return keyArmed || folderArmed;
  }

  void Failed(const char* step, DWORD error) {
    if (!reported) ReportSettingsNotWatched(step, error);
    reported = true;
  }

  // (Re)opens the nearest existing key and asks for its next change; false when it cannot.
  bool ArmKey() {
    // Closing the key signals its notification's event: that is no change.
    key.reset();
    ::ResetEvent(keyChanged);
    for (const char* path : kPolicyPath) {
      const LONG opened = sys::calls().RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY | kPolicyView,
                                                     key.receive());
      if (opened == ERROR_SUCCESS) break;
      if (opened != ERROR_FILE_NOT_FOUND && opened != ERROR_PATH_NOT_FOUND) {
        Failed("RegOpenKeyExA", static_cast<DWORD>(opened));
        return false;
      }
    }
    if (!key) return false;
    const LONG armed = sys::calls().RegNotifyChangeKeyValue(key.get(), TRUE, kKeyChanges, keyChanged, TRUE);
    if (armed != ERROR_SUCCESS) {
      Failed("RegNotifyChangeKeyValue", static_cast<DWORD>(armed));
      return false;
    }
    return true;
  }

  // The mode file's folder, by the mode file's own rule, or while it is absent the folder above it.
  bool ArmFolder() {
    if (folderChanged != INVALID_HANDLE_VALUE) sys::calls().FindCloseChangeNotification(folderChanged);
    folderChanged = INVALID_HANDLE_VALUE;
    char path[kModeFilePathSize];
    if (!ModeFilePath(path)) return false;
    *std::strrchr(path, '\\') = '\0';  // the mode file's folder; its name holds a separator
    folderChanged = sys::calls().FindFirstChangeNotificationA(path, FALSE, kModeFolderChanges);
    if (folderChanged == INVALID_HANDLE_VALUE && (::GetLastError() == ERROR_FILE_NOT_FOUND ||
                                                  ::GetLastError() == ERROR_PATH_NOT_FOUND)) {
      char* parent = std::strrchr(path, '\\');
      if (parent != nullptr) parent[1] = '\0';
      folderChanged = sys::calls().FindFirstChangeNotificationA(path, FALSE, kParentChanges);
    }
    if (folderChanged == INVALID_HANDLE_VALUE) {
      Failed("FindFirstChangeNotificationA", ::GetLastError());
      return false;
    }
    return true;
  }

  // On the watch's thread. The waits are made directly: a wait of this thread has no place in the
  // order of the service's own calls.
  void Run() {
    bool settling = false;
    for (;;) {
      std::vector<HANDLE> waits{quit};
      if (keyArmed) waits.push_back(keyChanged);
      if (folderArmed) waits.push_back(folderChanged);
      if (waits.size() == 1 && !settling) break;  // nothing left to watch
      const DWORD woke = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                                             settling ? kSettingsSettleMs : INFINITE);
      if (woke == WAIT_OBJECT_0) return;
      if (woke == WAIT_TIMEOUT) {
        settling = false;
        PostToWorker(kSettingsMessage);
        continue;
      }
      if (woke == WAIT_FAILED || woke >= WAIT_OBJECT_0 + waits.size()) {
        Failed("WaitForMultipleObjects", ::GetLastError());
        return;
      }
      const HANDLE which = waits[woke - WAIT_OBJECT_0];
      settling = true;
      // Each notification is asked for again before the settings are read, so that no change between
      // the read and the next notification goes unseen.
      // The folder is watched anew each time: the mode file's folder may have come or gone.
      if (which == keyChanged) {
        keyArmed = ArmKey();
      } else {
        folderArmed = ArmFolder();
      }
    }
  }
};

namespace {

DWORD WINAPI WatchThread(LPVOID watcher) {
  static_cast<SettingsWatch::Watcher*>(watcher)->Run();
  return 0;
}

}  // namespace

std::string DescribeSettingChanges(const Settings& before, const Settings& after) {
  std::string changes;
  for (std::size_t i = 0; i < static_cast<std::size_t>(Setting::kCount); ++i) {
    const Setting setting = static_cast<Setting>(i);
    const std::string was = SettingValueText(before, setting), is = SettingValueText(after, setting);
    if (was == is) continue;
    if (!changes.empty()) changes += "; ";
    changes += std::string(kSettingRows[i].key) + ": " + was + " -> " + is + " (" +
               SettingOriginName(after.OriginOf(setting)) + ")";
  }
  return changes;
}

SettingsWatch::SettingsWatch() : watcher_(new Watcher) {
  if (!watcher_->Arm()) {
    watcher_.reset();
    return;
  }
  watcher_->quit = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (watcher_->quit != nullptr) {
    thread_ = ::CreateThread(nullptr, 0, WatchThread, watcher_.get(), 0, nullptr);
  }
  if (thread_ == nullptr) {
    watcher_->Failed("CreateThread", ::GetLastError());
    watcher_.reset();
  }
}

SettingsWatch::~SettingsWatch() {
  if (thread_ == nullptr) return;
  // The watch's thread waits on nothing but its handles: it ends as soon as `quit` is set, and the
  // watcher it uses is released only after it has ended.
  ::SetEvent(watcher_->quit);
  ::WaitForSingleObject(thread_, INFINITE);
  ::CloseHandle(thread_);
}
