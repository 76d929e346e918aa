// Settings applied while the service runs. A thread of the worker's own waits on the policy key's
// change notification and on the install folder's, and once a burst of changes has settled (an
// editor saving twice, a policy refresh touching every value) posts the worker one kSettingsMessage.
// The worker re-reads the settings and applies what changed; the control handler has no part in it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "launch/settings.h"

// How long a change must be followed by no other before the settings are read again.
constexpr DWORD kSettingsSettleMs = 500;

// Each setting whose value differs between `before` and `after`, as "PollSeconds: 0 -> 30 (policy)",
// joined by "; "; "" when none does.
std::string DescribeSettingChanges(const Settings& before, const Settings& after);

// Watches while it lives. A watch that cannot be armed, or stops working, is one warning event; the
// settings are then read at start only.
// The notifications are armed on the constructing thread (the worker), before it reports itself
// ready, so that every call they make has its place in the service's start-up; the watch's own thread
// only waits, and is ended and joined by the destructor.
class SettingsWatch {
 public:
  SettingsWatch();
  ~SettingsWatch();
  SettingsWatch(const SettingsWatch&) = delete;
  SettingsWatch& operator=(const SettingsWatch&) = delete;

  struct Watcher;

 private:
  std::unique_ptr<Watcher> watcher_;
  HANDLE thread_ = nullptr;
};
