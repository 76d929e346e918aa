// What the benchmark reports of a set of samples, and the JSON it writes them as.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "json_writer.h"

namespace bench {

struct Summary {
  double median = 0, q1 = 0, q3 = 0, min = 0, max = 0;
  size_t n = 0;
};

// Quartiles by linear interpolation between the sorted samples.
inline Summary Summarize(std::vector<double> samples) {
  Summary s;
  s.n = samples.size();
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  const auto at = [&samples](double q) {
    const double position = q * static_cast<double>(samples.size() - 1);
    const size_t below = static_cast<size_t>(position);
    const size_t above = std::min(below + 1, samples.size() - 1);
    return samples[below] + (samples[above] - samples[below]) * (position - static_cast<double>(below));
  };
  s.median = at(0.5);
  s.q1 = at(0.25);
  s.q3 = at(0.75);
  s.min = samples.front();
  s.max = samples.back();
  return s;
}

inline std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

// {"median": .., "q1": .., "q3": .., "min": .., "max": .., "n": ..}
inline void Write(test_support::JsonWriter& json, const Summary& s) {
  json.BeginObject().Key("median").Number(s.median).Key("q1").Number(s.q1).Key("q3").Number(s.q3);
  json.Key("min").Number(s.min).Key("max").Number(s.max).Key("n").Integer(static_cast<long long>(s.n)).EndObject();
}

// "median (q1-q3)" for the table.
inline std::string Cell(const Summary& s) { return Number(s.median) + " (" + Number(s.q1) + "-" + Number(s.q3) + ")"; }

}  // namespace bench
