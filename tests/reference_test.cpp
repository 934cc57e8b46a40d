// The program's whole trace equals the plain rendering's, byte for byte, over several
// files, layouts and seeds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <streambuf>
#include <system_error>

#include "helpers.hpp"
#include "reference.hpp"
#include "run.hpp"

using namespace subset;

namespace {

int c_rand() {
    return std::rand();
}

// The program's trace with `workers` worker threads, from rand() itself (as another C
// library would give it) or from the reproduced generator.
std::string program_trace(const std::string& path, std::int32_t iterations, unsigned seed,
                          int workers, bool reproduced, const kernel_table& kernels) {
    std::srand(seed);
    run_settings settings;
    settings.workers = workers;
    settings.kernels = &kernels;
    program_result r = run_in_process(path + "\n", iterations,
                                      reproduced ? rand_stream(seed) : stream_of(c_rand), settings);
    EXPECT_EQ(0, r.status);
    return r.out;
}

std::string reference_trace(const std::string& path, std::int32_t iterations, unsigned seed) {
    std::srand(seed);
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    EXPECT_EQ(0, reference::run(path, out, iterations, c_rand));
    std::fclose(out);
    std::string trace(text, size);
    std::free(text);
    return trace;
}

void expect_same_text(const std::string& want, const std::string& got, const std::string& what) {
    ASSERT_TRUE(same_trace(want, got)) << what;
}

// With no worker, one, and three; from rand() and from the reproduced generator; under
// every kernel table this machine can execute, and with each sweep taking every group.
void expect_same_traces(const std::string& path, std::int32_t iterations) {
    const struct {
        int workers;
        bool reproduced;
    } ways[] = {{0, false}, {1, true}, {3, false}, {3, true}};
    const auto tables = scoring_ways();
    for (unsigned seed : {1U, 20261208U, 4294967295U}) {
        const std::string want = reference_trace(path, iterations, seed);
        for (const auto& [name, table] : tables)
            for (const auto& way : ways) {
                if (name.ends_with("chains only") || (name.ends_with("always") && way.workers != 1))
                    continue; // the tables as they are cover the chains at every count
                std::string what = path;
                what.append(" seed ").append(std::to_string(seed));
                what.append(" workers ").append(std::to_string(way.workers));
                what.append(" kernels ").append(name);
                expect_same_text(
                    want, program_trace(path, iterations, seed, way.workers, way.reproduced, table),
                    what);
            }
    }
}

} // namespace

TEST(Reference, TracesAreIdenticalAcrossSizes) {
    scratch_dir dir;
    const struct {
        int points;
        std::int32_t iterations;
    } cases[] = {{2, 300}, {3, 300}, {4, 300}, {20, 3000}, {141, 200}, {300, 6}, {1000, 3}};
    for (const auto& c : cases) {
        // Appended, not "n" + ...: GCC 12 at -O3 warns falsely (-Wrestrict) on that form.
        const std::string path = dir.file(std::string("n").append(std::to_string(c.points)));
        write_file(path, distance_text(c.points, mixed_distance));
        expect_same_traces(path, c.iterations);
    }
}

