// Subset scoring. Each score is one chain of float additions in a fixed order, which the
// build forbids reordering or contracting, since the printed decimals depend on the order.
// One chain is bound by the latency of an addition; the chains of several subsets are
// independent, so up to eight run side by side, each still in its own order, summing
// straight from the pair table. The largest subsets go to the masked sweep (sweep.cpp)
// where the machine has it and it does less work.
#include "search/score.hpp"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <numeric>
#include <vector>

#include "check.hpp"
#include "search/cpu.hpp"
#include "search/sweep.hpp"

namespace subset {

namespace {

constexpr int side_by_side = 8;

// What one step of the masked sweep costs, in additions of a chain: measured with
// bench_driver at 141 and 1000 points.
constexpr double sweep_step_cost = 3.0;

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

// The lists of one thread at `Stride`: allocated once and not cleared, so that only the
// entries written are touched.
template <std::size_t Stride> point_rows<Stride> rows_of_this_thread() {
    static thread_local const std::unique_ptr<std::int32_t[][Stride]> store(
        new std::int32_t[side_by_side][Stride]);
    return store.get();
}

// Scores up to side_by_side subsets, given in ascending order of size. Row i of every
// subset still going runs to the largest subset's end: a subset's list is padded with the
// point n + 1, whose pair ends the row with +0.0. A sum that starts at +0 is never -0,
// and adding +0 leaves any other value (infinities and NaNs too) as it was.
template <std::size_t Stride>
void score_group(const subset_ref* group, int count, const version& items, float* scores) {
    const std::int32_t n = items.points;
    point_rows<Stride> rows = rows_of_this_thread<Stride>();
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

// Sorts a subset of a file under 64 points with AVX-512, without a branch on its size but
// for the steps of sixteen: its bitmap is made sixteen points at a time (lanes past its
// end read point 0, whose bit is then dropped), and its points are compressed out of
// vectors of 0 to 15, 16 to 31, ... by the bitmap's sixteen-bit quarters. Writes up to
// fifteen entries past its end.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized" // GCC 12's bug 105593: see draw.cpp
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f,popcnt"))) void
sort_small_wide(const std::int32_t* drawn, std::int32_t k, std::int32_t n, std::int32_t* sorted) {
    const __m512i one = _mm512_set1_epi64(1);
    __m512i bits = _mm512_setzero_si512();
    for (std::int32_t i = 0; i < k; i += 16) {
        const auto in = static_cast<__mmask16>(k - i >= 16 ? 0xffff : (1U << (k - i)) - 1);
        const __m512i v = _mm512_maskz_loadu_epi32(in, drawn + i);
        bits = _mm512_or_si512(
            bits, _mm512_sllv_epi64(one, _mm512_cvtepu32_epi64(_mm512_castsi512_si256(v))));
        bits = _mm512_or_si512(
            bits, _mm512_sllv_epi64(one, _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(v, 1))));
    }
    const std::uint64_t word =
        static_cast<std::uint64_t>(_mm512_reduce_or_epi64(bits)) & ~std::uint64_t{1};
    __m512i numbers = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i sixteen = _mm512_set1_epi32(16);
    std::int32_t j = 0;
    for (std::int32_t q = 0; q <= n / 16; ++q) {
        const auto quarter = static_cast<__mmask16>(word >> (16 * q));
        _mm512_storeu_si512(sorted + j, _mm512_maskz_compress_epi32(quarter, numbers));
        j += _mm_popcnt_u32(quarter);
        numbers = _mm512_add_epi32(numbers, sixteen);
    }
}
#pragma GCC diagnostic pop

} // namespace

void sort_subset(const std::int32_t* drawn, std::int32_t k, std::int32_t n, std::uint64_t* bits,
                 std::int32_t* sorted, bool wide) {
    const std::int32_t words = n / 64 + 1;
    SUBSET_CHECK(!wide || avx512_available());
    if (words == 1 && wide) return sort_small_wide(drawn, k, n, sorted);
    // A few points of many sort faster than a walk over the whole bitmap.
    if (static_cast<std::int64_t>(k) * 4 < words) {
        std::copy(drawn, drawn + k, sorted);
        std::sort(sorted, sorted + k);
        return;
    }
    if (words == 1) { // the whole bitmap in a register: no store waits for the one before
        std::uint64_t word = 0;
        for (std::int32_t i = 0; i < k; ++i) word |= std::uint64_t{1} << drawn[i];
        for (std::int32_t j = 0; word != 0; word &= word - 1) sorted[j++] = std::countr_zero(word);
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

void dist_med(const subset_ref* subsets, int count, const version& items, float* scores,
              scoring how) {
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

    // The largest subsets, 64 at a time, by one masked sweep when it does less work than
    // their chains would: a sweep's step costs about sweep_step_cost chain additions, and
    // it takes one step for every pair of the file.
    int chained = count; // order[0, chained) go to the chains
    if (how != scoring::chains && sweep_available()) {
        const double sweep_steps = 0.5 * n * (n - 1);
        while (chained > 0) {
            const int take = std::min(sweep_lanes, chained);
            const int* members = order.data() + chained - take;
            double chain_steps = 0;
            for (int c = 0; c < take; ++c) {
                const double k = subsets[members[c]].size;
                chain_steps += 0.5 * k * (k - 1);
            }
            if (how == scoring::automatic && chain_steps < sweep_step_cost * sweep_steps) break;
            subset_ref group[sweep_lanes];
            float group_scores[sweep_lanes];
            for (int c = 0; c < take; ++c) group[c] = subsets[members[c]];
            sweep_score(group, take, items, group_scores);
            for (int c = 0; c < take; ++c) scores[members[c]] = group_scores[c];
            chained -= take;
        }
    }

    for (int g = 0; g < chained; g += side_by_side) {
        const int in_group = std::min(side_by_side, chained - g);
        const int* members = order.data() + g;
        subset_ref group[side_by_side];
        float group_scores[side_by_side];
        for (int c = 0; c < in_group; ++c) group[c] = subsets[members[c]];
        if (static_cast<std::size_t>(n) < short_rows)
            score_group<short_rows>(group, in_group, items, group_scores);
        else
            score_group<long_rows>(group, in_group, items, group_scores);
        for (int c = 0; c < in_group; ++c) scores[members[c]] = group_scores[c];
    }
}

} // namespace subset
