#pragma once
// A string list's lines as UTF-8, in their order or sorted, for comparisons with a table.

#include <algorithm>
#include <string>
#include <vector>

#include "qninet/rtl/Strings.h"

namespace qninet::test_support {

inline std::vector<std::string> lines_of(const TStrings& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(ToUtf8(list.Strings(i)));
  return out;
}

inline std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace qninet::test_support
