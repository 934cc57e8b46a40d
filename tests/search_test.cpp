// Whole iterations: drawing, scoring and the best, checked as complete traces against
// scripted random numbers and against an independent reading of long seeded runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "data/parse.hpp"
#include "helpers.hpp"
#include "run.hpp"
#include "search/kernels.hpp"
#include "search/score.hpp"

using namespace subset;

namespace {

// Runs `iterations` iterations on `path` with scripted numbers; every iteration looks at
// the file, so that a change made by `on_call` is seen by the next count.
program_result run(const std::string& path, std::int32_t iterations, std::vector<int> numbers,
                   std::function<void(std::size_t)> on_call = nullptr) {
    program_result r = run_in_process(
        path + "\n", iterations, stream_of(scripted_source(std::move(numbers), std::move(on_call))),
        looking_always());
    EXPECT_EQ("", r.err);
    return r;
}

const std::string& example = example_text;

} // namespace

// ------------------------------------------------------------------ exact traces

TEST(Search, ScoresTheExampleSubsetsAndKeepsTheBest) {
    scratch_dir dir;
    write_file(dir.file("four"), example);
    // The worked example: K = 2 + 1 % 3 = 3, then draws 3%5+1 = 4, 1, 4 (taken already), 3.
    // Then {2,4}: K = 2, draws 5 (no point), 4, 2; all four: K = 4, draws 1, 2, 3, 4; and
    // the example again, which ties the first score and does not replace it.
    program_result r =
        run(dir.file("four"), 4, {1, 3, 0, 3, 2, 0, 4, 3, 1, 2, 0, 1, 2, 3, 1, 3, 0, 3, 2});
    EXPECT_EQ(0, r.status);
    const std::string example_0 = "nr pontos: 4\n\nPontos escolhidos aleatoriamente:\n4 1 3 \n"
                                  "Nr pontos aleatorios: 3\n1 3 4 \n3 - 3 \n";
    EXPECT_EQ(prompt + "nr pontos: 4\n" + example_0 +
                  "Distancia media para 3 pontos, iteracao 0: 3.666667\n"
                  "nr pontos: 4\n\nPontos escolhidos aleatoriamente:\n4 2 \n"
                  "Nr pontos aleatorios: 2\n2 4 \n2 - 1 \n"
                  "Distancia media para 2 pontos, iteracao 1: 2.500000\n"
                  "nr pontos: 4\n\nPontos escolhidos aleatoriamente:\n1 2 3 4 \n"
                  "Nr pontos aleatorios: 4\n1 2 3 4 \n4 - 6 \n"
                  "Distancia media para 4 pontos, iteracao 2: 5.250000\n" +
                  example_0 +
                  "Distancia media para 3 pontos, iteracao 3: 3.666667\n"
                  "Melhor com 4 numeros: 5.250000 pontos\n",
              r.out);
}

TEST(Search, TiesKeepTheFirstSizeAndNothingBeatsZeroWhenAllIsNegative) {
    scratch_dir dir;
    // {1,2} scores 6/2 = 3 and {1,2,3} scores (6+0+3)/3 = 3: the first size stays.
    write_file(dir.file("tie"), "1 2 6\n1 3 0\n2 3 3\n");
    program_result r = run(dir.file("tie"), 2, {0, 0, 1, 1, 0, 1, 2});
    EXPECT_NE(std::string::npos,
              r.out.find("iteracao 1: 3.000000\nMelhor com 2 numeros: 3.000000"));

    write_file(dir.file("neg"), "1 2 -1\n1 3 0\n2 3 -0.5\n");
    r = run(dir.file("neg"), 2, {0, 0, 1, 1, 0, 1, 2});
    EXPECT_EQ(prompt + "nr pontos: 3\n"
                       "nr pontos: 3\n\nPontos escolhidos aleatoriamente:\n1 2 \n"
                       "Nr pontos aleatorios: 2\n1 2 \n2 - 1 \n"
                       "Distancia media para 2 pontos, iteracao 0: -0.500000\n"
                       "nr pontos: 3\n\nPontos escolhidos aleatoriamente:\n1 2 3 \n"
                       "Nr pontos aleatorios: 3\n1 2 3 \n3 - 3 \n"
                       "Distancia media para 3 pontos, iteracao 1: -0.500000\n"
                       "Melhor com 0 numeros: 0.000000 pontos\n",
              r.out);
}

