#pragma once
// The order that the guard list's exchange passes leave, without their n^2 comparisons.
// A pass runs, for every position j and every position c of the range, "exchange the
// items at j and c when item j is less than item c". Items with equal keys do not keep
// their order under it, and users see that order, so it is reproduced exactly.
#include <cstddef>
#include <vector>

// ranks[i] is the key of the i-th item as a number (equal keys, equal numbers; a smaller
// number sorts first). Returns the item indices in the order the pass leaves them.
// O(n log n) plus the moves inside groups of equal keys that later, smaller items
// rotate.
std::vector<size_t> ExchangePassOrder(const std::vector<int>& ranks);
