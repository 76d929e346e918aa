#include <string>

#include <gtest/gtest.h>

#include "device/device_manager.h"

namespace {

// The sets are linked: a member of both, one of the models alone, one of the vendors alone.
TEST(IdentitySets, MembersOfEachKindAreKnown) {
  EXPECT_EQ(ClassifyModelId("NOVRA"), 4);
  EXPECT_EQ(IsKnownVendorId("NOVRA"), 1);
  EXPECT_EQ(ClassifyModelId("QZ"), 4);
  EXPECT_EQ(IsKnownVendorId("QZ"), 0);
  EXPECT_EQ(ClassifyModelId("Hoptrel"), -1);
  EXPECT_EQ(IsKnownVendorId("Hoptrel"), 1);
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
      // Each set's first and last member.
      {"TAVRO211", 4, 1},   {"MELKA25", 4, 1},     {"GIRRO211", 4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + std::string(c.id) + "\"");
    EXPECT_EQ(ClassifyModelId(c.id), c.model);
    EXPECT_EQ(IsKnownVendorId(c.id), c.vendor);
  }
  // Identifiers live in 64-byte fields: what lies past the field is not part of it.
  const std::string padded = std::string("NOVRA") + std::string(59, ' ') + "X";
  EXPECT_EQ(ClassifyModelId(padded.c_str()), 4);
  EXPECT_EQ(IsKnownVendorId(padded.c_str()), 1);
  EXPECT_EQ(ClassifyModelId((std::string("NOVRA") + std::string(58, ' ') + "X").c_str()), -1);
}

}  // namespace
