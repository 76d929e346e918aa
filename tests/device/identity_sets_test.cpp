#include <string>

#include <gtest/gtest.h>

#include "device/device_manager.h"

namespace {

// The sets are linked: a member of both, one of the models alone, one of the vendors alone.
TEST(IdentitySets, MembersOfEachKindAreKnown) {
  EXPECT_EQ(ClassifyModelId("NOVRA"), kModelInSet);
  EXPECT_EQ(IsKnownVendorId("NOVRA"), kVendorKnown);
  EXPECT_EQ(ClassifyModelId("QZ"), kModelInSet);
  EXPECT_EQ(IsKnownVendorId("QZ"), kVendorUnknown);
  EXPECT_EQ(ClassifyModelId("Hoptrel"), kModelNotInSet);
  EXPECT_EQ(IsKnownVendorId("Hoptrel"), kVendorKnown);
}

TEST(IdentitySets, CompareWholeAndCaseSensitiveIgnoringOnlyTrailingBlanks) {
  struct Case {
    const char* id;
    bool model;   // in the model set
    bool vendor;  // in the vendor set
  } cases[] = {
      {"", false, false},          {"   ", false, false},        {"novra", false, false},      {"Tavro211", false, false},
      {"GIRRO2", false, false},    {"NOVRA4", false, false},     {"NOVRA411", false, false},   {"XQZ", false, false},
      {"Hoptrel ", false, true},  {"Hoptrel   ", false, true}, {" Hoptrel", false, false},   {"Hop trel", false, false},
      {"Hoptrel\t", false, false}, {"QZ ", true, false},         {"NOVRA41 ", true, true},    {"hoptrel ", false, false},
      // Each set's first and last member.
      {"TAVRO211", true, true},   {"MELKA25", true, true},     {"GIRRO211", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + std::string(c.id) + "\"");
    EXPECT_EQ(ClassifyModelId(c.id), c.model ? kModelInSet : kModelNotInSet);
    EXPECT_EQ(IsKnownVendorId(c.id), c.vendor ? kVendorKnown : kVendorUnknown);
  }
  // Identifiers live in 64-byte fields: what lies past the field is not part of it.
  const std::string padded = std::string("NOVRA") + std::string(59, ' ') + "X";
  EXPECT_EQ(ClassifyModelId(padded.c_str()), kModelInSet);
  EXPECT_EQ(IsKnownVendorId(padded.c_str()), kVendorKnown);
  EXPECT_EQ(ClassifyModelId((std::string("NOVRA") + std::string(58, ' ') + "X").c_str()), kModelNotInSet);
}

}  // namespace