TEST(Reference, TracesAreIdenticalPastTwoThousandPoints) {
    // The plain rendering rereads every pair of the file twice an iteration: a few
    // iterations each, one seed, just past 2000 points and where the table outgrows the
    // cache (both past the size where the AVX2 sweep packs its rows). Every table with no
    // worker, and each table's sweep taking every group (small subsets too); with three
    // workers, the table a run takes (the workers' share of a run is the engine's, the
    // same under every table; how each table's sweep pairs batches between workers is
    // checked at 3000 points below). Under the sanitizers, with the table a run takes
    // alone, against its own trace with no worker: the memory touched is that table's,
    // and every table's trace against the plain rendering (whose millions of formatted
    // reads the sanitizers' interceptors make many times slower) is checked at these
    // sizes by the release build.
    scratch_dir dir;
    const struct {
        int points;
        std::int32_t iterations;
    } cases[] = {{2001, 3}, {5000, 1}};
    for (const auto& c : cases) {
        const std::string path = dir.file(std::string("n").append(std::to_string(c.points)));
        write_file(path, distance_text(c.points, mixed_distance));
        const std::string want =
            sanitized ? program_trace(path, c.iterations, 20261208U, 0, true, best_kernels())
                      : reference_trace(path, c.iterations, 20261208U);
        for (const auto& [name, table] : scoring_ways()) {
            if (name.ends_with("chains only")) continue; // the tables as they are cover them
            if (sanitized && std::string_view(table.name) != best_kernels().name) continue;
            // The table a run takes, as it takes it (not a variant of it).
            const bool as_run =
                name == table.name && std::string_view(table.name) == best_kernels().name;
            for (int workers : {0, 3}) {
                if (workers != 0 && !as_run) continue;
                expect_same_text(want,
                                 program_trace(path, c.iterations, 20261208U, workers, true, table),
                                 path + " workers " + std::to_string(workers) + " kernels " + name);
            }
        }
    }
}

TEST(Reference, BatchesScoredTwoAtATimeGiveOneBatchsTrace) {
    // At 3000 points a batch holds about 70 iterations, so batches go to the workers in
    // pairs, whose subsets are swept together; with no worker each batch goes alone. The
    // file is replaced at given looks (one a draw) by versions of the same size and then
    // of another, so that some pairs hold two versions and are scored apart. Under every
    // table with a sweep, whose lanes decide the pairing (under the sanitizers, the one a
    // run takes: the memory touched is that table's, the pairing of the others is
    // checked by the release build).
    scratch_dir dir;
    const std::string path = dir.file("d");
    const std::string first = distance_text(3000, mixed_distance);
    const std::string second = distance_text(3000, simple_distance);
    const std::string smaller = distance_text(2500, mixed_distance);
    const auto traced = [&](int workers, bool swapping, const kernel_table& table) {
        write_file(path, first);
        run_settings settings = looking_always(workers);
        settings.kernels = &table;
        int looks = 0;
        settings.watch.now = [&] {
            ++looks;
            if (swapping && looks == 100) replace_file(path, second);
            if (swapping && looks == 250) replace_file(path, smaller);
            return std::int64_t{looks} * 1'000'000'000;
        };
        const program_result r = run_in_process(path + "\n", 400, rand_stream(5), settings);
        EXPECT_EQ(0, r.status);
        return r.out;
    };
    for (const kernel_table* table : runnable_kernels()) {
        if (table->sweep == nullptr || (sanitized && table != &best_kernels())) continue;
        for (bool swapping : {false, true}) {
            const std::string want = traced(0, swapping, *table);
            for (int workers : {1, 3})
                expect_same_text(want, traced(workers, swapping, *table),
                                 "workers " + std::to_string(workers) +
                                     (swapping ? ", file replaced" : "") + " kernels " +
                                     table->name);
        }
    }
}

TEST(Reference, TracesAreIdenticalAcrossLayouts) {
    scratch_dir dir;
    std::string text = distance_text(30, mixed_distance);
    std::string crlf, one_line;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
        one_line += c == '\n' ? ' ' : c;
    }
    write_file(dir.file("crlf"), crlf);
    expect_same_traces(dir.file("crlf"), 300);
    write_file(dir.file("line"), one_line);
    expect_same_traces(dir.file("line"), 300);
    write_file(dir.file("data"), read_file(DATA_DIR "/twenty.txt"));
    expect_same_traces(dir.file("data"), 1000);
}

namespace {

// A stream buffer that takes `room` bytes, as a disk with that much space left does, then
// fails every write.
struct full_after : std::streambuf {
    std::string taken;
    std::size_t room;
    explicit full_after(std::size_t r) : room(r) {}
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const std::size_t fits = std::min(static_cast<std::size_t>(n), room - taken.size());
        taken.append(s, fits);
        return static_cast<std::streamsize>(fits);
    }
    int_type overflow(int_type c) override {
        if (taken.size() >= room) return traits_type::eof();
        taken += static_cast<char>(c);
        return c;
    }
};

} // namespace

