// The stand-in desktop program itself: what a person sees, and how tests end it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/launch/test_files.h"

namespace {

TEST(DesktopAppStandIn, ShowsAWindowSayingWhatItIsAndEndsWhenClosed) {
  launch_test::StandIn app(test_support::OwnDirectory() + "Marrowbank.exe", "shown");
  ASSERT_TRUE(app.started());
  // The first window on a fresh display can take some seconds.
  HWND window = nullptr;
  test_support::WaitUntil(
      [&] { return (window = ::FindWindowA(nullptr, "Marrowbank (stand-in desktop program)")) != nullptr; });
  ASSERT_NE(window, nullptr) << "no window (is the test display there?)";
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  EXPECT_EQ(owner, app.id());

  EXPECT_FALSE(app.Ended(0)) << "it stays";
  ::PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(app.Ended(10000)) << "closing the window ends it";
}

}  // namespace
