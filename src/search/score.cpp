// Subset scoring. Each score is one chain of float additions in a fixed order, which the
// build forbids reordering or contracting, since the printed decimals depend on the order.
// One chain is bound by the latency of an addition; the chains of several subsets are
// independent, so up to eight run side by side, each still in its own order, summing
// straight from the pair table. The largest subsets go to the kernel table's masked
// sweep, where it has one and it does less work.
#include "search/score.hpp"

#include <algorithm>
#include <bit>
#include <memory>
#include <numeric>
#include <vector>

#include "base/check.hpp"

namespace subset {

namespace {

constexpr int side_by_side = 8;

// The most subsets a sweep of any table takes.
constexpr int most_sweep_lanes = 128;

// The point lists of the subsets scored side by side sit at a stride fixed at compile
// time, so that one register walks all of them; a short stride for files up to
// short_rows points, where the lists of a group share a few pages, and a long one for any
// file. Neither is a multiple of 4 KiB: lists that far apart would all fall in the same
// cache set.
constexpr std::size_t short_rows = 2001;
constexpr std::size_t long_rows = max_points + 81;
static_assert(short_rows * 4 % 4096 != 0 && long_rows * 4 % 4096 != 0 && long_rows > max_points);

template <std::size_t Stride> using point_rows = std::int32_t (*)[Stride];

// Adds, for every chain c < C, the distances dist[base[c] + rows[c][j]] for j in
// [from, to) one by one to sum[c]. The chains are independent, so their additions overlap.
template <int C, std::size_t Stride>
void run_chains(const float* dist, point_rows<Stride> rows, const std::int64_t* base, float* sum,
                std::int32_t from, std::int32_t to) {
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
template <std::size_t Stride>
void run_some_chains(int count, const float* dist, point_rows<Stride> rows,
                     const std::int64_t* base, float* sum, std::int32_t from, std::int32_t to) {
    switch (count) {
    case 1:
        return run_chains<1, Stride>(dist, rows, base, sum, from, to);
    case 2:
        return run_chains<2, Stride>(dist, rows, base, sum, from, to);
    case 3:
        return run_chains<3, Stride>(dist, rows, base, sum, from, to);
    case 4:
        return run_chains<4, Stride>(dist, rows, base, sum, from, to);
    case 5:
        return run_chains<5, Stride>(dist, rows, base, sum, from, to);
    case 6:
        return run_chains<6, Stride>(dist, rows, base, sum, from, to);
    case 7:
        return run_chains<7, Stride>(dist, rows, base, sum, from, to);
    case 8:
        return run_chains<8, Stride>(dist, rows, base, sum, from, to);
    default:
        return;
    }
}

// The stride of the point lists for a file of `n` points.
std::size_t stride_for(std::int32_t n) {
    return static_cast<std::size_t>(n) < short_rows ? short_rows : long_rows;
}

// Scores up to side_by_side subsets, given in ascending order of size. Row i of every
// subset still going runs to the largest subset's end: a subset's list is padded with the
// point n + 1, whose pair ends the row with +0.0. A sum that starts at +0 is never -0,
// and adding +0 leaves any other value (infinities and NaNs too) as it was.
template <std::size_t Stride>
void score_group(const subset_ref* group, int count, const version& items, float* scores,
                 std::int32_t* lists) {
    const std::int32_t n = items.points;
    // The lists are not cleared, so that only the entries written are touched.
    const auto rows = reinterpret_cast<point_rows<Stride>>(lists);
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
        run_some_chains<Stride>(count - first, items.dist.get(), rows + first, base + first,
                                sum + first, i + 1, longest);
    }
    for (int c = 0; c < count; ++c) scores[c] = sum[c] / static_cast<float>(group[c].size);
}

// Puts the indices of the `count` subsets in `scratch.order`, smallest first: subsets of
// nearly the same size then go side by side, so that little padding is added.
void order_by_size(const subset_ref* subsets, int count, std::int32_t n, score_scratch& scratch) {
    std::vector<int>& order = scratch.order;
    std::vector<int>& first_of_size = scratch.first_of_size;
    order.resize(static_cast<std::size_t>(count));
    first_of_size.assign(static_cast<std::size_t>(n) + 2, 0);
    for (int s = 0; s < count; ++s) ++first_of_size[static_cast<std::size_t>(subsets[s].size) + 1];
    std::partial_sum(first_of_size.begin(), first_of_size.end(), first_of_size.begin());
    for (int s = 0; s < count; ++s)
        order[static_cast<std::size_t>(
            first_of_size[static_cast<std::size_t>(subsets[s].size)]++)] = s;
}

// How many of the largest subsets still chained, order[chained - take, chained), go to
// one sweep next: up to sweep_lanes of them, when the sweep does less work than their
// chains would (a sweep's step costs about the table's step cost in chain additions, and
// it takes one step for every pair of the file); else 0.
int sweep_take(const subset_ref* subsets, const int* order, int chained, std::int32_t n,
               const kernel_table& kernels) {
    if (kernels.sweep == nullptr || chained == 0) return 0;
    const int lanes = kernels.sweep_lanes;
    SUBSET_CHECK(lanes >= 1 && lanes <= most_sweep_lanes);
    const double step_cost = kernels.large_points > 0 && n >= kernels.large_points
                                 ? kernels.sweep_step_cost_large
                                 : kernels.sweep_step_cost;
    const int take = std::min(lanes, chained);
    double chain_steps = 0;
    for (int c = chained - take; c < chained; ++c) {
        const double k = subsets[order[c]].size;
        chain_steps += 0.5 * k * (k - 1);
    }
    const double sweep_steps = 0.5 * n * (n - 1);
    return chain_steps < step_cost * sweep_steps ? 0 : take;
}

// How many of the largest subsets still chained, order[chained - gathered, chained), one
// call of the sweep takes next: as many of the groups that sweep_take sends to it as the
// call holds; else 0.
int sweep_gather(const subset_ref* subsets, const int* order, int chained, std::int32_t n,
                 const kernel_table& kernels) {
    const int most = kernels.sweep_call_lanes > 0 ? kernels.sweep_call_lanes : kernels.sweep_lanes;
    SUBSET_CHECK(most <= most_sweep_lanes);
    int gathered = 0;
    for (int take; (take = sweep_take(subsets, order, chained - gathered, n, kernels)) > 0 &&
                   gathered + take <= most;)
        gathered += take;
    return gathered;
}

} // namespace

void sort_subset(const std::int32_t* drawn, std::int32_t k, std::int32_t n, std::uint64_t* bits,
                 std::int32_t* sorted, const kernel_table& kernels) {
    const std::int32_t words = n / 64 + 1;
    if (words == 1) return kernels.sort_small(drawn, k, n, sorted);
    // A few points of many sort faster than a walk over the whole bitmap.
    if (static_cast<std::int64_t>(k) * 4 < words) {
        std::copy(drawn, drawn + k, sorted);
        std::sort(sorted, sorted + k);
        return;
    }
    for (std::int32_t i = 0; i < k; ++i) bits[drawn[i] >> 6] |= std::uint64_t{1} << (drawn[i] & 63);
    // The points set, lowest first: a word at a time, a set bit at a time.
    std::int32_t j = 0;
    for (std::int32_t w = 0; w < words; ++w) {
        for (std::uint64_t word = bits[w]; word != 0; word &= word - 1)
            sorted[j++] = w * 64 + std::countr_zero(word);
        bits[w] = 0;
    }
}

void score_reserve(score_scratch& s, std::int32_t n, int count, const kernel_table& kernels) {
    s.order.reserve(static_cast<std::size_t>(count));
    s.first_of_size.reserve(static_cast<std::size_t>(n) + 2);
    if (s.rows.size() < side_by_side * stride_for(n)) s.rows.resize(side_by_side * stride_for(n));
    const std::size_t sweep_room = kernels.sweep_point_bytes * (static_cast<std::size_t>(n) + 1);
    if (s.sweep_room < sweep_room) {
        s.sweep.reset();
        s.sweep_room = 0;
        s.sweep = aligned_buffer(sweep_room); // unzeroed: each sweep clears what it uses
        s.sweep_room = sweep_room;
    }
}

std::size_t score_bytes(std::int32_t n, int count, const kernel_table& kernels) {
    return sizeof(int) * (static_cast<std::size_t>(count) + static_cast<std::size_t>(n) + 2) +
           sizeof(std::int32_t) * side_by_side * stride_for(n) +
           kernels.sweep_point_bytes * (static_cast<std::size_t>(n) + 1);
}

void dist_med(const subset_ref* subsets, int count, const version& items, float* scores,
              const kernel_table& kernels) {
    score_scratch scratch;
    dist_med(subsets, count, items, scores, kernels, scratch);
}

void dist_med(const subset_ref* subsets, int count, const version& items, float* scores,
              const kernel_table& kernels, score_scratch& scratch) {
    const std::int32_t n = items.points;
    score_reserve(scratch, n, count, kernels); // nothing to do when reserved before
    order_by_size(subsets, count, n, scratch);
    const std::vector<int>& order = scratch.order;

    // The largest subsets, sweep_lanes at a time, by a masked sweep while it does less
    // work than their chains would; as many such groups at once as one call takes.
    int chained = count; // order[0, chained) go to the chains
    for (int take; (take = sweep_gather(subsets, order.data(), chained, n, kernels)) > 0;
         chained -= take) {
        const int* members = order.data() + chained - take;
        subset_ref group[most_sweep_lanes];
        float group_scores[most_sweep_lanes];
        for (int c = 0; c < take; ++c) group[c] = subsets[members[c]];
        kernels.sweep(group, take, items, group_scores, scratch.sweep.get());
        for (int c = 0; c < take; ++c) scores[members[c]] = group_scores[c];
    }

    for (int g = 0; g < chained; g += side_by_side) {
        const int in_group = std::min(side_by_side, chained - g);
        const int* members = order.data() + g;
        subset_ref group[side_by_side];
        float group_scores[side_by_side];
        for (int c = 0; c < in_group; ++c) group[c] = subsets[members[c]];
        if (stride_for(n) == short_rows)
            score_group<short_rows>(group, in_group, items, group_scores, scratch.rows.data());
        else
            score_group<long_rows>(group, in_group, items, group_scores, scratch.rows.data());
        for (int c = 0; c < in_group; ++c) scores[members[c]] = group_scores[c];
    }
}

score_work dist_med_work(const subset_ref* subsets, int count, std::int32_t n,
                         const kernel_table& kernels, score_scratch& scratch) {
    score_reserve(scratch, n, count, kernels);
    order_by_size(subsets, count, n, scratch);
    const std::vector<int>& order = scratch.order;
    score_work w;
    int chained = count;
    for (int take; (take = sweep_gather(subsets, order.data(), chained, n, kernels)) > 0;
         chained -= take) {
        const int* members = order.data() + chained - take;
        subset_ref group[most_sweep_lanes];
        for (int c = 0; c < take; ++c) {
            group[c] = subsets[members[c]];
            w.swept_pairs += 0.5 * group[c].size * (group[c].size - 1.0);
        }
        w.sweep_lane_adds +=
            static_cast<double>(kernels.sweep_lane_adds(group, take, n, scratch.sweep.get()));
    }
    for (int c = 0; c < chained; ++c) {
        const double k = subsets[order[static_cast<std::size_t>(c)]].size;
        w.chained_pairs += 0.5 * k * (k - 1);
    }
    return w;
}

} // namespace subset
