// How the two sorts' passes move equal keys, one key at a time.
//
// Looked at through the elements of key k and those on one side of it (the
// lower keys for the exchange sort, the higher ones for the bubble sort),
// every pass acts as it would on those elements alone, so each key's order
// can be found by itself. For that key:
// - each pass moves exactly one element of the other side past every
//   element of key k that has one of them before it, so an element with m
//   of them before it joins the run of key k's elements at the front after
//   pass m, behind the run;
// - each pass that finds such a run at the front carries its first element
//   to the run's end;
// - after one pass per element of the other side, the exchange sort leaves
//   the run as it is and the bubble sort's remaining passes lay it down
//   backwards.
#include "store/pass_sort.h"

#include <cstddef>

namespace {

std::vector<uint32_t> pass_order(const std::vector<uint32_t>& rank, bool bubble) {
  const size_t n = rank.size();
  uint32_t ranks = 0;
  for (uint32_t r : rank) ranks = r + 1 > ranks ? r + 1 : ranks;
  // Per element: how many of the other side stand before it (a Fenwick
  // tree over the ranks counts those at or below); per rank: its elements
  // in order, and the size of the other side.
  std::vector<uint32_t> fenwick(ranks + 1, 0), before(n), side(ranks, 0);
  std::vector<std::vector<uint32_t>> by_rank(ranks);
  for (size_t i = 0; i < n; i++) {
    const uint32_t r = rank[i];
    uint32_t at_or_below = 0, below = 0;
    for (size_t k = r + 1; k > 0; k -= k & (~k + 1)) at_or_below += fenwick[k];
    for (size_t k = r; k > 0; k -= k & (~k + 1)) below += fenwick[k];
    before[i] = bubble ? static_cast<uint32_t>(i) - at_or_below : below;
    for (size_t k = r + 1; k <= ranks; k += k & (~k + 1)) fenwick[k]++;
    by_rank[r].push_back(static_cast<uint32_t>(i));
  }
  size_t lower = 0;
  for (uint32_t r = 0; r < ranks; r++) {
    side[r] = static_cast<uint32_t>(bubble ? n - lower - by_rank[r].size() : lower);
    lower += by_rank[r].size();
  }

  std::vector<uint32_t> order, run;  // run: circular, starting at `head`
  order.reserve(n);
  for (uint32_t r = 0; r < ranks; r++) {
    const std::vector<uint32_t>& own = by_rank[r];
    if (own.empty()) continue;
    run.clear();
    size_t head = 0, passes = 0;
    for (size_t j = 0; j < own.size();) {
      const size_t joins_after = before[own[j]];
      size_t end = j;
      while (end < own.size() && before[own[end]] == joins_after) end++;
      if (!run.empty()) head = (head + (joins_after - passes)) % run.size();
      run.insert(run.begin() + static_cast<std::ptrdiff_t>(head), own.begin() + j,
                 own.begin() + end);
      head = (head + (end - j)) % run.size();
      passes = joins_after;
      j = end;
    }
    head = (head + (side[r] - passes)) % run.size();
    if (bubble) {
      for (size_t k = run.size(); k-- > 0;) order.push_back(run[(head + k) % run.size()]);
    } else {
      for (size_t k = 0; k < run.size(); k++) order.push_back(run[(head + k) % run.size()]);
    }
  }
  return order;
}

}  // namespace

std::vector<uint32_t> exchange_sort_order(const std::vector<uint32_t>& rank) {
  return pass_order(rank, false);
}

std::vector<uint32_t> bubble_sort_order(const std::vector<uint32_t>& rank) {
  return pass_order(rank, true);
}