TEST(Search, InfinityWinsAndNanNeverDoes) {
    scratch_dir dir;
    write_file(dir.file("odd"), "1 2 nan\n1 3 inf\n2 3 -inf\n");
    // {1,2}: nan; {2,3}: -inf; {1,3}: inf; {1,2,3}: nan (inf + -inf).
    program_result r = run(dir.file("odd"), 4, {0, 0, 1, 0, 1, 2, 0, 0, 2, 1, 0, 1, 2});
    const char* expected[] = {"iteracao 0: nan\n", "iteracao 1: -inf\n", "iteracao 2: inf\n",
                              "iteracao 3: ", "Melhor com 2 numeros: inf pontos\n"};
    std::size_t at = 0;
    for (const char* piece : expected) {
        at = r.out.find(piece, at);
        EXPECT_NE(std::string::npos, at) << piece << "\n" << r.out;
    }
}

TEST(Search, ScoreAddsInFileOrderInSinglePrecision) {
    // 1e8 + 1 + ... is where the order of float additions shows in the result.
    scratch_dir dir;
    write_file(dir.file("order"), "1 2 1\n1 3 1e8\n2 3 1\n");
    program_result r = run(dir.file("order"), 1, {1, 0, 1, 2});
    float sum = 0;
    for (float d : {1.0f, 1e8f, 1.0f}) sum = d + sum;
    EXPECT_NE(std::string::npos, r.out.find("iteracao 0: " + printf_f(sum / 3.0f) + "\n"));
}

// ------------------------------------------------------------------ a changing file

TEST(Search, AFileChangedWithinAnIterationIsSeenByTheNextOne) {
    scratch_dir dir;
    const std::string path = dir.file("d");
    write_file(path, example);
    // While iteration 1 draws (its first random number), the file shrinks to 3 points:
    // iteration 1 keeps the version it counted, pairs included, and iteration 2 counts 3.
    program_result r = run(path, 3, {1, 3, 0, 3, 2, 0, 4, 3, 1, 0, 0, 1}, [&](std::size_t call) {
        if (call == 5) replace_file(path, "1 2 1\n1 3 1\n2 3 1\n");
    });
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(prompt + "nr pontos: 4\n"
                       "nr pontos: 4\n\nPontos escolhidos aleatoriamente:\n4 1 3 \n"
                       "Nr pontos aleatorios: 3\n1 3 4 \n3 - 3 \n"
                       "Distancia media para 3 pontos, iteracao 0: 3.666667\n"
                       "nr pontos: 4\n\nPontos escolhidos aleatoriamente:\n4 2 \n"
                       "Nr pontos aleatorios: 2\n2 4 \n2 - 1 \n"
                       "Distancia media para 2 pontos, iteracao 1: 2.500000\n"
                       "nr pontos: 3\n\nPontos escolhidos aleatoriamente:\n1 2 \n"
                       "Nr pontos aleatorios: 2\n1 2 \n2 - 1 \n"
                       "Distancia media para 2 pontos, iteracao 2: 0.500000\n"
                       "Melhor com 3 numeros: 3.666667 pontos\n",
              r.out);
}

// ------------------------------------------------------------------ long seeded runs

namespace {

// Checks a run's whole trace on a file of n points against its distances, read apart.
void check_trace(const std::string& trace, int n, const std::vector<float>& dist,
                 std::int32_t iterations) {
    trace_check c({{n, dist}});
    ASSERT_TRUE(check_iterations(trace, c));
    EXPECT_EQ(static_cast<std::size_t>(iterations), c.counts.size());
    EXPECT_EQ("Melhor com " + std::to_string(c.best_size) + " numeros: " + printf_f(c.best) +
                  " pontos\n",
              trace.substr(c.at));
}

// Writes a file of n points with random distances; returns them, read back with strtof.
std::vector<float> random_file(const std::string& path, int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> value(-100, 100);
    std::string text;
    char line[80];
    for (int i = 1; i < n; ++i)
        for (int j = i + 1; j <= n; ++j) {
            std::snprintf(line, sizeof line, "%d %d %.5f\n", i, j, value(gen));
            text += line;
        }
    write_file(path, text);
    return distances_of(text);
}

std::string seeded_run(const std::string& path, std::int32_t iterations, unsigned seed) {
    program_result r = run_in_process(path + "\n", iterations, rand_stream(seed));
    EXPECT_EQ(0, r.status);
    return r.out;
}

// A subset's score as the chains make it: its pairs' distances, the file's texts `values`
// read with strtof, added in file order, over its size; and whether two NaNs met on the
// way, when which of them survives is the machine's choice of operand order.
struct chain_score {
    float score;
    bool nans_met;
};
float value_of(float d) {
    return d;
}
float value_of(std::string_view text) {
    return std::strtof(std::string(text).c_str(), nullptr);
}
template <class Values>
chain_score chain_of(const std::vector<std::int32_t>& points, const Values& values, int n) {
    float sum = 0;
    bool nans_met = false;
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t j = i + 1; j < points.size(); ++j) {
            const float d = value_of(values[file_position(points[i], points[j], n)]);
            nans_met = nans_met || (std::isnan(d) && std::isnan(sum));
            sum = d + sum;
        }
    return {sum / static_cast<float>(points.size()), nans_met};
}

} // namespace

