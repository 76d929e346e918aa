// Each layer's events: the exact event each report writes, with its strings in the message's order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/launch_events.h"
#include "platform/event_log.h"
#include "service/service_events.h"
#include "tests/platform/event_capture.h"

namespace {

using event_test::ScopedEventCapture;

TEST(Events, EachLayerWritesItsEventsWithTheirStrings) {
  const std::string denied = Win32ErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(denied.empty());
  EXPECT_EQ(denied.find_first_of("\r\n"), std::string::npos) << "one line: " << denied;

  struct Case {
    const char* name;
    void (*report)();
    std::string event;
  };
  const Case cases[] = {
      {"started", [] { ReportServiceStarted(5, true, false); },
       "info 0x40000064: 5 | 1 | service"},
      {"started, defaults", [] { ReportServiceStarted(0, false, true); }, "info 0x40000064: 0 | 0 | user"},
      {"stopped", [] { ReportServiceStopped(1066, 3); }, "info 0x40000065: 1066 | 3"},
      {"stop forced", [] { ReportStopForced(8); }, "warning 0x80000067: 8"},
      {"start-up step failed", [] { ReportStartStepFailed("Could not create the thread.", ERROR_ACCESS_DENIED, 0); },
       "error 0xC0000066: Could not create the thread. | 5 | " + denied + " | 0"},
      {"program started", [] { ReportProgramStarted(4242, 1, "\"C:\\P Q\\Marrowbank.exe\""); },
       "info 0x400000C8: 4242 | 1 | \"C:\\P Q\\Marrowbank.exe\""},
      {"program failed", [] { ReportLaunchProblem("WTSQueryUserToken", ERROR_ACCESS_DENIED); },
       "error 0xC00000C9: WTSQueryUserToken | 5 | " + denied},
      {"no console user", [] { ReportLaunchProblem(nullptr, 1); }, "warning 0x800000CA: 1"},
      {"launch waits for a logon", [] { ReportLaunchHeldForLogon(1); }, "warning 0x800000CC: 1"},
      {"mode file unreadable", [] { ReportModeFileUnreadable("C:\\a\\ModeConfig.ini", ERROR_ACCESS_DENIED); },
       "warning 0x8000012C: C:\\a\\ModeConfig.ini | 5 | " + denied},
      {"value rejected",
       [] { ReportModeValueRejected("C:\\a\\ModeConfig.ini", "PollSeconds", "soon", "PollSeconds takes its default."); },
       "warning 0x8000012D: C:\\a\\ModeConfig.ini | PollSeconds | soon | PollSeconds takes its default."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEventCapture capture;
    c.report();
    EXPECT_EQ(capture.Events(), std::vector<std::string>{c.event});
    EXPECT_TRUE(capture.Balanced());
  }
}

}  // namespace
