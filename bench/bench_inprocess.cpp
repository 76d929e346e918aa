// The in-process figures: the service host runs in this process (ServiceMain, its control handler
// and the worker thread, with the service manager's calls answered through the platform-call
// table), the SDK simulator answers from scenarios, and the stand-in desktop program beside this
// program is started for real where a launch is timed. Pauses between listing attempts are counted,
// not slept.
//
//   bench_inprocess.exe ROUNDS JSON_FILE
//
// Prints a table and writes the figures as JSON:
//   footprint   private bytes, handles, threads after start, after 10,000 timer checks and after
//               1,000 arrivals (half of a disk of the family, half of a device that never lists)
//   arrival     from the arrival control to the return of the launch, beside the limit: the
//               simulator's time in the same arrival plus one bare CreateProcessAsUserA of the
//               same program
//   occupancy   how long the control handler holds the dispatcher's thread per arrival, beside
//               what the arrival response itself takes (the design that ran it on that thread)
//   timer       time per timer check at 1, 3, 30 and 128 list positions and the simulator's share
#include <windows.h>

#include <dbt.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/stats.h"
#include "device/device_manager.h"
#include "launch/command_line.h"
#include "launch/console_launcher.h"
#include "launch/launch_decisions.h"
#include "launch/settings.h"
#include "platform/handles.h"
#include "platform/syscalls.h"
#include "service/service_host.h"
#include "service/service_main.h"
#include "service/worker.h"
#include "footprint.h"
#include "json_writer.h"
#include "services.h"
#include "standins/t3fp_sim/t3fp_sim_control.h"
#include "test_support.h"

namespace {

using tools::NowMs;

constexpr int kTimerChecks = 10000;
constexpr int kArrivals = 1000;
constexpr int kBatch = 50;

// ---- The platform as the benchmark answers it ---------------------------------------------------

HANDLE g_reported = nullptr;    // auto-reset: a status report arrived
DWORD g_lastState = 0;
HANDLE g_launched = nullptr;    // auto-reset: a launch returned
bool g_realLaunch = false;      // start the program for real, or only record the launch
double g_launchReturnedMs = 0;
DWORD g_launchedPid = 0;
HANDLE g_pausesDone = nullptr;  // auto-reset: the pause counter reached g_pauseTarget
LONG g_pauses = 0;
LONG g_pauseTarget = 0;
HANDLE g_parked = nullptr;      // auto-reset: the worker is held at the start of timer message g_parkAt
HANDLE g_resume = nullptr;      // auto-reset: lets it go on
LONG g_kills = 0;
LONG g_parkAt = 0;

SERVICE_STATUS_HANDLE WINAPI FakeRegisterHandler(LPCSTR, LPHANDLER_FUNCTION_EX, LPVOID) {
  return reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);
}
HDEVNOTIFY WINAPI FakeRegisterDevice(HANDLE, LPVOID, DWORD) { return reinterpret_cast<HDEVNOTIFY>(0x5151); }
BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
  g_lastState = status->dwCurrentState;
  SetEvent(g_reported);
  return TRUE;
}
// The arrival response's pauses wait on the stop event; every other wait is real.
DWORD WINAPI CountPauses(HANDLE handle, DWORD ms) {
  if (ms != kPauseMs || handle != ServiceStopEvent()) return sys::realCalls().WaitForSingleObject(handle, ms);
  if (InterlockedIncrement(&g_pauses) == g_pauseTarget) SetEvent(g_pausesDone);
  return sys::realCalls().WaitForSingleObject(handle, 0);
}
VOID WINAPI CountSleep(DWORD) {
  if (InterlockedIncrement(&g_pauses) == g_pauseTarget) SetEvent(g_pausesDone);
}
BOOL WINAPI TimedLaunch(HANDLE token, LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                        LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                        LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION process) {
  BOOL created = TRUE;
  if (g_realLaunch) {
    created = sys::realCalls().CreateProcessAsUserA(token, application, commandLine, processAttributes,
                                                    threadAttributes, inherit, flags, environment, directory,
                                                    startup, process);
  } else {
    *process = PROCESS_INFORMATION{};
  }
  g_launchReturnedMs = NowMs();
  g_launchedPid = created ? process->dwProcessId : 0;
  SetEvent(g_launched);
  return created;
}
BOOL WINAPI ParkingKillTimer(HWND window, UINT_PTR id) {
  if (InterlockedIncrement(&g_kills) == g_parkAt) {
    SetEvent(g_parked);
    sys::realCalls().WaitForSingleObject(g_resume, INFINITE);
  }
  return sys::realCalls().KillTimer(window, id);
}

