// The masked sweep. The subsets' membership is two 64-bit words per point, a bit for
// each lane. Within row a only the subsets that hold a add anything, so their sums are
// packed together for the row (compressed out of the lanes at its start, expanded back at
// its end), and each pair's lanes are the bits of b's words at a's set bits (pext). A sum
// still takes its own pairs in file order, and its bits move unchanged. An addition waits
// four cycles for the one before it in its own vector; packing halves the vectors a row
// needs, so up to 128 subsets cost what 64 did unpacked.
#include "search/sweep.hpp"

#include <immintrin.h>

#include <cstdint>
#include <vector>

#include "search/cpu.hpp"

namespace subset {

bool sweep_available() {
    static const bool available = avx512_available() && __builtin_cpu_supports("bmi2") != 0;
    return available;
}

namespace {

__extension__ using u128 = unsigned __int128;

// Lanes of a vector.
constexpr std::ptrdiff_t lane_count = 16;

// The steps of one row, a's pairs (a, b) in file order, with `vectors` packed sums (1 to 8)
// in `packed`: for each b, the packed lanes that hold b add d(a, b). `cnt_low` is the
// number of a's lanes among the first 64.
template <int vectors>
__attribute__((target("avx512f,bmi2"))) void
row_steps(const float* row, const std::uint64_t* in_b, std::int32_t steps, std::uint64_t low_a,
          std::uint64_t high_a, int cnt_low, float* packed) {
    __m512 sum[vectors];
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) sum[v] = _mm512_loadu_ps(packed + lane_count * v);
    for (std::ptrdiff_t j = 0; j < steps; ++j) {
        const std::uint64_t low = _pext_u64(in_b[2 * j], low_a);
        const std::uint64_t high = _pext_u64(in_b[2 * j + 1], high_a);
        const __m512 d = _mm512_set1_ps(row[j]);
        if constexpr (vectors <= 4) {
            // At most 64 lanes: when the first word holds all 64, the second holds none.
            const std::uint64_t lanes = low | (high << (cnt_low & 63));
#pragma GCC unroll 8
            for (int v = 0; v < vectors; ++v)
                sum[v] = _mm512_mask_add_ps(sum[v], static_cast<__mmask16>(lanes >> (16 * v)),
                                            sum[v], d);
        } else {
            const u128 lanes = low | (static_cast<u128>(high) << cnt_low);
#pragma GCC unroll 8
            for (int v = 0; v < vectors; ++v)
                sum[v] = _mm512_mask_add_ps(sum[v], static_cast<__mmask16>(lanes >> (16 * v)),
                                            sum[v], d);
        }
    }
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) _mm512_storeu_ps(packed + lane_count * v, sum[v]);
}

using row_function = void (*)(const float*, const std::uint64_t*, std::int32_t, std::uint64_t,
                              std::uint64_t, int, float*);

// The row's steps for 1 to 8 packed vectors, by vector count less one.
constexpr row_function rows[8] = {row_steps<1>, row_steps<2>, row_steps<3>, row_steps<4>,
                                  row_steps<5>, row_steps<6>, row_steps<7>, row_steps<8>};

// The lanes of vector v (16 of them) that `low` and `high` hold.
__mmask16 lanes_of(int v, std::uint64_t low, std::uint64_t high) {
    return static_cast<__mmask16>((v < 4 ? low : high) >> (16 * (v % 4)));
}

} // namespace

__attribute__((target("avx512f,bmi2,popcnt"))) void
sweep_score(const subset_ref* subsets, int count, const version& items, float* scores) {
    const std::int32_t n = items.points;
    // Which lanes hold each point: bit l % 64 of the point's word l / 64, for lane l.
    static thread_local std::vector<std::uint64_t> lanes;
    lanes.assign(2 * (static_cast<std::size_t>(n) + 1), 0);
    for (int s = 0; s < count; ++s)
        for (std::int32_t i = 0; i < subsets[s].size; ++i)
            lanes[2 * static_cast<std::size_t>(subsets[s].sorted[i]) + s / 64] |= std::uint64_t{1}
                                                                                  << (s % 64);

    alignas(64) float sums[sweep_lanes] = {};   // each subset's sum, in its own lane
    alignas(64) float packed[sweep_lanes] = {}; // the sums of the row's subsets, packed
    const float* row = items.dist.get();        // the row of point a: pairs (a, a+1) .. (a, n)
    for (std::int32_t a = 1; a < n; row += n - a + 1, ++a) {
        const std::uint64_t low_a = lanes[2 * static_cast<std::size_t>(a)];
        const std::uint64_t high_a = lanes[2 * static_cast<std::size_t>(a) + 1];
        if ((low_a | high_a) == 0) continue; // no subset holds a: no pair of its row counts
        const int cnt_low = __builtin_popcountll(low_a);
        const int cnt = cnt_low + __builtin_popcountll(high_a);
        int at = 0;
        for (int v = 0; v < sweep_lanes / 16; ++v) {
            const __mmask16 in = lanes_of(v, low_a, high_a);
            _mm512_mask_compressstoreu_ps(packed + at, in, _mm512_load_ps(sums + lane_count * v));
            at += __builtin_popcount(in);
        }
        rows[(cnt + 15) / 16 - 1](row, lanes.data() + 2 * (static_cast<std::size_t>(a) + 1), n - a,
                                  low_a, high_a, cnt_low, packed);
        at = 0;
        for (int v = 0; v < sweep_lanes / 16; ++v) {
            const __mmask16 in = lanes_of(v, low_a, high_a);
            const __m512 back =
                _mm512_mask_expandloadu_ps(_mm512_load_ps(sums + lane_count * v), in, packed + at);
            _mm512_store_ps(sums + lane_count * v, back);
            at += __builtin_popcount(in);
        }
    }
    for (int s = 0; s < count; ++s) scores[s] = sums[s] / static_cast<float>(subsets[s].size);
}

} // namespace subset
