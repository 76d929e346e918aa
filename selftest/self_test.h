// MarrowbankServer.exe /selftest [/json]: checks the machine the service runs on and says, one line per
// check, what it saw and what to do. It changes nothing, and needs administrator rights only where
// Windows does (reading the service's configuration, some access lists).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class CheckLevel { kOk, kWarn, kFail };

struct CheckResult {
  const char* check;    // the check's stable name: "registration", "signature", ...
  std::string subject;  // what was checked: the service's name or a file's path
  CheckLevel level;
  std::string saw;      // what was found, and why it matters
  std::string fix;      // what to do; "" when nothing is to be done
};

// Every check, in the order they are shown. Each check's failure is one line of its own.
std::vector<CheckResult> RunSelfTestChecks();

// 0 when every check passed, 1 when any warned and none failed, 2 when any failed.
DWORD SelfTestExitCode(const std::vector<CheckResult>& results);

// One line per check, "OK  ", "WARN" or "FAIL", the check, its subject, what it saw and what to do;
// then a summary line.
std::string SelfTestText(const std::vector<CheckResult>& results);

// The same as one JSON object: {"service", "exit_code", "checks": [{"check", "subject", "result",
// "saw", "fix"}]}, ASCII only (other characters as \u escapes of their UTF-16 units).
std::string SelfTestJson(const std::vector<CheckResult>& results);

// Runs the checks and tells the administrator (standard output, the parent's console, or a box
// unless `quiet`); answers the exit code.
DWORD RunSelfTest(bool json, bool quiet);