struct Overrides {
  sys::ScopedCall<decltype(&::RegisterServiceCtrlHandlerExA)> handler{sys::calls().RegisterServiceCtrlHandlerExA,
                                                                       FakeRegisterHandler};
  sys::ScopedCall<decltype(&::RegisterDeviceNotificationA)> device{sys::calls().RegisterDeviceNotificationA,
                                                                   FakeRegisterDevice};
  sys::ScopedCall<decltype(&::SetServiceStatus)> status{sys::calls().SetServiceStatus, FakeSetStatus};
  sys::ScopedCall<decltype(&::WaitForSingleObject)> wait{sys::calls().WaitForSingleObject, CountPauses};
  sys::ScopedCall<decltype(&::Sleep)> sleep{sys::calls().Sleep, CountSleep};
  sys::ScopedCall<decltype(&::CreateProcessAsUserA)> launch{sys::calls().CreateProcessAsUserA, TimedLaunch};
  sys::ScopedCall<decltype(&::KillTimer)> kill{sys::calls().KillTimer, ParkingKillTimer};
};

// ---- Helpers --------------------------------------------------------------------------------------

// `positions` list positions, each with one disk of the family whose encryption state is known.
std::string Disks(int positions) {
  std::string text;
  for (int i = 0; i < positions; ++i) {
    const std::string n = std::to_string(i);
    text += "position\n accessory 12\n record\n  kind 2\n  path disk" + n + "\n  info info" + n +
            "\n  base.model TAVRO211\n  base.vendor Marrowba\n  state 1\n";
  }
  return text;
}

bool Load(const std::string& scenario) {
  if (SimLoadScenario(scenario.c_str()) == 1) return true;
  std::fprintf(stderr, "scenario refused: %s\n", SimLastError());
  std::exit(1);
}

double TicksToMs(long long ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Await(HANDLE event) { sys::realCalls().WaitForSingleObject(event, INFINITE); }

void EndProcess(DWORD pid) {
  if (pid == 0) return;
  sys::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process) return;
  TerminateProcess(process.get(), 0);
  sys::realCalls().WaitForSingleObject(process.get(), INFINITE);
}

void Arrive() { ServiceControlHandler(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, nullptr, nullptr); }

void WriteFootprint(test_support::JsonWriter& json, const tools::Footprint& f) {
  json.BeginObject().Key("private_bytes").Integer(static_cast<long long>(f.privateBytes));
  json.Key("handles").Integer(f.handles).Key("threads").Integer(f.threads).EndObject();
}

// Holds the worker at the start of the next timer message posted after `more` messages.
void ParkAfter(LONG more) { g_parkAt = g_kills + more + 1; }
void PostTimers(DWORD worker, int count) {
  for (int i = 0; i < count; ++i) PostThreadMessageA(worker, WM_TIMER, kLaunchTimerId, 0);
}

// ---- Footprint ------------------------------------------------------------------------------------

struct FootprintFigures {
  tools::Footprint start, firstBatch, timers, arrivals;
  std::string openedOnce;  // the handles the first checks opened and kept, by type
};

std::string HandlesOpened(const std::map<std::string, int>& before, const std::map<std::string, int>& after) {
  std::string text;
  for (const auto& [type, count] : after) {
    const auto was = before.find(type);
    const int more = count - (was == before.end() ? 0 : was->second);
    if (more > 0) text += (text.empty() ? "" : ", ") + std::to_string(more) + " " + type;
  }
  return text.empty() ? "none" : text;
}

