// Start and stop of the real service against the reference services, from outside, under the
// service manager of the prefix it runs in. Run by scripts/bench.sh, which keeps an idle process
// alive in the prefix (the service manager ends service processes once none is left).
//
//   bench_service.exe measure CYCLES JSON_FILE   alternating rounds of start and stop; a table on
//                                                the terminal, the figures as JSON
//   bench_service.exe hold                       starts the product and the step-0 reference and
//                                                leaves them running (for the idle measurement)
//   bench_service.exe release                    stops and removes every service this program made
//
// The product, the stand-ins and the references are copied from beside this program into an
// installation directory with a space in its path, as a user would have it. Polling is off.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "bench/stats.h"
#include "json_writer.h"
#include "services.h"
#include "test_support.h"

namespace {

constexpr char kInstallDir[] = "C:\\Program Files\\Marrowbank Bench\\";
constexpr char kModeConfig[] = "[Fields]\r\nAutoBack=1\r\n";
constexpr DWORD kBoundMs = 30000;

struct Variant {
  const char* service;
  const char* exe;
  const char* what;
};
// The product first; then the references from the least a service can do up the product's pieces.
const Variant kVariants[] = {
    {"MarrowbankServer", "MarrowbankServer.exe", "product"},
    {"MarrowbankReference", "reference_service.exe", "reference: register, RUNNING, wait, STOPPED"},
    {"MarrowbankReference1", "reference_step1.exe", "+ state query before the dispatcher"},
    {"MarrowbankReference2", "reference_step2.exe", "+ user32"},
    {"MarrowbankReference3", "reference_step3.exe", "+ the SDK DLL"},
    {"MarrowbankReference4", "reference_step4.exe", "+ C++ stream objects"},
    {"MarrowbankReference5", "reference_step5.exe", "+ start-up steps and worker handshake"},
    {"MarrowbankReference6", "reference_step6.exe", "+ two STOP_PENDING reports"},
    {"MarrowbankReference7", "reference_step7.exe", "+ worker ended, one more STOP_PENDING"},
};
std::vector<std::string> Files() {
  std::vector<std::string> files = {"t3FPDll.dll", "JMUsbDll.dll", "Marrowbank.exe"};
  for (const Variant& v : kVariants) files.push_back(v.exe);
  return files;
}

std::string LayOut() {
  const std::string failure = tools::LayOutInstallation(kInstallDir, Files(), kModeConfig);
  if (!failure.empty()) return failure;
  for (const Variant& v : kVariants) {
    const std::string registered =
        tools::RegisterOwnProcessService(v.service, "\"" + std::string(kInstallDir) + v.exe + "\"");
    if (!registered.empty()) return registered;
  }
  return std::string();
}

void Release() {
  for (const Variant& v : kVariants) tools::RemoveService(v.service);
  tools::RemoveInstallation(kInstallDir, Files());
}

int Measure(int cycles, const std::string& jsonPath) {
  const size_t count = std::size(kVariants);
  std::vector<std::vector<double>> starts(count), stops(count);
  // One unmeasured cycle each first: the first start of an executable also pays for reading it.
  for (int round = -1; round < cycles; ++round) {
    for (size_t k = 0; k < count; ++k) {
      // Each round begins with another variant, so that none always follows the same one.
      const size_t i = (k + static_cast<size_t>(round + 1)) % count;
      const tools::ServiceCycle cycle = tools::StartAndStop(kVariants[i].service, kBoundMs);
      if (!cycle.failure.empty() || cycle.exitCode != 0) {
        std::fprintf(stderr, "%s: %s (exit code %lu)\n", kVariants[i].service, cycle.failure.c_str(),
                     cycle.exitCode);
        return 1;
      }
      if (round < 0) continue;
      starts[i].push_back(cycle.startMs);
      stops[i].push_back(cycle.stopMs);
    }
  }

  std::vector<bench::Summary> start(count), stop(count), startShare(count), stopShare(count);
  for (size_t i = 0; i < count; ++i) {
    start[i] = bench::Summarize(starts[i]);
    stop[i] = bench::Summarize(stops[i]);
    // A step's share: its time less the step before it in the same round (the product's: less the
    // last step), so that the load's drift between rounds cancels out.
    const size_t before = i == 0 ? count - 1 : i - 1;
    if (i == 1) continue;
    std::vector<double> startDiff, stopDiff;
    for (size_t r = 0; r < starts[i].size(); ++r) {
      startDiff.push_back(starts[i][r] - starts[before][r]);
      stopDiff.push_back(stops[i][r] - stops[before][r]);
    }
    startShare[i] = bench::Summarize(startDiff);
    stopShare[i] = bench::Summarize(stopDiff);
  }
  const double startRatio = start[0].median / start[1].median;
  const double stopRatio = stop[0].median / stop[1].median;
  std::vector<double> startRatios, stopRatios;
  for (size_t r = 0; r < starts[0].size(); ++r) {
    startRatios.push_back(starts[0][r] / starts[1][r]);
    stopRatios.push_back(stops[0][r] / stops[1][r]);
  }
  const bench::Summary startRoundRatio = bench::Summarize(startRatios), stopRoundRatio = bench::Summarize(stopRatios);

  std::printf("Start (StartService to RUNNING) and stop (STOP to STOPPED, process gone), ms, median (q1-q3) of\n"
              "%d cycles each in alternating rounds; a step's share is the median of its difference from the step\n"
              "above it in the same round (the product's: from the last step):\n\n", cycles);
  std::printf("  %-42s %-20s %-7s %-20s %-6s\n", "", "start", "share", "stop", "share");
  for (size_t i = 0; i < count; ++i) {
    const std::string startCell = i == 1 ? "" : bench::Number(startShare[i].median);
    const std::string stopCell = i == 1 ? "" : bench::Number(stopShare[i].median);
    std::printf("  %-42s %-20s %-7s %-20s %-6s\n", kVariants[i].what, bench::Cell(start[i]).c_str(), startCell.c_str(),
                bench::Cell(stop[i]).c_str(), stopCell.c_str());
  }
  std::printf("\n  start ratio product/reference %.2f, per round %.2f (%.2f-%.2f); target at most 1.2\n", startRatio,
              startRoundRatio.median, startRoundRatio.q1, startRoundRatio.q3);
  std::printf("  stop ratio  product/reference %.2f, per round %.2f (%.2f-%.2f); target at most 1.2\n\n", stopRatio,
              stopRoundRatio.median, stopRoundRatio.q1, stopRoundRatio.q3);

  test_support::JsonWriter json;
  json.BeginObject().Key("cycles").Integer(cycles).Key("start_ratio").Number(startRatio);
  json.Key("stop_ratio").Number(stopRatio).Key("start_ratio_per_round");
  bench::Write(json, startRoundRatio);
  json.Key("stop_ratio_per_round");
  bench::Write(json, stopRoundRatio);
  json.Key("variants").BeginArray();
  for (size_t i = 0; i < count; ++i) {
    json.BeginObject().Key("service").String(kVariants[i].service).Key("what").String(kVariants[i].what);
    json.Key("start_ms");
    bench::Write(json, start[i]);
    json.Key("stop_ms");
    bench::Write(json, stop[i]);
    // Step 0 has no step above it, so no share.
    if (i != 1) {
      json.Key("start_share_ms");
      bench::Write(json, startShare[i]);
      json.Key("stop_share_ms");
      bench::Write(json, stopShare[i]);
    }
    json.EndObject();
  }
  json.EndArray().EndObject();
  if (!test_support::WriteText(jsonPath, json.Text())) {
    std::fprintf(stderr, "cannot write %s\n", jsonPath.c_str());
    return 1;
  }
  return 0;
}

// Starts the product and the step-0 reference and leaves them running; prints their process ids.
int Hold() {
  for (size_t i = 0; i < 2; ++i) {
    const char* name = kVariants[i].service;
    sys::UniqueServiceHandle service = tools::OpenNamedService(name, SERVICE_START);
    SERVICE_STATUS_PROCESS seen{};
    if (!service || !StartServiceA(service.get(), 0, nullptr) ||
        !tools::PollFor(name, SERVICE_RUNNING, tools::NowMs(), kBoundMs, &seen)) {
      std::fprintf(stderr, "%s did not start\n", name);
      return 1;
    }
    std::printf("%s %lu\n", kVariants[i].exe, seen.dwProcessId);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "release") {
    Release();
    return 0;
  }
  const std::string failure = LayOut();
  if (!failure.empty()) {
    std::fprintf(stderr, "%s\n", failure.c_str());
    Release();
    return 1;
  }
  if (mode == "measure" && argc == 4) {
    const int result = Measure(std::atoi(argv[2]), argv[3]);
    Release();
    return result;
  }
  if (mode == "hold") return Hold();
  std::fprintf(stderr, "usage: bench_service.exe measure CYCLES JSON_FILE | hold | release\n");
  Release();
  return 2;
}
