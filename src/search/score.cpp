// Subset scoring. Each score is one chain of float additions in a fixed order, which the
// build forbids reordering or contracting, since the printed decimals depend on the order.
// One chain is bound by the latency of an addition; the chains of several subsets are
// independent, so they are run side by side, each still in its own order.
#include "search/score.hpp"

#include <algorithm>

float mySol[score_batch][max_pairs] = {};

std::int32_t pair_index(std::int32_t a, std::int32_t b, std::int32_t n) {
    // Before point a's pairs come the n - t pairs of every point t < a.
    return (a - 1) * n - a * (a - 1) / 2 + (b - a) - 1;
}

void extract_pairs(const iteration& it, std::int32_t n, float* into, trace& out) {
    const std::int32_t k = it.size;
    const std::int32_t* c = it.chosen;
    const float* dist = myItems.dist;
    // The pairs of point a are consecutive: (a, b) sits at row(a) + b.
    auto row = [n](std::int32_t a) { return pair_index(a, a + 1, n) - (a + 1); };
    // Rows four at a time: one pass over the points they share, so that a row's end,
    // which no predictor can guess, comes once for four rows.
    float* next = into;
    std::int32_t i = 0;
    for (; i + 4 <= k; i += 4) {
        const std::int32_t r0 = row(c[i]), r1 = row(c[i + 1]), r2 = row(c[i + 2]),
                           r3 = row(c[i + 3]);
        float* o0 = next;             // row i: points i+1 .. k-1
        float* o1 = o0 + (k - 1 - i); // row i+1: points i+2 .. k-1
        float* o2 = o1 + (k - 2 - i);
        float* o3 = o2 + (k - 3 - i);
        next = o3 + (k - 4 - i);
        o0[0] = dist[r0 + c[i + 1]];
        o0[1] = dist[r0 + c[i + 2]];
        o0[2] = dist[r0 + c[i + 3]];
        o1[0] = dist[r1 + c[i + 2]];
        o1[1] = dist[r1 + c[i + 3]];
        o2[0] = dist[r2 + c[i + 3]];
        o0 += 3;
        o1 += 2;
        o2 += 1;
        for (std::int32_t j = i + 4; j < k; ++j) {
            const std::int32_t b = c[j];
            *o0++ = dist[r0 + b];
            *o1++ = dist[r1 + b];
            *o2++ = dist[r2 + b];
            *o3++ = dist[r3 + b];
        }
    }
    for (; i < k; ++i) {
        const std::int32_t r = row(c[i]);
        for (std::int32_t j = i + 1; j < k; ++j) *next++ = dist[r + c[j]];
    }
    trace_int(out, it.size);
    trace_text(out, " - ");
    trace_int(out, it.subset_pairs);
    trace_text(out, " \n");
}

namespace {

// Runs the chains of `row[0..C)` from element `from` to `to`, each adding its elements
// one by one into its own sum; the chains are independent, so their additions overlap.
template <int C>
void run_chains(const float* const* row, float* sum, std::int32_t from, std::int32_t to) {
    float s[C];
    for (int c = 0; c < C; ++c) s[c] = sum[c];
    for (std::int32_t i = from; i < to; ++i) {
#pragma GCC unroll 8
        for (int c = 0; c < C; ++c) s[c] = row[c][i] + s[c];
    }
    for (int c = 0; c < C; ++c) sum[c] = s[c];
}

// run_chains for a count of chains known only at run time.
void run_some_chains(int count, const float* const* row, float* sum, std::int32_t from,
                     std::int32_t to) {
    switch (count) {
    case 1:
        return run_chains<1>(row, sum, from, to);
    case 2:
        return run_chains<2>(row, sum, from, to);
    case 3:
        return run_chains<3>(row, sum, from, to);
    case 4:
        return run_chains<4>(row, sum, from, to);
    case 5:
        return run_chains<5>(row, sum, from, to);
    case 6:
        return run_chains<6>(row, sum, from, to);
    case 7:
        return run_chains<7>(row, sum, from, to);
    case 8:
        return run_chains<8>(row, sum, from, to);
    default:
        return;
    }
}

} // namespace

static_assert(score_batch <= 8, "run_some_chains runs at most eight chains");

void dist_med(const score_job* jobs, int count, float* scores) {
    // Chains sorted by length: each stretch runs the chains that are still going, and
    // every chain keeps its own order.
    int job_of[score_batch];
    for (int c = 0; c < count; ++c) { // insertion sort: at most eight entries
        int at = c;
        for (; at > 0 && jobs[job_of[at - 1]].pairs > jobs[c].pairs; --at)
            job_of[at] = job_of[at - 1];
        job_of[at] = c;
    }
    const float* row[score_batch];
    float sum[score_batch] = {};
    for (int c = 0; c < count; ++c) row[c] = mySol[job_of[c]];
    std::int32_t done = 0;
    for (int c = 0; c < count; ++c) {
        const std::int32_t length = jobs[job_of[c]].pairs;
        run_some_chains(count - c, row + c, sum + c, done, length);
        done = std::max(done, length);
    }
    for (int c = 0; c < count; ++c)
        scores[job_of[c]] = sum[c] / static_cast<float>(jobs[job_of[c]].size);
}
