// The desktop program's manifest, read from the stand-ins: one that asks for administrator rights
// (in "requires-administrator" beside this binary) and the ordinary one.
#include "launch/program_manifest.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/syscalls.h"
#include "tests/platform/event_capture.h"
#include "tests/support/test_support.h"

namespace {

using test_support::OwnDirectory;

std::string AdminFolder() { return OwnDirectory() + "requires-administrator\\"; }

TEST(ProgramManifest, TheRequestedExecutionLevelIsReadWithoutRunningTheProgram) {
  EXPECT_EQ(RequestedExecutionLevel((AdminFolder() + "Marrowbank.exe").c_str()), "requireAdministrator");
  const std::string ordinary = RequestedExecutionLevel((OwnDirectory() + "Marrowbank.exe").c_str());
  EXPECT_TRUE(ordinary.empty() || ordinary == "asInvoker") << ordinary;
  EXPECT_EQ(RequestedExecutionLevel((OwnDirectory() + "absent.exe").c_str()), "");
  EXPECT_EQ(RequestedExecutionLevel((OwnDirectory() + "language").c_str()), "");  // no program at all
}

// The service's own path decides which program is read: here one beside each stand-in.
std::string g_modulePath;
DWORD WINAPI ModulePath(HMODULE, LPWSTR buffer, DWORD size) {
  return test_support::WideModulePath(g_modulePath, buffer, size);
}

// One warning naming the program, its level and the remedy when the manifest asks for administrator
// rights; nothing for the ordinary program.
TEST(ProgramManifest, AProgramThatNeedsAdministratorRightsIsOneWarning) {
  sys::ScopedCall<decltype(&::GetModuleFileNameW)> path(sys::calls().GetModuleFileNameW, ModulePath);
  const struct {
    std::string folder;
    std::vector<std::string> events;
  } cases[] = {
      {AdminFolder(), {"warning 0x800000CB: " + AdminFolder() + "Marrowbank.exe | requireAdministrator"}},
      {OwnDirectory(), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    g_modulePath = c.folder + "MarrowbankServer.exe";
    event_test::ScopedEventCapture events;
    WarnWhenProgramNeedsElevation();
    EXPECT_EQ(events.Events(), c.events);
    EXPECT_TRUE(events.Balanced());
  }
}

}  // namespace
