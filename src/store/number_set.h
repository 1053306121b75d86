// Membership of a few message numbers, asked for once per record of a
// whole index or attachment list.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

// A set of numbers (given sorted): a byte for each number over their range
// where that is not too wide, else a sorted copy searched.
class NumberSet {
 public:
  explicit NumberSet(const std::vector<int32_t>& sorted) {
    if (sorted.empty()) return;
    const int64_t range = int64_t{sorted.back()} - sorted.front() + 1;
    if (range > 1 << 16) {
      sorted_ = sorted;
      return;
    }
    lo_ = sorted.front();
    marks_.assign(static_cast<size_t>(range), 0);
    for (int32_t n : sorted) marks_[static_cast<size_t>(n - lo_)] = 1;
  }
  bool has(int32_t n) const {
    if (!marks_.empty()) {
      const int64_t i = int64_t{n} - lo_;
      return i >= 0 && i < static_cast<int64_t>(marks_.size()) && marks_[static_cast<size_t>(i)] != 0;
    }
    return std::binary_search(sorted_.begin(), sorted_.end(), n);
  }

 private:
  std::vector<int32_t> sorted_;
  int32_t lo_ = 0;
  std::vector<uint8_t> marks_;
};