FootprintFigures MeasureFootprints(DWORD worker) {
  FootprintFigures figures;
  g_realLaunch = false;
  // Held before anything ran: the service as it is just after start.
  ParkAfter(0);
  PostTimers(worker, 1);
  Await(g_parked);
  figures.start = tools::MeasureFootprint();
  const std::map<std::string, int> startHandles = tools::HandleTypes();

  // Timer checks in batches, the disk present in every other batch, so that the program is started
  // (recorded, not created) and the started flag cleared again.
  for (int done = 0, batch = 0; done < kTimerChecks; done += 100, ++batch) {
    Load(batch % 2 == 0 ? Disks(1) : "");
    ParkAfter(100 - 1);
    PostTimers(worker, 100);
    SetEvent(g_resume);  // the held message's check runs first: 100 checks until the next hold
    Await(g_parked);
    SimClearCalls();
    if (batch == 0) {
      figures.firstBatch = tools::MeasureFootprint();
      figures.openedOnce = HandlesOpened(startHandles, tools::HandleTypes());
    }
  }
  figures.timers = tools::MeasureFootprint();

  // Arrivals in batches, a disk of the family and a device that never lists by turns; each batch
  // ends with a held timer message, which checks once more when the next batch lets it go.
  for (int done = 0, batch = 0; done < kArrivals; done += kBatch, ++batch) {
    Load(batch % 2 == 0 ? Disks(1) : "");
    for (int i = 0; i < kBatch; ++i) Arrive();
    ParkAfter(0);
    PostTimers(worker, 1);
    SetEvent(g_resume);
    Await(g_parked);
    SimClearCalls();
  }
  figures.arrivals = tools::MeasureFootprint();
  // Let go, the held timer check runs once more: with no device listed, and waited for (an arrival
  // behind it that lists nothing counts its pauses), so that it cannot start the program for real
  // once the next measurement loads a disk.
  Load("");
  g_parkAt = 0;
  g_pauseTarget = g_pauses + kListingAttempts;
  SetEvent(g_resume);
  Arrive();
  Await(g_pausesDone);
  return figures;
}

// ---- Arrival to launch, and the handler's occupancy ---------------------------------------------

struct ArrivalFigures {
  bench::Summary ours, limit, sdk, bare, direct;
  // Where ours goes beyond the limit: each piece timed alone, in the same rounds.
  bench::Summary runningCheck, modeFile, launcherSteps;
};

ArrivalFigures MeasureArrivalToLaunch(int rounds) {
  std::vector<double> ours, limit, sdk, bare, direct, runningCheck, modeFile, launcherSteps;
  char commandLine[kCommandLineBufferSize];
  BuildDesktopAppCommandLine(commandLine);

  // The limit's token is made beforehand, as the product makes its own: only the call is timed.
  sys::UniqueHandle processToken, token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, processToken.receive());
  DuplicateTokenEx(processToken.get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary,
                   token.receive());
  DWORD session = WTSGetActiveConsoleSessionId();
  SetTokenInformation(token.get(), TokenSessionId, &session, sizeof session);

  g_realLaunch = true;
  Load(Disks(1));
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 4; ++k) {
      switch ((k + round) % 4) {
        case 0: {  // the arrival control, handed to the worker, to the launch's return
          SimClearCalls();
          const long long busy = SimBusyTicks();
          ResetEvent(g_launched);
          const double start = NowMs();
          Arrive();
          Await(g_launched);
          ours.push_back(g_launchReturnedMs - start);
          sdk.push_back(TicksToMs(SimBusyTicks() - busy));
          EndProcess(g_launchedPid);
          break;
        }
        case 1: {  // the arrival response on the calling thread, as the earlier design ran it
          SimClearCalls();
          ResetEvent(g_launched);
          const double start = NowMs();
          OnDeviceArrival();
          Await(g_launched);
          direct.push_back(NowMs() - start);
          EndProcess(g_launchedPid);
          break;
        }
        case 2: {  // the pieces of the response that the limit does not have
          double start = NowMs();
          IsDesktopAppRunning();
          runningCheck.push_back(NowMs() - start);
          start = NowMs();
          ReadAutoBack();
          modeFile.push_back(NowMs() - start);
          // The launcher's token, session and environment steps up to its process creation, which
          // is only recorded here.
          char line[kCommandLineBufferSize];
          std::memcpy(line, commandLine, sizeof line);
          g_realLaunch = false;
          start = NowMs();
          LaunchInConsoleSession(line);
          launcherSteps.push_back(g_launchReturnedMs - start);
          g_realLaunch = true;
          break;
        }
        default: {  // one bare process creation of the same program
          char line[kCommandLineBufferSize];
          std::memcpy(line, commandLine, sizeof line);
          char desktop[] = "winsta0\\default";
          STARTUPINFOA startup{};
          startup.cb = sizeof startup;
          startup.lpDesktop = desktop;
          sys::UniqueProcessInformation process;
          const double start = NowMs();
          const BOOL created = CreateProcessAsUserA(token.get(), nullptr, line, nullptr, nullptr, FALSE,
                                                    CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS |
                                                        CREATE_NEW_CONSOLE,
                                                    nullptr, nullptr, &startup, process.receive());
          bare.push_back(NowMs() - start);
          if (created) EndProcess(process.get().dwProcessId);
          break;
        }
      }
    }
  }
  g_realLaunch = false;
  for (size_t i = 0; i < ours.size(); ++i) limit.push_back(sdk[i] + bare[i]);
  return {bench::Summarize(ours),         bench::Summarize(limit),    bench::Summarize(sdk),
          bench::Summarize(bare),         bench::Summarize(direct),   bench::Summarize(runningCheck),
          bench::Summarize(modeFile),     bench::Summarize(launcherSteps)};
}

