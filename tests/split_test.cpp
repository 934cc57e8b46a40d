// The draw split over threads gives the trace of one thread drawing alone: at any
// segment length (chains that meet at once, late, or never), with any workers, and while
// the file changes its point count, is removed, or the run is stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/batch.hpp"
#include "helpers.hpp"
#include "run.hpp"

using namespace subset;

namespace {

std::string traced(const std::string& path, std::int32_t iterations, unsigned seed,
                   const run_settings& settings) {
    const program_result r = run_in_process(path + "\n", iterations, rand_stream(seed), settings);
    EXPECT_EQ(0, r.status) << r.out.substr(r.out.size() - std::min<std::size_t>(r.out.size(), 200));
    return r.out;
}

run_settings drawn_by(int workers, std::int64_t segment_values) {
    run_settings settings;
    settings.workers = workers;
    settings.segment_values = segment_values;
    return settings;
}

// The points an iteration of n points draws from rand()'s next values, drawn again here.
std::vector<int> drawn_by_rand(int n) {
    const int k = 2 + std::rand() % (n - 1);
    std::vector<bool> taken(static_cast<std::size_t>(n) + 2);
    std::vector<int> points;
    while (static_cast<int>(points.size()) < k) {
        const int v = std::rand() % (n + 1) + 1;
        if (v == n + 1 || taken[static_cast<std::size_t>(v)]) continue;
        taken[static_cast<std::size_t>(v)] = true;
        points.push_back(v);
    }
    return points;
}

} // namespace

