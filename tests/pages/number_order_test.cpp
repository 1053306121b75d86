// The message-number order of the room list's orders 2 and 3 and the
// details page's neighbours: the first record of each number from 1 up,
// whatever shape the index has.
#include <gtest/gtest.h>

#include "pages/common.h"

namespace {

// number * 100 + place in the index, of each record in number order.
std::vector<int32_t> numbers_of(const std::vector<int32_t>& msg_nos) {
  std::vector<INDEX_DATA> idx(msg_nos.size());
  for (size_t i = 0; i < msg_nos.size(); i++) idx[i].MSG_NO = msg_nos[i];
  std::vector<int32_t> out;
  for (uint32_t pos : number_order(idx)) out.push_back(idx[pos].MSG_NO * 100 + static_cast<int32_t>(pos));
  return out;
}

TEST(NumberOrder, FirstRecordOfEachNumberAscending) {
  EXPECT_EQ(numbers_of({}), std::vector<int32_t>{});
  EXPECT_EQ(numbers_of({1, 2, 5}), (std::vector<int32_t>{100, 201, 502}));  // already in order
  // Thread order, a number twice, numbers below 1 left out.
  EXPECT_EQ(numbers_of({3, 0, 1, 3, -4, 2}), (std::vector<int32_t>{102, 205, 300}));
  // Far-flung numbers take the sorting way and give the same answer.
  EXPECT_EQ(numbers_of({900000, 7, 900000, 0}), (std::vector<int32_t>{701, 90000000}));
}

}  // namespace
