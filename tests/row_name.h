// Names the test of a table row by its index and its words (the row's `args`), so that each
// row can run alone: `INSTANTIATE_TEST_SUITE_P(Url, UrlRow, ValuesIn(kRows), test::row_name<Row>)`.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace quorvi::test {

template <class Row>
std::string row_name(const testing::TestParamInfo<Row>& info) {
  std::string name = std::to_string(info.index);
  for (const std::string& word : info.param.args) {
    name += '_';
    for (char c : word)
      if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  }
  return name;
}

}  // namespace quorvi::test
