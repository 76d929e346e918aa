// What the service host's tests share: a log of what the launch code reaches, fakes that keep the
// arrival response's pauses and the launch itself out of real time, and the simulator's scenarios.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/syscalls.h"
#include "service/service_host.h"
#include "standins/t3fp_sim/t3fp_sim_control.h"
#include "tests/support/test_support.h"

namespace service_test {

// A zero-filled service host with the product's names, published for as long as the test lives, as
// the entry publishes the process's own.
struct ScopedServiceHost {
  ScopedServiceHost() {
    host.serviceName = kServiceName;
    host.displayName = kServiceName;
    g_serviceHost = &host;
  }
  ~ScopedServiceHost() { g_serviceHost = nullptr; }
  ScopedServiceHost(const ScopedServiceHost&) = delete;
  ScopedServiceHost& operator=(const ScopedServiceHost&) = delete;

  ServiceHost host{};
};

// One line per event, from whichever thread: "pause", "launch <command line>", "kill 111", ...
class EventLog {
 public:
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  size_t Count(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& l : lines_) n += l == line;
    return n;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

inline EventLog& Events() {
  static EventLog log;
  return log;
}

// The command line the launch code builds for the stand-in beside this binary.
inline std::string ExpectedLaunch() { return "launch \"" + test_support::OwnDirectory() + "Marrowbank.exe\""; }

// A finite wait is a pause between listing attempts: logged, and not waited out unless
// `g_realPauseFrom` says so (then the pauses from that one on are real, and a stop ends them).
inline int g_realPauseFrom = 0;
inline int g_pauses = 0;
inline DWORD WINAPI FakeWait(HANDLE handle, DWORD timeout) {
  // A look at the stop event (no time-out) is no pause.
  if (timeout == INFINITE || timeout == 0) return sys::realCalls().WaitForSingleObject(handle, timeout);
  Events().Add("pause");
  const bool real = g_realPauseFrom > 0 && ++g_pauses >= g_realPauseFrom;
  return sys::realCalls().WaitForSingleObject(handle, real ? timeout : 0);
}
inline VOID WINAPI FakeSleep(DWORD) { Events().Add("pause"); }

// The launch is reached with its command line and refused, so nothing is left running.
inline BOOL WINAPI FakeCreateProcessAsUser(HANDLE, LPCSTR, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                                          LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA,
                                          LPPROCESS_INFORMATION) {
  Events().Add(std::string("launch ") + commandLine);
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

// One disk of the family, encrypted (state 3), on the first list position.
constexpr char kOneDisk[] =
    "position\n"
    "  accessory 5\n"
    "  record\n"
    "    kind 2\n"
    "    info \\\\?\\info#disk0\n"
    "    path \\\\?\\usbstor#disk0\n"
    "    base.model NOVRA\n"
    "    base.vendor Marrowba\n"
    "    value 1\n"
    "    state 3\n";
constexpr char kNoDisk[] = "refresh 0\n";

// Pauses and launches logged instead of taken; the simulator set to `scenario`.
class LaunchFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Events().Clear();
    g_realPauseFrom = 0;
    g_pauses = 0;
    Scenario(kNoDisk);
  }
  void TearDown() override { SimReset(); }
  void Scenario(const char* text) { ASSERT_EQ(SimLoadScenario(text), 1) << SimLastError(); }

  sys::Calls& c_ = sys::calls();
  sys::ScopedCall<decltype(c_.WaitForSingleObject)> wait_{c_.WaitForSingleObject, FakeWait};
  sys::ScopedCall<decltype(c_.Sleep)> sleep_{c_.Sleep, FakeSleep};
  sys::ScopedCall<decltype(c_.CreateProcessAsUserA)> launch_{c_.CreateProcessAsUserA, FakeCreateProcessAsUser};
};

// The access list of an installation only administrators can change, as Windows gives it through
// GetNamedSecurityInfoA (one descriptor for the caller to LocalFree). Wine keeps none: every file's
// Unix owner has full control there, and the service would warn at every start.
inline DWORD WINAPI LockedFolderSecurity(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*,
                                         PACL* dacl, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(
          "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1, descriptor, nullptr)) {
    return GetLastError();
  }
  BOOL present = FALSE, defaulted = FALSE;
  ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
  ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
  return ERROR_SUCCESS;
}

}  // namespace service_test
