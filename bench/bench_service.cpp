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
#include "tests/tools/services.h"

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
    {"MarrowbankReference7", "reference_step7.exe", "+ worker ended through its queue"},
};
const char* const kSupportFiles[] = {"t3FPDll.dll", "JMUsbDll.dll", "Marrowbank.exe"};

std::string OwnDirectory() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\') + 1);
}

std::string Installed(const char* name) { return std::string(kInstallDir) + name; }

std::string LayOut() {
  CreateDirectoryA(kInstallDir, nullptr);
  CreateDirectoryA(Installed("language").c_str(), nullptr);
  const std::string from = OwnDirectory();
  std::vector<const char*> files(std::begin(kSupportFiles), std::end(kSupportFiles));
  for (const Variant& v : kVariants) files.push_back(v.exe);
  for (const char* name : files) {
    if (!CopyFileA((from + name).c_str(), Installed(name).c_str(), FALSE)) return std::string("cannot copy ") + name;
  }
  if (!bench::WriteFile(Installed("language\\ModeConfig.ini"), kModeConfig)) return "cannot write the mode file";
  for (const Variant& v : kVariants) {
    const std::string failure = tools::RegisterOwnProcessService(v.service, "\"" + Installed(v.exe) + "\"");
    if (!failure.empty()) return failure;
  }
  return std::string();
}

void Release() {
  for (const Variant& v : kVariants) tools::RemoveService(v.service);
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

  std::vector<bench::Summary> start(count), stop(count);
  for (size_t i = 0; i < count; ++i) {
    start[i] = bench::Summarize(starts[i]);
    stop[i] = bench::Summarize(stops[i]);
  }
  const double startRatio = start[0].median / start[1].median;
  const double stopRatio = stop[0].median / stop[1].median;

  std::printf("Start (StartService to RUNNING) and stop (STOP to STOPPED, process gone), ms, median (q1-q3),\n"
              "%d cycles each in alternating rounds; the share is the step's increase of the median:\n\n", cycles);
  std::printf("  %-47s %-22s %-22s\n", "", "start", "stop");
  for (size_t i = 0; i < count; ++i) {
    std::string startShare, stopShare;
    if (i >= 2) {
      startShare = " +" + bench::Number(start[i].median - start[i - 1].median);
      stopShare = " +" + bench::Number(stop[i].median - stop[i - 1].median);
    }
    std::printf("  %-47s %-22s %-22s\n", kVariants[i].what, (bench::Cell(start[i]) + startShare).c_str(),
                (bench::Cell(stop[i]) + stopShare).c_str());
  }
  std::printf("\n  start ratio product/reference %.2f (target at most 1.2)\n", startRatio);
  std::printf("  stop ratio  product/reference %.2f (target at most 1.2)\n", stopRatio);
  std::printf("  the product beside the last step: start %.2f, stop %.2f\n\n",
              start[0].median / start[count - 1].median, stop[0].median / stop[count - 1].median);

  std::string json = "{\"cycles\": " + std::to_string(cycles) + ", \"start_ratio\": " + bench::Number(startRatio) +
                     ", \"stop_ratio\": " + bench::Number(stopRatio) + ", \"variants\": [";
  for (size_t i = 0; i < count; ++i) {
    json += std::string(i ? ", " : "") + "{\"service\": \"" + kVariants[i].service + "\", \"what\": \"" +
            kVariants[i].what + "\", \"start_ms\": " + bench::Json(start[i]) +
            ", \"stop_ms\": " + bench::Json(stop[i]) + "}";
  }
  json += "]}";
  if (!bench::WriteFile(jsonPath, json)) {
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
