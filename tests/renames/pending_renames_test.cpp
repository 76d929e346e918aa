#include "renames/pending_renames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using renames::PendingRename;

const std::wstring kFolder = L"C:\\Program Files\\Marrowbank\\";

// A value as the session manager stores it: each string terminated, the list terminated once more.
std::wstring Value(const std::vector<PendingRename>& pairs) { return renames::AppendRenames(L"", pairs); }

TEST(PendingRenamesTest, LiesInTheFolder) {
  struct Case {
    const wchar_t* path;
    bool in;
  };
  const Case cases[] = {
      {L"\\??\\C:\\Program Files\\Marrowbank\\Marrowbank.exe", true},
      {L"!\\??\\C:\\Program Files\\Marrowbank\\Marrowbank.exe", true},  // replaces an existing file
      {L"C:\\Program Files\\Marrowbank\\language\\ModeConfig.ini", true},
      {L"\\??\\c:\\PROGRAM FILES\\marrowbank\\Marrowbank.exe", true},
      {L"\\??\\C:\\Program Files\\Marrowbank", true},
      {L"\\??\\C:\\Program Files\\Marrowbank2\\Marrowbank.exe", false},
      {L"\\??\\C:\\Program Files\\Marrowban", false},
      {L"\\??\\D:\\Program Files\\Marrowbank\\Marrowbank.exe", false},
      {L"\\??\\C:\\Config.Msi\\1a2b.rbf", false},
      {L"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(renames::LiesIn(c.path, kFolder), c.in) << std::string(c.path, c.path + wcslen(c.path));
    EXPECT_EQ(renames::LiesIn(c.path, L"\\??\\C:\\Program Files\\Marrowbank"), c.in);
  }
  EXPECT_FALSE(renames::LiesIn(L"\\??\\C:\\x", L""));
  EXPECT_FALSE(renames::LiesIn(L"\\??\\C:\\x", L"\\"));
}

TEST(PendingRenamesTest, DropsOnlyPairsIntoTheFolder) {
  const PendingRename delete_in_folder{L"\\??\\C:\\Program Files\\Marrowbank\\Marrowbank.exe", L""};
  const PendingRename into_folder{L"\\??\\C:\\Program Files\\Marrowbank\\msi1A2B.tmp",
                                  L"\\??\\C:\\Program Files\\Marrowbank\\Marrowbank.exe"};
  const PendingRename replacing_into_folder{L"\\??\\C:\\Windows\\Temp\\new.dll",
                                            L"!\\??\\C:\\PROGRAM FILES\\MARROWBANK\\t3FPDll.dll"};
  const PendingRename into_sibling{L"\\??\\C:\\Program Files\\Marrowbank2\\msi9.tmp",
                                   L"\\??\\C:\\Program Files\\Marrowbank2\\Marrowbank.exe"};
  const PendingRename out_of_folder{L"\\??\\C:\\Program Files\\Marrowbank\\old.log", L"\\??\\C:\\Logs\\old.log"};
  const PendingRename elsewhere_delete{L"\\??\\C:\\Config.Msi\\3e4b6.rbf", L""};
  struct Case {
    const char* name;
    std::vector<PendingRename> before;
    std::vector<PendingRename> kept;
    std::vector<PendingRename> dropped;
  };
  const Case cases[] = {
      {"the upgrade's replacement of a file in use, after its deletion",
       {elsewhere_delete, delete_in_folder, into_folder, into_sibling},
       {elsewhere_delete, delete_in_folder, into_sibling},
       {into_folder}},
      {"a destination marked for replacement, and a pair out of the folder", {out_of_folder, replacing_into_folder,
       elsewhere_delete}, {out_of_folder, elsewhere_delete}, {replacing_into_folder}},
      {"nothing into the folder", {delete_in_folder, into_sibling}, {delete_in_folder, into_sibling}, {}},
      {"only pairs into the folder", {into_folder, replacing_into_folder}, {}, {into_folder, replacing_into_folder}},
      {"an empty queue", {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring before = c.before.empty() ? L"" : Value(c.before);
    const renames::Cancelled cancelled = renames::CancelRenamesInto(before, kFolder);
    ASSERT_EQ(cancelled.dropped.size(), c.dropped.size());
    for (size_t i = 0; i < c.dropped.size(); ++i) {
      EXPECT_EQ(cancelled.dropped[i].source, c.dropped[i].source);
      EXPECT_EQ(cancelled.dropped[i].destination, c.dropped[i].destination);
    }
    // What stays is the value without the dropped pairs, unit for unit; none left: no value.
    EXPECT_EQ(cancelled.value, c.kept.empty() ? L"" : Value(c.kept));
    // The rollback puts them back after the pairs kept.
    if (!c.dropped.empty()) {
      std::vector<PendingRename> restored = c.kept;
      restored.insert(restored.end(), c.dropped.begin(), c.dropped.end());
      EXPECT_EQ(renames::AppendRenames(cancelled.value, cancelled.dropped), Value(restored));
    }
  }
}

TEST(PendingRenamesTest, KeepsWhatIsNoPairAsItIs) {
  const auto terminated = [](const wchar_t* s) { return std::wstring(s) + L'\0'; };
  const std::wstring pair_into = terminated(L"\\??\\C:\\Program Files\\Marrowbank\\msi1.tmp") +
                                 terminated(L"\\??\\C:\\Program Files\\Marrowbank\\Marrowbank.exe");
  const std::wstring other = terminated(L"\\??\\C:\\a") + terminated(L"\\??\\C:\\b");
  struct Case {
    const char* name;
    std::wstring value;
    std::wstring expected;
  };
  const Case cases[] = {
      // Bytes after the list's terminator, a source without its destination, a string with no
      // terminator: the value's writer owns them.
      {"after the terminator", other + pair_into + std::wstring(L"\0junk", 5), other + std::wstring(L"\0junk", 5)},
      {"a lone source at the end", other + pair_into + L"\\??\\C:\\lone", other + L"\\??\\C:\\lone"},
      {"no list terminator", other + pair_into, other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const renames::Cancelled cancelled = renames::CancelRenamesInto(c.value, kFolder);
    EXPECT_EQ(cancelled.value, c.expected);
    ASSERT_EQ(cancelled.dropped.size(), 1u);
    EXPECT_EQ(cancelled.dropped[0].destination, L"\\??\\C:\\Program Files\\Marrowbank\\Marrowbank.exe");
  }
  // Nothing dropped: the value is returned whole, whatever it holds.
  const std::wstring odd = other + std::wstring(L"\0\0\0x", 4);
  EXPECT_EQ(renames::CancelRenamesInto(odd, kFolder).value, odd);
}

}  // namespace
