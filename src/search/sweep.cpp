// The masked sweep. The subsets' membership is a 64-bit word per point, 16 bits for each
// of the four vectors; a pair's lanes are the AND of its two points' words. The four sums
// share each distance broadcast, and are independent, so their additions overlap.
#include "search/sweep.hpp"

#include <immintrin.h>

#include <cstdint>
#include <vector>

namespace subset {

bool sweep_available() {
    static const bool available = __builtin_cpu_supports("avx512f") != 0;
    return available;
}

__attribute__((target("avx512f"))) void sweep_score(const subset_ref* subsets, int count,
                                                    const version& items, float* scores) {
    const std::int32_t n = items.points;
    // Which lanes hold each point: bit 16g + l for lane l of vector g.
    static thread_local std::vector<std::uint64_t> lanes;
    lanes.assign(static_cast<std::size_t>(n) + 1, 0);
    for (int s = 0; s < count; ++s)
        for (std::int32_t i = 0; i < subsets[s].size; ++i)
            lanes[static_cast<std::size_t>(subsets[s].sorted[i])] |= std::uint64_t{1} << s;

    __m512 sum0 = _mm512_setzero_ps(), sum1 = sum0, sum2 = sum0, sum3 = sum0;
    const float* row = items.dist.get(); // the row of point a: pairs (a, a+1) .. (a, n)
    for (std::int32_t a = 1; a < n; row += n - a + 1, ++a) {
        const std::uint64_t in_a = lanes[static_cast<std::size_t>(a)];
        if (in_a == 0) continue; // no subset holds a: no pair of its row counts
        const std::uint64_t* in_b = lanes.data() + a + 1;
        for (std::int32_t j = 0; j < n - a; ++j) {
            const std::uint64_t both = in_a & in_b[j];
            const __m512 d = _mm512_set1_ps(row[j]);
            sum0 = _mm512_mask_add_ps(sum0, static_cast<__mmask16>(both), sum0, d);
            sum1 = _mm512_mask_add_ps(sum1, static_cast<__mmask16>(both >> 16), sum1, d);
            sum2 = _mm512_mask_add_ps(sum2, static_cast<__mmask16>(both >> 32), sum2, d);
            sum3 = _mm512_mask_add_ps(sum3, static_cast<__mmask16>(both >> 48), sum3, d);
        }
    }
    alignas(64) float sums[sweep_lanes];
    _mm512_store_ps(sums, sum0);
    _mm512_store_ps(sums + 16, sum1);
    _mm512_store_ps(sums + 32, sum2);
    _mm512_store_ps(sums + 48, sum3);
    for (int s = 0; s < count; ++s) scores[s] = sums[s] / static_cast<float>(subsets[s].size);
}

} // namespace subset
