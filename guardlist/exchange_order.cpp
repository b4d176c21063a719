#include "guardlist/exchange_order.h"

#include <algorithm>
#include <cstdint>
#include <utility>

// How the pass works out. Its first row (j = 0) brings the largest item to the front by a
// chain of exchanges. Every later row j inserts item j into the sorted front part: it
// lands before the first strictly greater item, which moves on to the place of the first
// item of the next greater key, and so on up to the end. So each group of equal keys
// above the inserted item turns by one: its first item becomes its last. Item j then
// holds a largest item, and the rest of its row exchanges nothing.
//
// A group is kept as a ring of its items with a head; a turn moves the head, and the
// turns a group owes are counted with a Fenwick tree over the keys and paid when the
// group is next touched.

namespace {

struct Group {
  std::vector<size_t> ring;  // the items in ring order; the group's order starts at head
  size_t head = 0;
  int64_t turnsSeen = 0;  // smaller items inserted before the group's last update
};

class SmallerCount {
 public:
  explicit SmallerCount(size_t keys) : m_tree(keys + 1, 0) {}
  void Add(int key) {
    for (size_t i = static_cast<size_t>(key) + 1; i < m_tree.size(); i += i & (~i + 1)) ++m_tree[i];
  }
  // Items inserted so far with a key below key.
  int64_t Below(int key) const {
    int64_t sum = 0;
    for (size_t i = static_cast<size_t>(key); i > 0; i -= i & (~i + 1)) sum += m_tree[i];
    return sum;
  }

 private:
  std::vector<int64_t> m_tree;
};

void CatchUp(Group& g, const SmallerCount& smaller, int key) {
  const int64_t now = smaller.Below(key);
  if (!g.ring.empty()) {
    const auto owed = static_cast<size_t>(now - g.turnsSeen) % g.ring.size();
    g.head = (g.head + owed) % g.ring.size();
  }
  g.turnsSeen = now;
}

}  // namespace

std::vector<size_t> ExchangePassOrder(const std::vector<int>& ranks) {
  const size_t n = ranks.size();
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  if (n < 2) return order;
  // The first row: the chain of exchanges that brings the largest item to the front.
  for (size_t c = 0; c < n; ++c) {
    if (ranks[order[0]] < ranks[order[c]]) std::swap(order[0], order[c]);
  }
  // Keys as dense numbers 0..keys-1.
  std::vector<int> distinct(ranks);
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  auto dense = [&](size_t item) {
    return static_cast<int>(std::lower_bound(distinct.begin(), distinct.end(), ranks[item]) -
                            distinct.begin());
  };
  std::vector<Group> groups(distinct.size());
  SmallerCount smaller(distinct.size());
  for (size_t row = 0; row < n; ++row) {
    const size_t item = order[row];
    const int key = dense(item);
    Group& g = groups[static_cast<size_t>(key)];
    CatchUp(g, smaller, key);
    // The item goes last in its group: just before the head in the ring.
    if (g.head == 0) {
      g.ring.push_back(item);
    } else {
      g.ring.insert(g.ring.begin() + static_cast<std::ptrdiff_t>(g.head), item);
      ++g.head;
    }
    if (row > 0) smaller.Add(key);  // the first item starts the part, it turns nothing
  }
  std::vector<size_t> result;
  result.reserve(n);
  for (size_t key = 0; key < groups.size(); ++key) {
    Group& g = groups[key];
    CatchUp(g, smaller, static_cast<int>(key));
    for (size_t k = 0; k < g.ring.size(); ++k)
      result.push_back(g.ring[(g.head + k) % g.ring.size()]);
  }
  return result;
}
