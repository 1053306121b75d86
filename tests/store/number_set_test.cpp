// Membership of message numbers: by marks over a narrow range and by search
// over a wide one, the same answers.
#include "store/number_set.h"

#include <gtest/gtest.h>

namespace {

TEST(NumberSet, NarrowAndWideRangesAgree) {
  const std::vector<std::vector<int32_t>> sets = {{}, {5}, {-3, 0, 7}, {-3, 0, 7, 70000}, {-2000000000, 2000000000}};
  for (const std::vector<int32_t>& v : sets) {
    const NumberSet s(v);
    for (int32_t n : {-2000000000, -4, -3, -1, 0, 1, 5, 6, 7, 8, 69999, 70000, 2000000000})
      EXPECT_EQ(s.has(n), std::binary_search(v.begin(), v.end(), n)) << n << " in a set of " << v.size();
  }
}

}  // namespace
