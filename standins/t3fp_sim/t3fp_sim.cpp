// Simulator of the fingerprint-device SDK t3FPDll.dll, for tests and demonstrations only.
//
// It answers the seven SDK calls from a scenario and records every call it receives as one line.
// Tests load a scenario in-process (t3fp_sim_control.h). Otherwise the simulator reads the file
// "t3fp-scenario.txt" in its own directory anew at every vsRefreshDeviceList (no file: no devices)
// and appends each call to "t3fp-calls.log" there, so a device is plugged by writing the file and
// unplugged by deleting it.
//
// Scenario format: one statement per line; blank lines and lines starting with '#' are ignored.
// A value is the rest of the line with surrounding blanks dropped, or, when it starts with a double
// quote, everything up to the last double quote on the line (so "Hoptrel  " keeps its blanks).
// No escapes: backslashes are literal.
//
//   refresh N          what vsRefreshDeviceList returns (any integer; default: number of positions)
//   block CALL MS      the SDK function CALL (for example vsRefreshDeviceList) answers, logs
//                      "CALL blocks MS ms" and only then returns, MS milliseconds later: a hung
//                      device. Every call to it blocks while the scenario holds the statement.
//   position           starts the next list position (0, 1, ...)
//     fail             vsGetADeviceFromDeviceList returns 0 for it and writes nothing
//     accessory N      accessory type (offset 0)
//     count N          record count at offset 297 (signed 8-bit; default: records given). Only three
//                      records fit the connect record; a larger count is written as given.
//     record           starts the next device record of the position
//       kind N         kind (offset 0 of the record)
//       info TEXT      information path (256 bytes)
//       path TEXT      device path (64 bytes)
//       base.model TEXT / base.vendor TEXT    what vsGetDeviceBaseInfo(path) writes
//       info.model TEXT / info.vendor TEXT    what vsGetDevicInfo(info) writes
//       value N        the 32-bit value at offset 272 of the device information
//       state N...|none what vsGetEncryptState(path) writes (any signed 8-bit value); several
//                      values answer successive queries, the last one repeating; none (the
//                      default) leaves the caller's state unwritten
//       nobase         vsGetDeviceBaseInfo returns 0 and writes nothing
//       noinfo         vsGetDevicInfo returns 0 and writes nothing
//
// Texts longer than their field fill it completely, without a terminator. Calls that name a path
// find the first record of the scenario with that path (a path that filled its field also answers
// to its first 63 characters); an unknown path gets 0 and nothing written.
//
// Example: one encrypted disk on the first position, and a position that fails.
//   position
//     accessory 5
//     record
//       kind 2
//       info \\?\info#disk0
//       path \\?\usbstor#disk0
//       base.model NOVRA
//       base.vendor "Marrowba "
//       value 1
//       state 1
//   position
//     fail
//
// Call lines: vsRefreshDeviceList(), vsGetADeviceFromDeviceList(0), vsInitFP(5, "path", 2, 0),
// vsGetDeviceBaseInfo("path"), vsGetDevicInfo("info"), vsConfigureDevice("path", 4, 0) (code, then
// the 16-bit value the address points to), vsGetEncryptState("path", 0) (the state as preset).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "device/fp_sdk.h"
#include "standins/t3fp_sim/t3fp_sim_control.h"