TEST(Search, SeededRunsAgreeWithAnIndependentReading) {
    scratch_dir dir;
    for (int n : {2, 3, 60}) {
        auto dist = random_file(dir.file("r"), n, 60u + static_cast<unsigned>(n));
        check_trace(seeded_run(dir.file("r"), 3000, 11), n, dist, 3000);
    }
}

TEST(Search, LargeSubsetsNeedMoreAttemptsThanTheListsHold) {
    scratch_dir dir;
    auto dist = random_file(dir.file("big"), 2000, 5);
    // Seeds whose first iteration takes a subset of 1900 points or more, which needs
    // far more than 2000 attempts.
    for (unsigned seed = 1, found = 0; found < 2 && seed < 100000; ++seed) {
        std::srand(seed);
        if (2 + std::rand() % 1999 < 1900) continue;
        ++found;
        check_trace(seeded_run(dir.file("big"), 1, seed), 2000, dist, 1);
    }
}

TEST(Search, SortingGivesThePointsInOrderAndWritesNoFurtherThanItsSpareUnderEveryTable) {
    std::mt19937 gen(20261209U);
    std::vector<std::int32_t> sizes;
    for (std::int32_t n = 2; n <= 70; ++n) sizes.push_back(n); // one word, and just past
    sizes.insert(sizes.end(), {127, 128, 129, 200, 1000});
    constexpr std::int32_t fence = -7; // what nothing sorted is
    for (const std::int32_t n : sizes) {
        std::vector<std::int32_t> all(static_cast<std::size_t>(n));
        std::iota(all.begin(), all.end(), 1);
        std::vector<std::uint64_t> bits(static_cast<std::size_t>(n / 64) + 1);
        for (std::int32_t k = 1; k <= n; k += (k < 70 ? 1 : n / 7)) {
            // k points of n in draw order, first the highest (bit 63 of one word) and the
            // lowest, then any.
            std::shuffle(all.begin(), all.end(), gen);
            if (k % 3 == 0) std::iter_swap(all.begin(), std::max_element(all.begin(), all.end()));
            if (k % 3 == 1) std::iter_swap(all.begin(), std::min_element(all.begin(), all.end()));
            const std::vector<std::int32_t> drawn(all.begin(), all.begin() + k);
            std::vector<std::int32_t> expected = drawn;
            std::sort(expected.begin(), expected.end());
            for (const kernel_table* table : runnable_kernels()) {
                std::vector<std::int32_t> sorted(static_cast<std::size_t>(k) + sorted_spare + 8,
                                                 fence);
                sort_subset(drawn.data(), k, n, bits.data(), sorted.data(), *table);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), sorted.begin()))
                    << n << " " << k << " " << table->name;
                ASSERT_TRUE(std::all_of(sorted.begin() + k + sorted_spare, sorted.end(),
                                        [](std::int32_t v) { return v == fence; }))
                    << n << " " << k << " " << table->name;
                ASSERT_TRUE(
                    std::all_of(bits.begin(), bits.end(), [](std::uint64_t w) { return w == 0; }));
            }
        }
    }
}

TEST(Search, PairIndexFollowsTheFileOrderWithAnEndToEachRow) {
    for (int n : {2, 3, 7, 2000}) {
        std::int64_t index = 0;
        for (int a = 1; a < n; ++a)
            for (int b = a + 1; b <= n + 1; ++b) ASSERT_EQ(index++, pair_index(a, b, n)) << a << b;
    }
}

