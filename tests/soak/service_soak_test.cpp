// The real MarrowbankServer.exe started and stopped 100 times under Wine's service manager: every
// start reaches RUNNING, every stop reaches STOPPED with exit code 0 reported, and the process
// ends with exit code 0. Polling is off; the stand-ins lie beside it as in an installation.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/tools/services.h"

namespace {

constexpr char kService[] = "MarrowbankServer";
constexpr char kInstallDir[] = "C:\\Program Files\\Marrowbank Soak\\";
constexpr int kCycles = 100;
// Far beyond a start or stop on a loaded machine: only a service that hangs reaches it.
constexpr DWORD kBoundMs = 30000;

const std::vector<std::string> kFiles = {"MarrowbankServer.exe", "t3FPDll.dll", "JMUsbDll.dll", "Marrowbank.exe"};

void RemoveEverything() {
  tools::RemoveService(kService);
  tools::RemoveInstallation(kInstallDir, kFiles);
}

TEST(ServiceSoak, HundredStartsAndStopsUnderTheServiceManager) {
  RemoveEverything();
  ASSERT_EQ(tools::LayOutInstallation(kInstallDir, kFiles, "[Fields]\r\nAutoBack=1\r\n"), "");
  ASSERT_EQ(tools::RegisterOwnProcessService(kService, "\"" + std::string(kInstallDir) + "MarrowbankServer.exe\""), "");
  // Wine ends service processes once no ordinary process of the prefix is left.
  sys::UniqueHandle keeper = tools::StartDetached(test_support::OwnDirectory() + "keeper.exe", "600");
  ASSERT_TRUE(keeper);

  int completed = 0;
  for (int cycle = 1; cycle <= kCycles; ++cycle) {
    const tools::ServiceCycle result = tools::StartAndStop(kService, kBoundMs);
    ASSERT_EQ(result.failure, "") << "cycle " << cycle;
    ASSERT_EQ(result.win32ExitCode, 0u) << "cycle " << cycle;
    ASSERT_EQ(result.exitCode, 0u) << "cycle " << cycle;
    ++completed;
  }
  std::printf("%d start and stop cycles\n", completed);

  TerminateProcess(keeper.get(), 0);
  RemoveEverything();
}

}  // namespace
