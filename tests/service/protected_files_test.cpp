// The start-up check of who may change the service's files: which files it looks at, and the one
// warning it writes.
#include "service/protected_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/syscalls.h"
#include "tests/platform/event_capture.h"
#include "tests/service/service_test_support.h"
#include "tests/support/test_support.h"

namespace {

TEST(ProtectedFilesTest, TheFolderItsExecutableTheMakersDllsAndTheModeFileOrWhereItWouldBe) {
  const std::string folder = test_support::OwnDirectory();
  const std::string language = folder + "language";
  ::DeleteFileA((language + "\\ModeConfig.ini").c_str());
  ::RemoveDirectoryA(language.c_str());
  const std::vector<std::string> base = {folder.substr(0, folder.size() - 1), test_support::ModulePath(),
                                         folder + "t3FPDll.dll", folder + "JMUsbDll.dll"};
  EXPECT_EQ(ProtectedPaths(), base);

  ASSERT_TRUE(::CreateDirectoryA(language.c_str(), nullptr));
  std::vector<std::string> withFolder = base;
  withFolder.push_back(language);
  EXPECT_EQ(ProtectedPaths(), withFolder);

  ASSERT_TRUE(test_support::WriteText(language + "\\ModeConfig.ini", "[Fields]\r\n"));
  std::vector<std::string> withFile = base;
  withFile.push_back(language + "\\ModeConfig.ini");
  EXPECT_EQ(ProtectedPaths(), withFile);
  ::DeleteFileA((language + "\\ModeConfig.ini").c_str());
  ::RemoveDirectoryA(language.c_str());
}

// Under Wine every file's Unix owner has full control, so the first path, the folder, is named with
// that account: one warning, whatever the number of files. A locked folder gives none.
TEST(ProtectedFilesTest, OneWarningForTheFirstFileOthersCanChangeAndNoneWhenLocked) {
  event_test::ScopedEventCapture events;
  WarnWhenFolderWritable();
  const std::vector<std::string> written = events.Events();
  ASSERT_EQ(written.size(), 1u);
  const std::string folder = ProtectedPaths().front();
  EXPECT_EQ(written[0].rfind("warning 0x8000012F: " + folder + " | ", 0), 0u) << written[0];
  EXPECT_EQ(written[0].substr(written[0].size() - folder.size() - 3), " | " + folder) << written[0];
  EXPECT_TRUE(events.Balanced());

  events.Clear();
  sys::ScopedCall<decltype(sys::calls().GetNamedSecurityInfoA)> locked(sys::calls().GetNamedSecurityInfoA,
                                                                        service_test::LockedFolderSecurity);
  WarnWhenFolderWritable();
  EXPECT_TRUE(events.Events().empty());
}

}  // namespace