TEST(Search, SubsetsScoredSideBySideKeepTheirOwnSums) {
    // Six points whose pairs hold -0, both infinities and NaNs of both signs; every
    // subset is scored in one call, so chains of different lengths run side by side
    // and the shorter ones run past their rows' ends.
    const char* values[] = {"-0", "inf",  "-inf",  "nan", "1.5",  "-0", "-nan", "2",
                            "-0", "1e30", "-1e30", "-0",  "0.25", "-0", "3"};
    std::string text;
    int v = 0;
    for (int i = 1; i < 6; ++i)
        for (int j = i + 1; j <= 6; ++j)
            text += std::to_string(i) + " " + std::to_string(j) + " " + values[v++] + "\n";
    const parsed six = parsed_of(text);
    ASSERT_NE(nullptr, six.v);
    std::vector<std::vector<std::int32_t>> subsets;
    for (int mask = 0; mask < 64; ++mask) {
        std::vector<std::int32_t> s;
        for (int p = 1; p <= 6; ++p)
            if ((mask >> (p - 1)) & 1) s.push_back(p);
        if (s.size() >= 2) subsets.push_back(s);
    }
    std::vector<subset_ref> refs;
    refs.reserve(subsets.size());
    for (const auto& s : subsets) refs.push_back({s.data(), static_cast<std::int32_t>(s.size())});
    for (const auto& [way, table] : scoring_ways()) {
        std::vector<float> scores(refs.size());
        dist_med(refs.data(), static_cast<int>(refs.size()), *six.v, scores.data(), table);

        for (std::size_t s = 0; s < subsets.size(); ++s) {
            const auto [want, nans_met] = chain_of(subsets[s], values, 6);
            if (nans_met) {
                EXPECT_TRUE(std::isnan(scores[s])) << s;
            } else {
                EXPECT_EQ(std::bit_cast<std::uint32_t>(want),
                          std::bit_cast<std::uint32_t>(scores[s]))
                    << "subset " << s << ": " << want << " against " << scores[s] << ", " << way;
            }
        }
    }
}

TEST(Search, EveryMaskedSweepAddsAsTheChainsDo) {
    // Random distances of both signs and many magnitudes, and subsets of every size from
    // 2 to N, so that both sides of the crossover are met; each table's sweep and the
    // chains must agree bit for bit (no NaN here, so no choice between two of them).
    std::mt19937 gen(2026);
    for (const int n : {9, 141, 399, 400, 1000}) { // the AVX2 sweep packs rows from 400 on
        std::string text;
        char line[80];
        std::uniform_real_distribution<double> value(-50, 50);
        for (int i = 1; i < n; ++i)
            for (int j = i + 1; j <= n; ++j) {
                const double v = value(gen) * std::pow(10.0, static_cast<int>(gen() % 7) - 3);
                std::snprintf(line, sizeof line, "%d %d %.6g\n", i, j, v);
                text += line;
            }
        const parsed file = parsed_of(text);
        ASSERT_NE(nullptr, file.v);
        std::vector<std::vector<std::int32_t>> subsets(300);
        std::vector<subset_ref> refs;
        for (auto& s : subsets) {
            std::vector<std::int32_t> all(static_cast<std::size_t>(n));
            std::iota(all.begin(), all.end(), 1);
            std::shuffle(all.begin(), all.end(), gen);
            all.resize(2 + gen() % static_cast<unsigned>(n - 1));
            std::sort(all.begin(), all.end());
            s = all;
            refs.push_back({s.data(), static_cast<std::int32_t>(s.size())});
        }
        // Counts around each table's lanes (64 and 128: one word of lanes a point or
        // two, full sweeps and a short one after) and around a vector's (8 and 16).
        for (const int count : {300, 150, 129, 128, 127, 65, 64, 63, 17, 16, 9, 8, 7, 1}) {
            std::vector<float> chains(refs.size());
            dist_med(refs.data(), count, *file.v, chains.data(), portable_kernels);
            for (const auto& [way, table] : scoring_ways()) {
                std::vector<float> scores(refs.size());
                dist_med(refs.data(), count, *file.v, scores.data(), table);
                for (int s = 0; s < count; ++s)
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(chains[s]),
                              std::bit_cast<std::uint32_t>(scores[s]))
                        << n << " points, " << count << " subsets, one of " << refs[s].size << ", "
                        << way;
            }
        }
    }
}