TEST(Reference, ErrorsMidRunEndTheTraceWhereTheyHappenWithAnyWorkers) {
    scratch_dir dir;
    const std::string doomed_file = dir.file("data");
    const std::string text = distance_text(20, mixed_distance);
    write_file(doomed_file, text);
    const std::string whole = reference_trace(doomed_file, 30'000, 5);
    // The file removed, or emptied and left so, while iteration j draws: iterations 0 to j,
    // then the error line. An empty file is waited on for a second of the watcher's clock,
    // scripted here.
    const struct {
        std::function<void()> spoil;
        std::string error_line;
        bool waited;
    } spoils[] = {{[&] { std::remove(doomed_file.c_str()); }, no_access, false},
                  {[&] { write_file(doomed_file, ""); },
                   "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n", true}};
    for (int workers : {0, 1, 3}) {
        for (const auto& spoiled : spoils) {
            write_file(doomed_file, text);
            std::srand(5);
            run_settings watched = looking_always(workers);
            std::int64_t now = 0;
            watched.watch.now = [&] { return now; };
            watched.watch.pause = [&](std::int64_t ns) { now += ns; };
            const random_source spoiling = rand_source([&](std::size_t call) {
                if (call == 59'999) spoiled.spoil();
            });
            const program_result r =
                run_in_process(doomed_file + "\n", 30'000, stream_of(spoiling), watched);
            const std::string& error_line = spoiled.error_line;
            EXPECT_EQ(1, r.status);
            ASSERT_GT(r.out.size(), 200'000U) << "the file was spoiled in the middle of the run";
            const std::string body = r.out.substr(0, r.out.size() - error_line.size());
            EXPECT_EQ(error_line, r.out.substr(body.size()));
            expect_same_text(whole.substr(0, body.size()), body,
                             "workers " + std::to_string(workers) + ", " + error_line);
            EXPECT_EQ(0U, whole.compare(body.size(), 10, "nr pontos:")) << "whole iterations only";
            EXPECT_EQ(spoiled.waited, now >= 1'000'000'000) << error_line;
            EXPECT_EQ("", r.err);
        }

        // Output that fails after 300 kB: what was taken is the trace's start, and the
        // failure is reported.
        write_file(doomed_file, text);
        full_after sink(300'000);
        std::ostream failing(&sink);
        std::istringstream name(doomed_file + "\n");
        std::ostringstream err;
        std::srand(5);
        run_settings settings;
        settings.workers = workers;
        EXPECT_EQ(1, run_search(name, failing, err, 30'000, stream_of(c_rand), settings));
        EXPECT_EQ("Erro na escrita dos resultados\n", err.str());
        EXPECT_EQ(300'000U, sink.taken.size());
        EXPECT_EQ(whole.substr(0, sink.taken.size()), sink.taken);
    }
}

TEST(Reference, ARunGoesOnWithTheWorkersThatCouldStart) {
    scratch_dir dir;
    const std::string path = dir.file("data");
    write_file(path, distance_text(30, mixed_distance));
    const std::string want = reference_trace(path, 3000, 9);
    for (int fail_at : {0, 1, 2}) {
        // The fail_at-th thread (from 0) cannot start, as when there is no room for it.
        int started = 0;
        run_settings settings;
        settings.workers = 3;
        settings.before_thread = [&] {
            if (started++ == fail_at)
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
        };
        std::srand(9);
        const program_result r = run_in_process(path + "\n", 3000, stream_of(c_rand), settings);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("", r.err);
        expect_same_text(want, r.out, "thread " + std::to_string(fail_at) + " failing");
        EXPECT_EQ(fail_at + 1, started);
    }
}