struct OccupancyFigures {
  bench::Summary family, neverListing, directNeverListing;
};

OccupancyFigures MeasureOccupancy(int samples) {
  std::vector<double> family, never, directNever;
  g_realLaunch = false;
  Load(Disks(1));
  for (int i = 0; i < samples; ++i) {
    SimClearCalls();
    ResetEvent(g_launched);
    const double start = NowMs();
    Arrive();
    family.push_back((NowMs() - start) * 1000.0);
    Await(g_launched);
  }
  Load("");
  for (int i = 0; i < samples; ++i) {
    SimClearCalls();
    g_pauseTarget = g_pauses + kListingAttempts;
    const double start = NowMs();
    Arrive();
    never.push_back((NowMs() - start) * 1000.0);
    Await(g_pausesDone);
  }
  // On the calling thread, every listing attempt and pause there: the pauses are counted and
  // added at their length.
  for (int i = 0; i < samples / 10; ++i) {
    SimClearCalls();
    const LONG before = g_pauses;
    const double start = NowMs();
    OnDeviceArrival();
    directNever.push_back(NowMs() - start + static_cast<double>(g_pauses - before) * kPauseMs);
  }
  return {bench::Summarize(family), bench::Summarize(never), bench::Summarize(directNever)};
}

// ---- Timer check cost by list length --------------------------------------------------------------

struct TimerFigures {
  int positions;
  bench::Summary total, sdk, own;  // microseconds per check
};

std::vector<TimerFigures> MeasureTimerChecks(int rounds) {
  const int lengths[] = {1, 3, 30, 128};
  std::vector<double> total[4], sdk[4], own[4];
  g_realLaunch = false;
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 4; ++k) {
      const int i = (k + round) % 4;
      Load(Disks(lengths[i]));
      LaunchedFlag = 1;  // started before: each check lists and queries, and starts nothing
      for (int n = 0; n < 10; ++n) {
        SimClearCalls();
        const long long busy = SimBusyTicks();
        const double start = NowMs();
        OnLaunchTimer();
        const double us = (NowMs() - start) * 1000.0;
        const double sdkUs = TicksToMs(SimBusyTicks() - busy) * 1000.0;
        total[i].push_back(us);
        sdk[i].push_back(sdkUs);
        own[i].push_back(us - sdkUs);
      }
    }
  }
  LaunchedFlag = 0;
  std::vector<TimerFigures> figures;
  for (int i = 0; i < 4; ++i) {
    figures.push_back({lengths[i], bench::Summarize(total[i]), bench::Summarize(sdk[i]), bench::Summarize(own[i])});
  }
  return figures;
}