namespace {

// Every table's sweep on `lanes` subsets of a file of n points, where point a is held by
// counts[a % kinds] of the first word's lanes and counts[a / kinds % kinds] of the
// second's, against the chains; then again with infinities and NaNs in the file.
void sweep_rows_of_every_width(const int n, const int* counts, const int kinds) {
    std::mt19937 gen(27);
    std::vector<std::string> values;
    for (int i = 1; i < n; ++i)
        for (int j = i + 1; j <= n; ++j) {
            char text[32];
            std::snprintf(text, sizeof text, "%.6g",
                          std::uniform_real_distribution<double>(-50, 50)(gen) *
                              std::pow(10.0, static_cast<int>(gen() % 5) - 2));
            values.emplace_back(gen() % 16 == 0 ? (gen() % 2 == 0 ? "-0" : "0") : text);
        }
    for (const bool specials : {false, true}) {
        if (specials) {
            const char* odd[] = {"inf", "-inf", "nan", "-nan", "inf", "-nan"};
            for (int k = 0; k < 6; ++k) values[file_position(3 + 20 * k, 50 + 15 * k, n)] = odd[k];
        }
        std::string text;
        std::size_t at = 0;
        for (int i = 1; i < n; ++i)
            for (int j = i + 1; j <= n; ++j)
                text += std::to_string(i) + " " + std::to_string(j) + " " + values[at++] + "\n";
        const parsed file = parsed_of(text);
        ASSERT_NE(nullptr, file.v);
        std::vector<float> read; // each text read once, for the chains below
        read.reserve(values.size());
        for (const std::string& v : values) read.push_back(value_of(v));
        for (const kernel_table* table : runnable_kernels()) {
            if (table->sweep == nullptr) continue;
            // As many as one call takes: the AVX2 sweep takes two words of lanes, which it
            // packs together, apart, or one alone, as a row's count has it.
            const int lanes =
                table->sweep_call_lanes > 0 ? table->sweep_call_lanes : table->sweep_lanes;
            std::vector<std::vector<std::int32_t>> subsets(static_cast<std::size_t>(lanes));
            for (int a = 1; a <= n; ++a)
                for (int word = 0; word * 64 < lanes; ++word) {
                    const int width = std::min(64, lanes - 64 * word);
                    std::vector<int> lane(static_cast<std::size_t>(width));
                    std::iota(lane.begin(), lane.end(), 64 * word);
                    std::shuffle(lane.begin(), lane.end(), gen);
                    const int held = std::min(width, counts[(word == 0 ? a : a / kinds) % kinds]);
                    for (int l = 0; l < held; ++l)
                        subsets[static_cast<std::size_t>(lane[static_cast<std::size_t>(l)])]
                            .push_back(a);
                }
            std::vector<subset_ref> refs;
            for (auto& s : subsets) {
                if (s.size() < 2) s = {1, n};
                refs.push_back({s.data(), static_cast<std::int32_t>(s.size())});
            }
            std::vector<float> scores(refs.size());
            const aligned_bytes room =
                aligned_buffer(table->sweep_point_bytes * (static_cast<std::size_t>(n) + 1));
            table->sweep(refs.data(), lanes, *file.v, scores.data(), room.get());
            for (std::size_t s = 0; s < subsets.size(); ++s) {
                const auto& points = subsets[s];
                const auto [want, nans_met] = chain_of(points, read, n);
                if (nans_met) {
                    EXPECT_TRUE(std::isnan(scores[s])) << s;
                } else {
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(want),
                              std::bit_cast<std::uint32_t>(scores[s]))
                        << table->name << ", lane " << s << " of " << points.size()
                        << " points: " << want << " against " << scores[s]
                        << (specials ? ", with infinities and NaNs" : "");
                }
            }
        }
    }
}

} // namespace

TEST(Search, SweepRowsOfEveryWidthKeepTheChainsSumsWithSpecialValues) {
    // Each table's sweep called on its own, with every lane it has: point a is held by a
    // chosen number of each 64-lane word's subsets (0, 1, a vector's worth and one
    // either side, for vectors of 8 and 16 lanes, up to all 64), so that rows meet every
    // count of packed vectors, with the words packed together and apart. The distances
    // hold ±0 throughout and, in the second file, a few infinities and NaNs of both
    // signs, which must reach only the subsets that hold both of their points. At 156
    // points the AVX2 sweep leaves its rows unpacked, at 420 it packs them.
    const int counts[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 32, 33, 47, 48, 55, 56, 57, 63, 64};
    constexpr int kinds = static_cast<int>(std::size(counts));
    for (const int n : {150 + 6, 420}) {
        SCOPED_TRACE(std::to_string(n) + " points");
        sweep_rows_of_every_width(n, counts, kinds);
    }
}

