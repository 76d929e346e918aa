#include <string>

#include <gtest/gtest.h>

#include "device/device_manager.h"

namespace {

const char* const kBoth[] = {"TAVRO211", "TAVRO318", "TAVRO214", "MELKA",   "NOVRA",   "NOVRA41",
                             "NOVRA72",  "NOVRA25",  "GIRRO211", "Sandr318", "GIRRO214", "MELKA25"};
const char* const kModelOnly[] = {"QZ", "J5W", "PELI9", "J5", "WV", "KBD"};
const char* const kVendorOnly[] = {"Marrowba", "t3harbor", "Hoptrel", "Vantrisk", "KU-P", "KU-T"};

TEST(IdentitySets, HoldExactlyTheirMembers) {
  for (const char* id : kBoth) {
    SCOPED_TRACE(id);
    EXPECT_EQ(ClassifyModelId(id), 4);
    EXPECT_EQ(IsKnownVendorId(id), 1);
  }
  for (const char* id : kModelOnly) {
    SCOPED_TRACE(id);
    EXPECT_EQ(ClassifyModelId(id), 4);
    EXPECT_EQ(IsKnownVendorId(id), 0);
  }
  for (const char* id : kVendorOnly) {
    SCOPED_TRACE(id);
    EXPECT_EQ(ClassifyModelId(id), -1);
    EXPECT_EQ(IsKnownVendorId(id), 1);
  }
}

TEST(IdentitySets, CompareWholeAndCaseSensitiveIgnoringOnlyTrailingBlanks) {
  struct Case {
    const char* id;
    int model;
    int vendor;
  } cases[] = {
      {"", -1, 0},          {"   ", -1, 0},        {"novra", -1, 0},      {"Tavro211", -1, 0},
      {"GIRRO2", -1, 0},    {"NOVRA4", -1, 0},     {"NOVRA411", -1, 0},   {"XQZ", -1, 0},
      {"Hoptrel ", -1, 1},  {"Hoptrel   ", -1, 1}, {" Hoptrel", -1, 0},   {"Hop trel", -1, 0},
      {"Hoptrel\t", -1, 0}, {"QZ ", 4, 0},         {"NOVRA41 ", 4, 1},    {"hoptrel ", -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + std::string(c.id) + "\"");
    EXPECT_EQ(ClassifyModelId(c.id), c.model);
    EXPECT_EQ(IsKnownVendorId(c.id), c.vendor);
  }
}

}  // namespace
