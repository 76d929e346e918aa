// Prints the rows of launch/settings_table.h, one a line, tab-separated, for check_templates.py:
//   policykey <the policy key under HKEY_LOCAL_MACHINE>
//   row <key> <kind> <minimum> <maximum> <default> <accepted values, comma-separated> <help>
// A kind's accepted values are what its policy offers as choices (kLaunchAs: an enumeration).
#include <cstddef>
#include <cstdio>

#include "launch/settings_table.h"

namespace {

const char* KindName(SettingKind kind) {
  switch (kind) {
    case SettingKind::kSwitch:
      return "switch";
    case SettingKind::kSeconds:
      return "seconds";
    case SettingKind::kLaunchAs:
      return "launchas";
  }
  return "?";
}

const char* AcceptedValues(SettingKind kind) { return kind == SettingKind::kLaunchAs ? "service,user" : "-"; }

}  // namespace

int main() {
  std::printf("policykey\t%s\n", kPolicyKey);
  for (std::size_t i = 0; i < sizeof kSettingRows / sizeof kSettingRows[0]; ++i) {
    const SettingRow& row = kSettingRows[i];
    std::printf("row\t%s\t%s\t%u\t%u\t%s\t%s\t%s\n", row.key, KindName(row.kind), row.minimum, row.maximum,
                row.defaultValue, AcceptedValues(row.kind), kSettingHelp[i]);
  }
  return 0;
}
