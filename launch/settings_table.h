// Every setting the service reads, one row each: the mode file's parser, the policy reader, the
// status output, the administrative templates and the README's table are all checked against these
// rows, so a setting is added here and at its use.
//
// The rows are data only. Each one gives the key (the same name in the mode file's section [Fields],
// as a policy value, and in `/status`), the kind of value, its accepted range, its default, when a
// change takes effect; the help text the templates carry is kept beside the rows.
#pragma once

#include <cstddef>

enum class SettingKind {
  kSwitch,    // 0 or 1 (the mode file: "0" is off, anything else on); REG_DWORD as a policy
  kSeconds,   // an integer in [minimum, maximum]; REG_DWORD as a policy
  kLaunchAs,  // "service" or "user"; REG_SZ as a policy
};

// When a changed value takes effect in a running service.
enum class SettingApplies {
  kNextDecision,  // read at each launch decision
  kAtOnce,        // applied when the change is seen (the timer, the accepted controls)
};

struct SettingRow {
  const char* key;
  SettingKind kind;
  unsigned minimum;  // kSwitch, kSeconds: the smallest accepted value
  unsigned maximum;  // kSwitch, kSeconds: the largest accepted value
  const char* defaultValue;  // as the mode file would spell it
  SettingApplies applies;
};

// Where Group Policy puts the settings, under HKEY_LOCAL_MACHINE: one value per row, named by its key.
inline constexpr char kPolicyKey[] = "SOFTWARE\\Policies\\Marrowbank\\MarrowbankServer";

// The index of each row, for code that uses one setting by name.
enum class Setting : std::size_t { kAutoBack, kPollSeconds, kLaunchAtLogon, kLaunchAs, kCount };

inline constexpr SettingRow kSettingRows[] = {
    {"AutoBack", SettingKind::kSwitch, 0, 1, "1", SettingApplies::kNextDecision},
    {"PollSeconds", SettingKind::kSeconds, 0, 86400, "0", SettingApplies::kAtOnce},
    {"LaunchAtLogon", SettingKind::kSwitch, 0, 1, "0", SettingApplies::kAtOnce},
    {"LaunchAs", SettingKind::kLaunchAs, 0, 0, "service", SettingApplies::kNextDecision},
};
static_assert(sizeof kSettingRows / sizeof kSettingRows[0] == static_cast<std::size_t>(Setting::kCount),
              "one row per Setting");

// Each row's help text, in the rows' order: one paragraph, English; the templates carry it and its
// translation. Apart from the rows so that the service, which never shows it, does not carry it.
inline constexpr const char* kSettingHelp[] = {
    "1: start the desktop program on every arrival of a disk of the family. 0: start it only for a disk whose "
        "encryption state calls for it.",
    "Check for devices every that many seconds (1 to 86400) and start the desktop program for the first listed "
        "disk, at most once until the disk list has been seen empty. 0: no polling. The polling check ignores "
        "AutoBack.",
    "1: when a user logs on at the console, and at service start if one is logged on already, start the desktop "
        "program if a disk of the family is plugged in. 0: only device arrivals (and polling) start it.",
    "service: start the desktop program with the service's LocalSystem token in the console session. user: start "
        "it with the token of the user logged on at the console, with that user's rights.",
};
static_assert(sizeof kSettingHelp / sizeof kSettingHelp[0] == static_cast<std::size_t>(Setting::kCount),
              "one help text per row");

constexpr const SettingRow& SettingRowOf(Setting setting) { return kSettingRows[static_cast<std::size_t>(setting)]; }