TEST(Search, SweepWorkIsCountedRowByRowAsEachSweepTakesIt) {
    // The benchmark's useful fraction rests on these counts: subsets that hold every
    // point make every lane-addition useful; random ones split their pairs between
    // sweeps and chains with none lost; and a row's lanes are rounded up to whole vectors,
    // of only the subsets holding its point where the sweep packs them.
    constexpr int n = 420;
    std::vector<std::int32_t> every(n);
    std::iota(every.begin(), every.end(), 1);
    const std::vector<std::int32_t> first_two = {1, 2};
    const std::vector<std::int32_t> next_two = {3, 4};
    std::mt19937 gen(33);
    std::vector<std::vector<std::int32_t>> random(200);
    double random_pairs = 0;
    for (auto& s : random) {
        std::vector<std::int32_t> all = every;
        std::shuffle(all.begin(), all.end(), gen);
        all.resize(2 + gen() % (n - 1));
        std::sort(all.begin(), all.end());
        s = all;
        random_pairs += 0.5 * static_cast<double>(s.size()) * static_cast<double>(s.size() - 1);
    }
    const double steps = 0.5 * n * (n - 1);
    for (const kernel_table* table : runnable_kernels()) {
        if (table->sweep == nullptr) continue;
        SCOPED_TRACE(table->name);
        score_scratch scratch;
        std::vector<subset_ref> full(64, {every.data(), n});
        score_work w = dist_med_work(full.data(), 64, n, *table, scratch);
        EXPECT_EQ(0, w.chained_pairs);
        EXPECT_EQ(64 * steps, w.swept_pairs);
        EXPECT_EQ(w.swept_pairs, w.sweep_lane_adds);

        std::vector<subset_ref> refs;
        refs.reserve(random.size());
        for (const auto& s : random)
            refs.push_back({s.data(), static_cast<std::int32_t>(s.size())});
        w = dist_med_work(refs.data(), static_cast<int>(refs.size()), n, *table, scratch);
        EXPECT_EQ(random_pairs, w.chained_pairs + w.swept_pairs);
        EXPECT_GT(w.swept_pairs, 0);
        EXPECT_GE(w.sweep_lane_adds, w.swept_pairs);

        // Nine subsets of points 1 and 2, the others of 3 and 4: 55 where a call takes 64
        // or more, 23 where it takes 32.
        const int call = table->sweep_call_lanes > 0 ? table->sweep_call_lanes : table->sweep_lanes;
        const int m = std::min(64, call);
        std::vector<subset_ref> two_rows(static_cast<std::size_t>(m), {next_two.data(), 2});
        std::fill(two_rows.begin(), two_rows.begin() + 9, subset_ref{first_two.data(), 2});
        const aligned_bytes room =
            aligned_buffer(table->sweep_point_bytes * (static_cast<std::size_t>(n) + 1));
        const std::string_view name = table->name;
        const int width = name == "portable" ? 4 : name == "avx512" ? 16 : 8;
        const auto up = [&](int lanes) {
            return std::int64_t{(lanes + width - 1) / width} * width;
        };
        std::int64_t want = 0;
        if (name == "avx2") // packed
            want = up(9) * (2 * n - 3) + up(55) * (2 * n - 7);
        else if (name == "avx512") // packed, 16 lanes a vector, or all four vectors
            want = up(9) * (2 * n - 3) + up(64) * (2 * n - 7);
        else // every lane of the sweep's vectors at every row some subset starts
            want = m * std::int64_t{4 * n - 10};
        EXPECT_EQ(want, table->sweep_lane_adds(two_rows.data(), m, n, room.get()));
        if (table->sweep_call_lanes != 128 && table->sweep_lanes != 128) continue;
        // Another 64 subsets: 9 more of points 1 and 2, which now packs 18 lanes of two
        // words together, and 55 more of 3 and 4, 110 in all, which the AVX2 sweep packs
        // a word apart and AVX-512 leaves unpacked.
        const std::vector<subset_ref> first_64 = two_rows;
        two_rows.insert(two_rows.end(), first_64.begin(), first_64.end());
        if (name == "avx2")
            want = up(18) * (2 * n - 3) + 2 * up(55) * (2 * n - 7);
        else
            want = up(18) * (2 * n - 3) + up(128) * (2 * n - 7);
        EXPECT_EQ(want, table->sweep_lane_adds(two_rows.data(), 128, n, room.get()));
    }
}
