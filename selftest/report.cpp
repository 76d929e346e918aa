// The self-test's two forms of output and its exit code.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/json_text.h"
#include "selftest/self_test.h"
#include "service/command_switches.h"
#include "service/service_host.h"

namespace {

const char* LevelName(CheckLevel level) {
  switch (level) {
    case CheckLevel::kOk: return "OK";
    case CheckLevel::kWarn: return "WARN";
    default: return "FAIL";
  }
}

}  // namespace

DWORD SelfTestExitCode(const std::vector<CheckResult>& results) {
  CheckLevel worst = CheckLevel::kOk;
  for (const CheckResult& r : results) {
    if (r.level > worst) worst = r.level;
  }
  return static_cast<DWORD>(worst);
}

std::string SelfTestText(const std::vector<CheckResult>& results) {
  std::string text;
  int counts[3] = {};
  for (const CheckResult& r : results) {
    ++counts[static_cast<int>(r.level)];
    char head[16];
    std::snprintf(head, sizeof head, "%-4s ", LevelName(r.level));
    text += head + std::string(r.check) + " " + r.subject + ": " + r.saw + ".";
    if (!r.fix.empty()) text += " To do: " + r.fix;
    text += "\r\n";
  }
  char summary[160];
  std::snprintf(summary, sizeof summary, "%s self-test: %d OK, %d WARN, %d FAIL; exit code %lu\r\n",
                g_serviceHost->serviceName, counts[0], counts[1], counts[2],
                static_cast<unsigned long>(SelfTestExitCode(results)));
  return text + summary;
}

std::string SelfTestJson(const std::vector<CheckResult>& results) {
  std::string json = "{\"service\":" + JsonString(g_serviceHost->serviceName) +
                     ",\"exit_code\":" + std::to_string(SelfTestExitCode(results)) + ",\"checks\":[";
  for (size_t i = 0; i < results.size(); ++i) {
    const CheckResult& r = results[i];
    json += (i == 0 ? "" : ",");
    json += "{\"check\":" + JsonString(r.check) + ",\"subject\":" + JsonString(r.subject) +
            ",\"result\":" + JsonString(LevelName(r.level)) + ",\"saw\":" + JsonString(r.saw) +
            ",\"fix\":" + JsonString(r.fix) + "}";
  }
  return json + "]}\r\n";
}

DWORD RunSelfTest(bool json, bool quiet) {
  const std::vector<CheckResult> results = RunSelfTestChecks();
  const DWORD code = SelfTestExitCode(results);
  const std::string text = json ? SelfTestJson(results) : SelfTestText(results);
  TellAdministrator(text.c_str(), code == 2, quiet);
  return code;
}
