// A small JSON writer: objects, arrays, keys, strings (escaped), numbers and literal text, with
// ", " between members and ": " after keys. The caller opens and closes what it writes; the writer
// only places the separators.
#pragma once

#include <string>

namespace test_support {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(const std::string& name);
  JsonWriter& String(const std::string& value);
  // `printf`'s "%.4g": what the benchmark's tables show.
  JsonWriter& Number(double value);
  JsonWriter& Integer(long long value);
  // Text that is already JSON (a value another writer made).
  JsonWriter& Raw(const std::string& json);

  const std::string& Text() const { return text_; }

  // `value` as a JSON string, quotes included: quote, backslash and control bytes escaped, every
  // other byte as it is.
  static std::string Quote(const std::string& value);

 private:
  // Places the separator a value or key needs before it.
  void BeforeValue();

  std::string text_;
  bool first_ = true;     // nothing written yet in the innermost container
  bool afterKey_ = false;  // the next value belongs to the key just written
};

}  // namespace test_support
