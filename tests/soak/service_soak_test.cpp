// The real MarrowbankServer.exe started and stopped 100 times under Wine's service manager: every
// start reaches RUNNING, every stop reaches STOPPED with exit code 0 reported, and the process
// ends with exit code 0. Polling is off; the stand-ins lie beside it as in an installation.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/tools/services.h"

namespace {

constexpr char kService[] = "MarrowbankServer";
constexpr char kInstallDir[] = "C:\\Program Files\\Marrowbank Soak\\";
constexpr int kCycles = 100;
// Far beyond a start or stop on a loaded machine: only a service that hangs reaches it.
constexpr DWORD kBoundMs = 30000;

const char* const kFiles[] = {"MarrowbankServer.exe", "t3FPDll.dll", "JMUsbDll.dll", "Marrowbank.exe"};

std::string OwnDirectory() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\') + 1);
}

std::string Installed(const char* name) { return std::string(kInstallDir) + name; }

void RemoveInstallation() {
  tools::RemoveService(kService);
  for (const char* name : kFiles) DeleteFileA(Installed(name).c_str());
  DeleteFileA(Installed("language\\ModeConfig.ini").c_str());
  RemoveDirectoryA(Installed("language").c_str());
  RemoveDirectoryA(kInstallDir);
}

TEST(ServiceSoak, HundredStartsAndStopsUnderTheServiceManager) {
  RemoveInstallation();
  ASSERT_TRUE(CreateDirectoryA(kInstallDir, nullptr));
  ASSERT_TRUE(CreateDirectoryA(Installed("language").c_str(), nullptr));
  for (const char* name : kFiles) {
    ASSERT_TRUE(CopyFileA((OwnDirectory() + name).c_str(), Installed(name).c_str(), FALSE)) << name;
  }
  ASSERT_TRUE(WritePrivateProfileStringA("Fields", "AutoBack", "1", Installed("language\\ModeConfig.ini").c_str()));
  ASSERT_EQ(tools::RegisterOwnProcessService(kService, "\"" + Installed("MarrowbankServer.exe") + "\""), "");
  // Wine ends service processes once no ordinary process of the prefix is left.
  sys::UniqueHandle keeper = tools::StartDetached(OwnDirectory() + "keeper.exe", "600");
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
  RemoveInstallation();
}

}  // namespace
