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
    float* next = into;
    for (std::int32_t i = 0; i < it.size; ++i) {
        const std::int32_t a = it.chosen[i];
        // The pairs of point a are consecutive: (a, b) sits at row + b.
        const std::int32_t row = pair_index(a, a + 1, n) - (a + 1);
        for (std::int32_t j = i + 1; j < it.size; ++j) *next++ = myItems.dist[row + it.chosen[j]];
    }
    trace_int(out, it.size);
    trace_text(out, " - ");
    trace_int(out, it.subset_pairs);
    trace_text(out, " \n");
}

static_assert(score_batch == 4, "dist_med runs four chains side by side");

void dist_med(const score_job* jobs, int count, float* scores) {
    // Chains sorted by length, so that each stretch below runs the chains still going; in
    // a short batch the missing chains come first, with no length.
    int job_of[score_batch];
    const int unused = score_batch - count;
    for (int c = 0; c < score_batch; ++c) job_of[c] = c - unused;
    std::sort(job_of + unused, job_of + score_batch,
              [&](int a, int b) { return jobs[a].pairs < jobs[b].pairs; });
    const float* row[score_batch];
    std::int32_t length[score_batch];
    for (int c = 0; c < score_batch; ++c) {
        row[c] = mySol[c < unused ? 0 : job_of[c]];
        length[c] = c < unused ? 0 : jobs[job_of[c]].pairs;
    }
    float sum[score_batch] = {};
    std::int32_t i = 0;
    for (; i < length[0]; ++i) {
        sum[0] = row[0][i] + sum[0];
        sum[1] = row[1][i] + sum[1];
        sum[2] = row[2][i] + sum[2];
        sum[3] = row[3][i] + sum[3];
    }
    for (; i < length[1]; ++i) {
        sum[1] = row[1][i] + sum[1];
        sum[2] = row[2][i] + sum[2];
        sum[3] = row[3][i] + sum[3];
    }
    for (; i < length[2]; ++i) {
        sum[2] = row[2][i] + sum[2];
        sum[3] = row[3][i] + sum[3];
    }
    for (; i < length[3]; ++i) sum[3] = row[3][i] + sum[3];
    for (int c = unused; c < score_batch; ++c)
        scores[job_of[c]] = sum[c] / static_cast<float>(jobs[job_of[c]].size);
}
