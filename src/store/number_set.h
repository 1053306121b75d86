// Membership of a few message numbers, asked for once per record of a
// whole index or attachment list.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

// A set of numbers (given sorted): a bit for each number over their range
// where that is not too wide, else a sorted copy searched.
class NumberSet {
 public:
  explicit NumberSet(const std::vector<int32_t>& sorted) {
    if (sorted.empty()) return;
    const int64_t range = int64_t{sorted.back()} - sorted.front() + 1;
    if (range > 1 << 19) {
      sorted_ = sorted;
      return;
    }
    lo_ = sorted.front();
    range_ = static_cast<uint64_t>(range);
    bits_.assign((range_ + 63) / 64, 0);
    for (int32_t n : sorted) {
      const uint64_t i = static_cast<uint64_t>(int64_t{n} - lo_);
      bits_[i / 64] |= uint64_t{1} << (i % 64);
    }
  }
  bool has(int32_t n) const {
    if (range_) {
      const uint64_t i = static_cast<uint64_t>(int64_t{n} - lo_);
      return i < range_ && (bits_[i / 64] >> (i % 64) & 1) != 0;
    }
    return !sorted_.empty() && std::binary_search(sorted_.begin(), sorted_.end(), n);
  }

 private:
  std::vector<int32_t> sorted_;
  int64_t lo_ = 0;
  uint64_t range_ = 0;  // 0: the sorted copy is searched
  std::vector<uint64_t> bits_;
};
