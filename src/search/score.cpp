// Subset scoring. Each score is one chain of float additions in a fixed order, which the
// build forbids reordering or contracting, since the printed decimals depend on the order.
// One chain is bound by the latency of an addition; the chains of several subsets are
// independent, so up to eight run side by side, each still in its own order, summing
// straight from the pair table.
#include "search/score.hpp"

#include <algorithm>
#include <numeric>
#include <vector>

namespace subset {

namespace {

constexpr int side_by_side = 8;

// The point lists of the subsets scored side by side, at a fixed stride, so that one
// register walks all of them.
using point_rows = std::int32_t[side_by_side][max_points + 1];

// Adds, for every chain c < C, the distances dist[base[c] + rows[c][j]] for j in
// [from, to) one by one to sum[c]. The chains are independent, so their additions overlap.
template <int C>
void run_chains(const float* dist, const std::int32_t (*rows)[max_points + 1],
                const std::int64_t* base, float* sum, std::int32_t from, std::int32_t to) {
    std::int64_t b[C];
    float s[C];
    for (int c = 0; c < C; ++c) {
        b[c] = base[c];
        s[c] = sum[c];
    }
    for (std::int32_t j = from; j < to; ++j) {
#pragma GCC unroll 8
        for (int c = 0; c < C; ++c) s[c] = dist[b[c] + rows[c][j]] + s[c];
    }
    for (int c = 0; c < C; ++c) sum[c] = s[c];
}

// run_chains for a count of chains known only at run time.
void run_some_chains(int count, const float* dist, const std::int32_t (*rows)[max_points + 1],
                     const std::int64_t* base, float* sum, std::int32_t from, std::int32_t to) {
    switch (count) {
    case 1:
        return run_chains<1>(dist, rows, base, sum, from, to);
    case 2:
        return run_chains<2>(dist, rows, base, sum, from, to);
    case 3:
        return run_chains<3>(dist, rows, base, sum, from, to);
    case 4:
        return run_chains<4>(dist, rows, base, sum, from, to);
    case 5:
        return run_chains<5>(dist, rows, base, sum, from, to);
    case 6:
        return run_chains<6>(dist, rows, base, sum, from, to);
    case 7:
        return run_chains<7>(dist, rows, base, sum, from, to);
    case 8:
        return run_chains<8>(dist, rows, base, sum, from, to);
    default:
        return;
    }
}

// Scores up to side_by_side subsets, given in ascending order of size. Row i of every
// subset still going runs to the largest subset's end: a subset's list is padded with the
// point n + 1, whose pair ends the row with +0.0. A sum that starts at +0 is never -0,
// and adding +0 leaves any other value (infinities and NaNs too) as it was.
void score_group(const subset_ref* group, int count, const version& items, float* scores) {
    const std::int32_t n = items.points;
    static thread_local point_rows rows;
    const std::int32_t longest = group[count - 1].size;
    for (int c = 0; c < count; ++c) {
        std::int32_t* p = rows[c];
        std::copy(group[c].sorted, group[c].sorted + group[c].size, p);
        std::fill(p + group[c].size, p + longest, n + 1);
    }
    float sum[side_by_side] = {};
    std::int64_t base[side_by_side];
    int first = 0; // the subsets before it have no pairs left
    for (std::int32_t i = 0; i + 1 < longest; ++i) {
        while (group[first].size - 1 <= i) ++first;
        for (int c = first; c < count; ++c) {
            const std::int32_t a = rows[c][i];
            base[c] = pair_index(a, a + 1, n) - (a + 1); // (a, b) sits at base + b
        }
        run_some_chains(count - first, items.dist.data(), rows + first, base + first, sum + first,
                        i + 1, longest);
    }
    for (int c = 0; c < count; ++c) scores[c] = sum[c] / static_cast<float>(group[c].size);
}

} // namespace

void sort_subset(const std::int32_t* drawn, std::int32_t k, std::int32_t n, std::uint8_t* marks,
                 std::int32_t* sorted) {
    // A small subset of many points sorts faster than a walk over all the points.
    if (static_cast<std::int64_t>(k) * 16 < n) {
        std::copy(drawn, drawn + k, sorted);
        std::sort(sorted, sorted + k);
        return;
    }
    for (std::int32_t i = 0; i < k; ++i) marks[drawn[i]] = 1;
    // The marked points, walked in order, without a branch on each.
    std::int32_t j = 0;
    for (std::int32_t v = 1; v <= n; ++v) {
        sorted[j] = v;
        j += marks[v];
        marks[v] = 0;
    }
}

void dist_med(const subset_ref* subsets, int count, const version& items, float* scores) {
    const std::int32_t n = items.points;
    // Subsets of nearly the same size side by side, so that little padding is added:
    // ordered by size, counting how many there are of each.
    static thread_local std::vector<int> order, first_of_size;
    order.resize(static_cast<std::size_t>(count));
    first_of_size.assign(static_cast<std::size_t>(n) + 2, 0);
    for (int s = 0; s < count; ++s) ++first_of_size[static_cast<std::size_t>(subsets[s].size) + 1];
    std::partial_sum(first_of_size.begin(), first_of_size.end(), first_of_size.begin());
    for (int s = 0; s < count; ++s)
        order[static_cast<std::size_t>(
            first_of_size[static_cast<std::size_t>(subsets[s].size)]++)] = s;

    for (int g = 0; g < count; g += side_by_side) {
        const int in_group = std::min(side_by_side, count - g);
        const int* members = order.data() + g;
        subset_ref group[side_by_side];
        float group_scores[side_by_side];
        for (int c = 0; c < in_group; ++c) group[c] = subsets[members[c]];
        score_group(group, in_group, items, group_scores);
        for (int c = 0; c < in_group; ++c) scores[members[c]] = group_scores[c];
    }
}

} // namespace subset
