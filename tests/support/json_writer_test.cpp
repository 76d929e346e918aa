#include "json_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using test_support::JsonWriter;

TEST(JsonWriterTest, EscapesStrings) {
  struct Case {
    const char* name;
    std::string text;
    std::string json;
  } cases[] = {
      {"plain", "product", "\"product\""},
      {"empty", "", "\"\""},
      {"quote", "say \"hi\"", "\"say \\\"hi\\\"\""},
      {"backslash", "C:\\Program Files\\", "\"C:\\\\Program Files\\\\\""},
      {"named controls", "\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {"other controls", std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
      {"nul", std::string("a\0b", 3), "\"a\\u0000b\""},
      {"slash and DEL kept", "a/b\x7f", "\"a/b\x7f\""},
      {"bytes above 0x7f kept", "\xe4\xb8\xad", "\"\xe4\xb8\xad\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JsonWriter::Quote(c.text), c.json);
    EXPECT_EQ(JsonWriter().String(c.text).Text(), c.json);
  }
}

TEST(JsonWriterTest, PlacesSeparators) {
  JsonWriter json;
  json.BeginObject().Key("cycles").Integer(20).Key("ratio").Number(1.23456);
  json.Key("variants").BeginArray();
  json.BeginObject().Key("what").String("a \"b\"").EndObject();
  json.BeginObject().Key("n").Raw("{}").EndObject();
  json.EndArray().Key("empty").BeginArray().EndArray().EndObject();
  EXPECT_EQ(json.Text(),
            "{\"cycles\": 20, \"ratio\": 1.235, \"variants\": [{\"what\": \"a \\\"b\\\"\"}, {\"n\": {}}], "
            "\"empty\": []}");
}

}  // namespace