// Least-squares line through (positions, median) and how much of the medians' variance it
// explains (1: the cost grows exactly linearly).
void FitLine(const std::vector<TimerFigures>& figures, bench::Summary TimerFigures::*field, double* slope,
             double* intercept, double* explained) {
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const double n = static_cast<double>(figures.size());
  for (const TimerFigures& f : figures) {
    const double x = f.positions, y = (f.*field).median;
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  *slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  *intercept = (sy - *slope * sx) / n;
  double residual = 0, total = 0;
  for (const TimerFigures& f : figures) {
    const double y = (f.*field).median;
    residual += std::pow(y - (*intercept + *slope * f.positions), 2);
    total += std::pow(y - sy / n, 2);
  }
  *explained = total > 0 ? 1 - residual / total : 1;
}

DWORD WINAPI RunServiceMain(LPVOID) {
  ServiceMain(0, nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_inprocess.exe ROUNDS JSON_FILE\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  const std::string jsonPath = argv[2];
  // Every timed launch waits for the program to be started, which it is not while one runs.
  if (IsDesktopAppRunning()) {
    std::fprintf(stderr, "a Marrowbank.exe runs in this prefix: end it first\n");
    return 1;
  }

  // Polling off, AutoBack on: every arrival of a disk of the family starts the program.
  const std::string language = test_support::OwnDirectory() + "language";
  CreateDirectoryA(language.c_str(), nullptr);
  test_support::WriteText(language + "\\ModeConfig.ini", "[Fields]\r\nAutoBack=1\r\n");

  g_reported = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_launched = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_pausesDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_parked = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_resume = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  Overrides overrides;
  Load("");

  PublishServiceHost();
  sys::UniqueHandle serviceMain(CreateThread(nullptr, 0, RunServiceMain, nullptr, 0, nullptr));
  while (g_lastState != SERVICE_RUNNING) Await(g_reported);
  const DWORD worker = OpenMailboxThread();

  const FootprintFigures footprint = MeasureFootprints(worker);
  const ArrivalFigures arrival = MeasureArrivalToLaunch(rounds);
  const OccupancyFigures occupancy = MeasureOccupancy(rounds * 10);
  const std::vector<TimerFigures> timer = MeasureTimerChecks(rounds);

  ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
  while (g_lastState != SERVICE_STOPPED) Await(g_reported);
  Await(serviceMain.get());

  const double arrivalRatio = arrival.ours.median / arrival.limit.median;
  double slope, intercept, fit, ownSlope, ownIntercept, ownFit;
  FitLine(timer, &TimerFigures::total, &slope, &intercept, &fit);
  FitLine(timer, &TimerFigures::own, &ownSlope, &ownIntercept, &ownFit);

  std::printf("Footprint of the service in this process (private bytes, handles, threads):\n");
  const std::pair<const char*, tools::Footprint> rows[] = {{"after start", footprint.start},
                                                            {"after the first 100 timer checks", footprint.firstBatch},
                                                            {"after 10,000 timer checks", footprint.timers},
                                                            {"after 1,000 arrivals", footprint.arrivals}};
  for (const auto& row : rows) {
    std::printf("  %-34s %9zu %5d %3d\n", row.first, row.second.privateBytes, row.second.handles, row.second.threads);
  }
  std::printf("  kept open by the first checks (one-time): %s\n", footprint.openedOnce.c_str());
  std::printf("  growth after the first 100 checks: %+lld bytes, %+d handles, %+d threads\n\n",
              static_cast<long long>(footprint.arrivals.privateBytes) -
                  static_cast<long long>(footprint.firstBatch.privateBytes),
              footprint.arrivals.handles - footprint.firstBatch.handles,
              footprint.arrivals.threads - footprint.firstBatch.threads);

  std::printf("Arrival to launch (ms, median (q1-q3), %d rounds):\n", rounds);
  std::printf("  ours: arrival control to the launch's return       %s\n", bench::Cell(arrival.ours).c_str());
  std::printf("  limit: simulator's calls + one bare process start %s (%s + %s)\n", bench::Cell(arrival.limit).c_str(),
              bench::Number(arrival.sdk.median).c_str(), bench::Number(arrival.bare.median).c_str());
  std::printf("  ratio ours/limit %.3f (target at most 1.05)\n", arrivalRatio);
  std::printf("  beyond the limit, each piece alone: running check %s, mode file %s, launcher's token and\n"
              "  environment steps %s; hand-over to the worker and the rest %s\n\n",
              bench::Number(arrival.runningCheck.median).c_str(), bench::Number(arrival.modeFile.median).c_str(),
              bench::Number(arrival.launcherSteps.median).c_str(),
              bench::Number(arrival.ours.median - arrival.limit.median - arrival.runningCheck.median -
                            arrival.modeFile.median - arrival.launcherSteps.median)
                  .c_str());

  std::printf("Control handler's occupancy per arrival (us, median (q1-q3), max), target under 1000 us:\n");
  std::printf("  disk of the family        %s, max %s\n", bench::Cell(occupancy.family).c_str(),
              bench::Number(occupancy.family.max).c_str());
  std::printf("  device that never lists   %s, max %s\n", bench::Cell(occupancy.neverListing).c_str(),
              bench::Number(occupancy.neverListing.max).c_str());
  std::printf("  the response on the dispatcher's thread instead: family %s ms, never listing %s ms\n\n",
              bench::Number(arrival.direct.median).c_str(), bench::Number(occupancy.directNeverListing.median).c_str());

  std::printf("Timer check by list length, the started flag set (us per check, median): total, simulator, ours\n");
  for (const TimerFigures& f : timer) {
    std::printf("  %3d positions  %9s %9s %9s\n", f.positions, bench::Number(f.total.median).c_str(),
                bench::Number(f.sdk.median).c_str(), bench::Number(f.own.median).c_str());
  }
  std::printf("  straight line: total %.3g + %.3g us/position (R2 %.4f); ours %.3g + %.3g us/position (R2 %.4f)\n\n",
              intercept, slope, fit, ownIntercept, ownSlope, ownFit);

  test_support::JsonWriter json;
  json.BeginObject().Key("footprint").BeginObject();
  json.Key("after_start");
  WriteFootprint(json, footprint.start);
  json.Key("after_first_100_timer_checks");
  WriteFootprint(json, footprint.firstBatch);
  json.Key("after_10000_timer_checks");
  WriteFootprint(json, footprint.timers);
  json.Key("after_1000_arrivals");
  WriteFootprint(json, footprint.arrivals);
  json.Key("kept_open_by_first_checks").String(footprint.openedOnce).EndObject();

  const std::pair<const char*, const bench::Summary*> arrivalRows[] = {
      {"ours_ms", &arrival.ours}, {"limit_ms", &arrival.limit}, {"sdk_ms", &arrival.sdk},
      {"bare_create_ms", &arrival.bare}};
  json.Key("arrival_to_launch").BeginObject();
  for (const auto& row : arrivalRows) {
    json.Key(row.first);
    bench::Write(json, *row.second);
  }
  json.Key("ratio").Number(arrivalRatio);
  const std::pair<const char*, const bench::Summary*> pieceRows[] = {{"running_check_ms", &arrival.runningCheck},
                                                                      {"mode_file_ms", &arrival.modeFile},
                                                                      {"launcher_steps_ms", &arrival.launcherSteps}};
  for (const auto& row : pieceRows) {
    json.Key(row.first);
    bench::Write(json, *row.second);
  }
  json.EndObject();

  const std::pair<const char*, const bench::Summary*> occupancyRows[] = {
      {"family", &occupancy.family},
      {"never_listing", &occupancy.neverListing},
      {"on_dispatcher_thread_family_ms", &arrival.direct},
      {"on_dispatcher_thread_never_listing_ms", &occupancy.directNeverListing}};
  json.Key("handler_occupancy_us").BeginObject();
  for (const auto& row : occupancyRows) {
    json.Key(row.first);
    bench::Write(json, *row.second);
  }
  json.EndObject();

  json.Key("timer_check_us").BeginArray();
  for (const TimerFigures& f : timer) {
    json.BeginObject().Key("positions").Integer(f.positions);
    json.Key("total");
    bench::Write(json, f.total);
    json.Key("sdk");
    bench::Write(json, f.sdk);
    json.Key("own");
    bench::Write(json, f.own);
    json.EndObject();
  }
  json.EndArray();
  json.Key("timer_line").BeginObject().Key("us_per_position").Number(slope).Key("intercept_us").Number(intercept);
  json.Key("r2").Number(fit).Key("own_us_per_position").Number(ownSlope);
  json.Key("own_intercept_us").Number(ownIntercept).Key("own_r2").Number(ownFit).EndObject();
  json.EndObject();
  if (!test_support::WriteText(jsonPath, json.Text())) {
    std::fprintf(stderr, "cannot write %s\n", jsonPath.c_str());
    return 1;
  }
  return 0;
}
