// The orders two old in-place sorts leave their elements in, worked out
// without running their passes. Both put equal keys in an order of their
// own that stored files keep, so no library sort can stand in for them;
// running them costs n squared steps, working their result out n log n.
//
// `rank[i]` is the key of element i as a rank: 0 for the keys that belong
// first, counting up. Each returns the element numbers in their final order.
#pragma once
#include <cstdint>
#include <vector>

// For each position i from the first, and each later position j in turn:
// swap when the element at i belongs after the one at j.
std::vector<uint32_t> exchange_sort_order(const std::vector<uint32_t>& rank);

// Passes over one element fewer each time, each carrying an element from
// the front forward over lower and equal keys until it meets a higher key,
// which it then leaves in its place and carries on.
std::vector<uint32_t> bubble_sort_order(const std::vector<uint32_t>& rank);