namespace {

struct Record {
  int32_t kind = 0;
  std::string infoPath, devicePath;
  std::string baseModel, baseVendor, infoModel, infoVendor;
  int32_t value = 0;
  // What successive state queries write, the last one repeating; empty leaves the state unwritten.
  std::vector<int> states;
  mutable size_t stateQueries = 0;
  bool noBase = false, noInfo = false;
};

struct Position {
  bool fail = false;
  int32_t accessory = 0;
  std::optional<int> count;
  std::vector<Record> records;
};

struct Scenario {
  std::optional<int> refresh;
  std::vector<Position> positions;
  std::map<std::string, DWORD> blocks;  // SDK function name -> milliseconds
};

const char* const kSdkFunctions[] = {"vsRefreshDeviceList", "vsGetADeviceFromDeviceList", "vsInitFP",
                                     "vsGetDeviceBaseInfo",  "vsGetDevicInfo",             "vsConfigureDevice",
                                     "vsGetEncryptState"};

std::mutex g_mutex;
HMODULE g_self = nullptr;
bool g_controlled = false;  // a scenario came through the control API: no files
Scenario g_scenario;
std::vector<std::string> g_calls;
std::string g_error;
std::string g_text;
// Performance-counter ticks spent inside the seven SDK calls, so that a benchmark can tell the
// simulator's share of a response from the caller's.
std::atomic<long long> g_busyTicks{0};

struct BusyTime {
  LARGE_INTEGER begin;
  BusyTime() { QueryPerformanceCounter(&begin); }
  ~BusyTime() {
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    g_busyTicks += end.QuadPart - begin.QuadPart;
  }
  BusyTime(const BusyTime&) = delete;
  BusyTime& operator=(const BusyTime&) = delete;
};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool ParseInt(const std::string& s, long long lo, long long hi, int& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 0);
  if (*end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

bool Parse(const std::string& text, Scenario& out, std::string& error) {
  out = Scenario{};
  size_t start = 0;
  int lineNo = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    size_t sp = t.find_first_of(" \t");
    std::string key = t.substr(0, sp);
    std::string value = sp == std::string::npos ? "" : Trim(t.substr(sp));
    if (!value.empty() && value[0] == '"') {
      // Quoted: keep everything between the first and the last quote of the raw line.
      size_t open = line.find('"');
      size_t close = line.rfind('"');
      if (close == open) {
        error = "line " + std::to_string(lineNo) + ": unterminated quote";
        return false;
      }
      value = line.substr(open + 1, close - open - 1);
    }
    auto fail = [&](const char* why) {
      error = "line " + std::to_string(lineNo) + ": " + why + ": " + key;
      return false;
    };
    Position* pos = out.positions.empty() ? nullptr : &out.positions.back();
    Record* rec = pos == nullptr || pos->records.empty() ? nullptr : &pos->records.back();
    int n = 0;
    if (key == "refresh") {
      if (!ParseInt(value, INT32_MIN, INT32_MAX, n)) return fail("bad number");
      out.refresh = n;
    } else if (key == "block") {
      const size_t gap = value.find_first_of(" \t");
      const std::string function = value.substr(0, gap);
      if (std::find(std::begin(kSdkFunctions), std::end(kSdkFunctions), function) == std::end(kSdkFunctions)) {
        return fail("unknown SDK function");
      }
      if (gap == std::string::npos || !ParseInt(Trim(value.substr(gap)), 0, INT32_MAX, n)) return fail("bad number");
      out.blocks[function] = static_cast<DWORD>(n);
    } else if (key == "position") {
      out.positions.emplace_back();
    } else if (key == "fail" || key == "accessory" || key == "count" || key == "record") {
      if (pos == nullptr) return fail("needs a position first");
      if (key == "fail") {
        pos->fail = true;
      } else if (key == "record") {
        pos->records.emplace_back();
      } else if (key == "accessory") {
        if (!ParseInt(value, INT32_MIN, INT32_MAX, n)) return fail("bad number");
        pos->accessory = n;
      } else {
        if (!ParseInt(value, -128, 127, n)) return fail("bad number");
        pos->count = n;
      }
    } else {
      if (rec == nullptr) return fail("needs a record first");
      if (key == "kind" || key == "value") {
        if (!ParseInt(value, INT32_MIN, INT32_MAX, n)) return fail("bad number");
        (key == "kind" ? rec->kind : rec->value) = n;
      } else if (key == "state") {
        rec->states.clear();
        if (value != "none") {
          std::istringstream words(value);
          for (std::string word; words >> word;) {
            if (!ParseInt(word, -128, 127, n)) return fail("bad number");
            rec->states.push_back(n);
          }
          if (rec->states.empty()) return fail("bad number");
        }
      } else if (key == "info") {
        rec->infoPath = value;
      } else if (key == "path") {
        rec->devicePath = value;
      } else if (key == "base.model") {
        rec->baseModel = value;
      } else if (key == "base.vendor") {
        rec->baseVendor = value;
      } else if (key == "info.model") {
        rec->infoModel = value;
      } else if (key == "info.vendor") {
        rec->infoVendor = value;
      } else if (key == "nobase") {
        rec->noBase = true;
      } else if (key == "noinfo") {
        rec->noInfo = true;
      } else {
        return fail("unknown statement");
      }
    }
  }
  return true;
}

std::string OwnDirectory() {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(g_self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "";
  char* slash = std::strrchr(path, '\\');
  if (slash != nullptr) slash[1] = '\0';
  return path;
}

void AppendLog(const std::string& line) {
  std::string file = OwnDirectory() + "t3fp-calls.log";
  if (FILE* f = std::fopen(file.c_str(), "ab")) {
    std::fprintf(f, "%s\r\n", line.c_str());
    std::fclose(f);
  }
}

void Note(const std::string& line) {
  g_calls.push_back(line);
  if (!g_controlled) AppendLog(line);
}

// A path as the caller passed it, readable in one line.
std::string Quote(const char* s) {
  if (s == nullptr) return "null";
  std::string out = "\"";
  for (const char* p = s; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The whole field when the text fits, else its first N bytes and no terminator.
template <size_t N>
void Fill(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

bool SamePath(const std::string& stored, const char* asked, size_t field) {
  if (asked == nullptr) return false;
  if (stored == asked) return true;
  return stored.size() >= field && stored.compare(0, field - 1, asked) == 0 &&
         std::strlen(asked) == field - 1;
}

template <typename Pred>
const Record* Find(Pred pred) {
  for (const Position& p : g_scenario.positions) {
    for (const Record& r : p.records) {
      if (pred(r)) return &r;
    }
  }
  return nullptr;
}

void ReadScenarioFile() {
  std::string file = OwnDirectory() + "t3fp-scenario.txt";
  std::string text;
  FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) {
    g_scenario = Scenario{};
    return;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);
  std::string error;
  if (!Parse(text, g_scenario, error)) {
    g_scenario = Scenario{};
    AppendLog("t3fp-scenario.txt: " + error);
  }
}

// Declared before a call's lock, so that it runs after the lock is released and the answer is made:
// the call blocks as a hung device would, without holding up the control exports.
class BlockOnReturn {
 public:
  explicit BlockOnReturn(const char* function) : function_(function) {}
  ~BlockOnReturn() {
    DWORD ms = 0;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      const auto found = g_scenario.blocks.find(function_);
      if (found == g_scenario.blocks.end()) return;
      ms = found->second;
      Note(std::string(function_) + " blocks " + std::to_string(ms) + " ms");
    }
    Sleep(ms);
  }
  BlockOnReturn(const BlockOnReturn&) = delete;
  BlockOnReturn& operator=(const BlockOnReturn&) = delete;

 private:
  const char* function_;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}

extern "C" {

int __cdecl vsRefreshDeviceList(void) {
  BlockOnReturn block("vsRefreshDeviceList");
  BusyTime busy;  // after the block, so that a held return is not counted
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_controlled) ReadScenarioFile();
  Note("vsRefreshDeviceList()");
  return g_scenario.refresh ? *g_scenario.refresh : static_cast<int>(g_scenario.positions.size());
}

unsigned char __cdecl vsGetADeviceFromDeviceList(signed char position, _deviceConnectInfo* info) {
  BlockOnReturn block("vsGetADeviceFromDeviceList");
  BusyTime busy;  // after the block, so that a held return is not counted
  std::lock_guard<std::mutex> lock(g_mutex);
  Note("vsGetADeviceFromDeviceList(" + std::to_string(position) + ")");
  if (info == nullptr || position < 0 || position >= static_cast<int>(g_scenario.positions.size())) {
    return 0;
  }
  const Position& p = g_scenario.positions[static_cast<size_t>(position)];
  if (p.fail) return 0;
  info->accessoryType = static_cast<_accessory_type>(p.accessory);
  info->recordCount = static_cast<int8_t>(p.count ? *p.count : static_cast<int>(p.records.size()));
  for (size_t i = 0; i < p.records.size() && i < 3; ++i) {
    const Record& r = p.records[i];
    info->records[i].kind = r.kind;
    Fill(info->records[i].infoPath, r.infoPath);
    Fill(info->records[i].devicePath, r.devicePath);
  }
  return 1;
}

unsigned char __cdecl vsInitFP(_accessory_type accessory, char* devicePath, way_crypt crypt,
                               sdk_work_mode mode) {
  BlockOnReturn block("vsInitFP");
  BusyTime busy;  // after the block, so that a held return is not counted
  std::lock_guard<std::mutex> lock(g_mutex);
  Note("vsInitFP(" + std::to_string(static_cast<int32_t>(accessory)) + ", " + Quote(devicePath) +
          ", " + std::to_string(static_cast<int32_t>(crypt)) + ", " +
          std::to_string(static_cast<int32_t>(mode)) + ")");
  return 1;
}

int __cdecl vsGetDeviceBaseInfo(const char* devicePath, _device_base_infomation* base) {
  BlockOnReturn block("vsGetDeviceBaseInfo");
  BusyTime busy;  // after the block, so that a held return is not counted
  std::lock_guard<std::mutex> lock(g_mutex);
  Note("vsGetDeviceBaseInfo(" + Quote(devicePath) + ")");
  const Record* r = Find([&](const Record& x) { return SamePath(x.devicePath, devicePath, 64); });
  if (r == nullptr || r->noBase || base == nullptr) return 0;
  Fill(base->modelId, r->baseModel);
  Fill(base->vendorId, r->baseVendor);
  return 1;
}

int __cdecl vsGetDevicInfo(const char* infoPath, _device_infomation* info) {
  BlockOnReturn block("vsGetDevicInfo");
  BusyTime busy;  // after the block, so that a held return is not counted
  std::lock_guard<std::mutex> lock(g_mutex);
  Note("vsGetDevicInfo(" + Quote(infoPath) + ")");
  const Record* r = Find([&](const Record& x) { return SamePath(x.infoPath, infoPath, 256); });
  if (r == nullptr || r->noInfo || info == nullptr) return 0;
  Fill(info->modelId, r->infoModel);
  Fill(info->vendorId, r->infoVendor);
  info->value272 = r->value;
  return 1;
}

unsigned char __cdecl vsConfigureDevice(const char* devicePath, _configerDevice config) {
  BlockOnReturn block("vsConfigureDevice");
  BusyTime busy;  // after the block, so that a held return is not counted
  std::lock_guard<std::mutex> lock(g_mutex);
  Note("vsConfigureDevice(" + Quote(devicePath) + ", " + std::to_string(config.code) + ", " +
          (config.value ? std::to_string(*config.value) : std::string("null")) + ")");
  return 1;
}

int __cdecl vsGetEncryptState(const char* devicePath, signed char& state) {
  BlockOnReturn block("vsGetEncryptState");
  BusyTime busy;  // after the block, so that a held return is not counted
  std::lock_guard<std::mutex> lock(g_mutex);
  Note("vsGetEncryptState(" + Quote(devicePath) + ", " + std::to_string(state) + ")");
  const Record* r = Find([&](const Record& x) { return SamePath(x.devicePath, devicePath, 64); });
  if (r == nullptr || r->states.empty()) return 0;
  const size_t answer = std::min(r->stateQueries++, r->states.size() - 1);
  state = static_cast<signed char>(r->states[answer]);
  return 1;
}

int __cdecl SimLoadScenario(const char* text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_controlled = true;
  g_calls.clear();
  g_error.clear();
  return Parse(text != nullptr ? text : "", g_scenario, g_error) ? 1 : (g_scenario = Scenario{}, 0);
}

void __cdecl SimReset(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_controlled = false;
  g_scenario = Scenario{};
  g_calls.clear();
  g_error.clear();
}

void __cdecl SimClearCalls(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.clear();
}

int __cdecl SimCallCount(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<int>(g_calls.size());
}

const char* __cdecl SimCallText(int index) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_text = index >= 0 && index < static_cast<int>(g_calls.size()) ? g_calls[static_cast<size_t>(index)] : "";
  return g_text.c_str();
}

long long __cdecl SimBusyTicks(void) { return g_busyTicks.load(); }

const char* __cdecl SimLastError(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_text = g_error;
  return g_text.c_str();
}

}  // extern "C"