TEST(Split, TracesEqualOneThreadsAtAnySegmentLength) {
    scratch_dir dir;
    // Segments 1 value apart (chains never meet: every one is drawn again), a few
    // iterations, a few hundred, and longer than a batch holds.
    const std::int64_t lengths[] = {1, 64, 1000, 20'000, 1'000'000};
    const struct {
        int points;
        std::int32_t iterations;
    } cases[] = {{2, 400}, {3, 400}, {20, 2000}, {141, 150}, {300, 8}};
    for (const auto& c : cases) {
        const std::string path = dir.file(std::string("n").append(std::to_string(c.points)));
        write_file(path, distance_text(c.points, mixed_distance));
        for (unsigned seed : {1U, 20261209U}) {
            const std::string want = traced(path, c.iterations, seed, drawn_by(0, -1));
            for (std::int64_t length : lengths)
                for (int workers : {1, 3})
                    ASSERT_TRUE(same_trace(
                        want, traced(path, c.iterations, seed, drawn_by(workers, length))))
                        << c.points << " points, seed " << seed << ", segments " << length
                        << " values apart, " << workers << " workers";
        }
    }
}

TEST(Split, LongRunsEqualOneThreadsAtTheChosenSegmentLength) {
    scratch_dir dir;
    const struct {
        int points;
        std::int32_t iterations;
    } cases[] = {{20, 30'000}, {141, 4'000}, {199, 3'000}};
    for (const auto& c : cases) {
        const std::string path = dir.file(std::string("n").append(std::to_string(c.points)));
        write_file(path, distance_text(c.points, mixed_distance));
        const std::string want = traced(path, c.iterations, 7, drawn_by(1, -1));
        for (int workers : {-1, 1, 3})
            ASSERT_TRUE(same_trace(want, traced(path, c.iterations, 7, drawn_by(workers, 0))))
                << c.points << " points, " << workers << " workers";
    }
}

namespace {

// A run that looks at the file before every segment, with `at_look(k)` called at the
// k-th look (from 1), before the file is looked at.
program_result run_looking(const std::string& path, std::int32_t iterations, unsigned seed,
                           std::int64_t segment_values, const std::function<void(int)>& at_look,
                           const std::atomic<int>* stop = nullptr) {
    run_settings settings = looking_always(1);
    settings.segment_values = segment_values;
    settings.stop = stop;
    int looks = 0;
    settings.watch.now = [&] {
        at_look(++looks);
        return std::int64_t{looks} * 1'000'000'000;
    };
    return run_in_process(path + "\n", iterations, rand_stream(seed), settings);
}

} // namespace

TEST(Split, ACountThatChangesRedrawsWhatLiesBeyondIt) {
    scratch_dir dir;
    const std::string path = dir.file("d");
    const std::string twenty = distance_text(20, mixed_distance);
    const std::string thirty = distance_text(30, mixed_distance);
    const std::string many = distance_text(250, mixed_distance); // drawn on one thread
    for (std::int64_t length : {std::int64_t{0}, std::int64_t{300}, std::int64_t{5000}}) {
        write_file(path, twenty);
        // 20 points, then 30, 20 again, 30 with other distances, and 250.
        const program_result r = run_looking(path, 45'000, 11, length, [&](int look) {
            if (look == 4) replace_file(path, thirty);
            if (look == 7) replace_file(path, twenty);
            if (look == 9) replace_file(path, distance_text(30, simple_distance));
            if (look == 12) replace_file(path, many);
        });
        ASSERT_EQ(0, r.status);
        // Every iteration draws what rand() gives after srand(11) at its own count.
        std::srand(11);
        trace_check c({}, drawn_by_rand);
        ASSERT_TRUE(check_iterations(r.out, c)) << "segments " << length << " values apart";
        ASSERT_EQ(45'000U, c.counts.size()) << "segments " << length << " values apart";
        EXPECT_TRUE(r.out.substr(c.at).starts_with("Melhor com ")) << r.out.substr(c.at);
        // Each count holds from where it was first seen: they never go back.
        std::vector<int> seen;
        for (int n : c.counts)
            if (seen.empty() || seen.back() != n) seen.push_back(n);
        EXPECT_EQ((std::vector<int>{20, 30, 20, 30, 250}), seen) << "segments " << length;
    }
}

TEST(Split, ARemovedFileOrAStopEndsTheTraceAfterWholeIterations) {
    scratch_dir dir;
    const std::string path = dir.file("d");
    const std::string text = distance_text(20, mixed_distance);
    // The iterations before the end draw what rand() gives after srand(3), and score what
    // the file gives.
    const auto expect_ends_with = [&](const program_result& r, const std::string& end) {
        std::srand(3);
        trace_check c({{20, distances_of(text)}}, drawn_by_rand);
        ASSERT_TRUE(check_iterations(r.out, c));
        EXPECT_GT(c.counts.size(), 0U);
        EXPECT_LT(c.counts.size(), 1'000'000U);
        EXPECT_EQ(end, r.out.substr(c.at));
    };
    for (std::int64_t length : {std::int64_t{0}, std::int64_t{300}}) {
        write_file(path, text);
        program_result r = run_looking(path, 1'000'000, 3, length, [&](int look) {
            if (look == 6) std::remove(path.c_str());
        });
        EXPECT_EQ(1, r.status);
        expect_ends_with(r, no_access);

        write_file(path, text);
        std::atomic<int> stop{0};
        r = run_looking(
            path, 1'000'000, 3, length,
            [&](int look) {
                if (look == 6) stop = SIGINT;
            },
            &stop);
        EXPECT_EQ(128 + SIGINT, r.status);
        expect_ends_with(r, "");
    }
}

TEST(Split, TheFileIsLookedAtAsOftenOnEitherDrawingPath) {
    // The watcher reads its clock, to see whether a look at the file is due, once the
    // iterations drawn since its last reading reach about 1024 points' worth (every 51 at
    // 20 points, every 7 at 141). The split draw asks once a segment, for hundreds to
    // thousands of iterations at a time: it must still read the clock at every segment,
    // not once in so many segments, or a change goes unseen for many milliseconds.
    scratch_dir dir;
    const std::int32_t iterations = 100'000;
    for (const int n : {20, 141}) {
        const std::string path = dir.file("n" + std::to_string(n));
        write_file(path, distance_text(n, mixed_distance));
        for (const bool split : {false, true}) {
            run_settings settings = drawn_by(split ? 1 : 0, split ? 0 : -1);
            std::int64_t reads = 0;
            settings.watch.now = [&] { return ++reads * 1000; };
            const program_result r =
                run_in_process(path + "\n", iterations, rand_stream(5), settings);
            ASSERT_EQ(0, r.status);
            // One thread: a reading every 1024 / n iterations. Split: one a segment at
            // least, and a segment holds a batch's iterations at most.
            const std::int64_t least =
                split ? iterations / batch_iterations : iterations / (1024 / n) - 1;
            EXPECT_GE(reads, least) << n << " points, " << (split ? "split" : "one thread");
        }
    }
}
