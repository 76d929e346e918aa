#include "service/settings_watch.h"

#include <cstring>
#include <vector>

#include "platform/handles.h"
#include "platform/syscalls.h"
#include "service/service_events.h"
#include "service/worker.h"

namespace {

constexpr DWORD kKeyChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
constexpr DWORD kFolderChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                 FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

// The policy key may not exist yet: the nearest key of its path that does is watched with its
// subtree, so that the key's creation is seen too, and the watch moves down as the path appears.
const char* const kPolicyPath[] = {kPolicyKey, "SOFTWARE\\Policies\\Marrowbank", "SOFTWARE\\Policies", "SOFTWARE"};

}  // namespace

struct SettingsWatch::Watcher {
  HANDLE quit = nullptr;  // set to end the watch; made and closed directly, outside the call table
  sys::UniqueHandle keyChanged;
  sys::UniqueRegistryKey key;
  HANDLE folderChanged = INVALID_HANDLE_VALUE;
  bool reported = false;

  bool keyArmed = false;
  bool folderArmed = false;

  ~Watcher() {
    if (folderChanged != INVALID_HANDLE_VALUE) sys::calls().FindCloseChangeNotification(folderChanged);
    if (quit != nullptr) ::CloseHandle(quit);
  }

  // On the worker's thread: both notifications asked for. False when neither can be.
  bool Arm() {
    keyChanged.reset(sys::calls().CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!keyChanged) Failed("CreateEventA", ::GetLastError());
    keyArmed = keyChanged && ArmKey();
    folderArmed = ArmFolder();
    return keyArmed || folderArmed;
  }

  void Failed(const char* step, DWORD error) {
    if (!reported) ReportSettingsNotWatched(step, error);
    reported = true;
  }

  // (Re)opens the nearest existing key and asks for its next change; false when it cannot.
  bool ArmKey() {
    key.reset();
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
    const LONG armed = sys::calls().RegNotifyChangeKeyValue(key.get(), TRUE, kKeyChanges, keyChanged.get(), TRUE);
    if (armed != ERROR_SUCCESS) {
      Failed("RegNotifyChangeKeyValue", static_cast<DWORD>(armed));
      return false;
    }
    return true;
  }

  // The folder that holds the executable and the mode file's folder, by the mode file's own rule.
  bool ArmFolder() {
    char path[kModeFilePathSize];
    if (!ModeFilePath(path)) return false;
    path[std::strlen(path) - (sizeof kModeFileName - 1)] = '\0';
    folderChanged = sys::calls().FindFirstChangeNotificationA(path, TRUE, kFolderChanges);
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
      if (keyArmed) waits.push_back(keyChanged.get());
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
      if (which == keyChanged.get()) {
        keyArmed = ArmKey();
      } else if (!sys::calls().FindNextChangeNotification(folderChanged)) {
        Failed("FindNextChangeNotification", ::GetLastError());
        folderArmed = false;
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
    thread_ = sys::calls().CreateThread(nullptr, 0, WatchThread, watcher_.get(), 0, nullptr);
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
  sys::calls().CloseHandle(thread_);
}
