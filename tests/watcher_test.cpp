// Watching the file on disk, through the system's names: a change is seen by the next
// count, each version is parsed once, a write in progress is waited out and a file that
// stays broken is given up on, all timed by a scripted clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "data/distance_file.hpp"
#include "helpers.hpp"
#include "text/lines.hpp"

using namespace subset;

namespace {

// What one init_dados printed.
std::string count(distance_data& d) {
    file_error why;
    const std::int64_t pairs = init_dados(d, why);
    char line[line_room];
    return {line, pairs >= 0 ? put_count(line, d.max) : put_file_error(line, why)};
}

// A clock that moves only when told to: by the test, or by the watcher's pauses, which
// may also act on the file (`on_pause`, given the pause's number from 1).
struct scripted_time {
    std::int64_t now = 0;
    int pauses = 0;
    std::function<void(int)> on_pause;
    watch_settings settings(std::int64_t look_interval_ns = 0) {
        watch_settings s;
        s.now = [this] { return now; };
        s.pause = [this](std::int64_t ns) {
            now += ns;
            ++pauses;
            if (on_pause) on_pause(pauses);
        };
        s.look_interval_ns = look_interval_ns;
        return s;
    }
};

} // namespace

TEST(Watcher, SeesTheFileChangeAtTheNextCountAndKeepsVersionsWhole) {
    scratch_dir dir;
    const std::string path = dir.file("changing");
    write_file(path, distance_text(4, simple_distance));
    distance_data d;
    distance_start(d, path, looking_always().watch);
    ASSERT_EQ("nr pontos: 4\n", count(d));
    const version_ptr first = d.myItems;

    write_file(path, distance_text(5, [](int, int) { return 2.5; }));
    EXPECT_EQ("nr pontos: 5\n", count(d));
    file_error why;
    ASSERT_TRUE(guardaEstrutura(d, 10, why));
    EXPECT_EQ(2.5F, loaded_distance(*d.myItems, 9));
    // A version held elsewhere is a value: the change did not touch it.
    EXPECT_EQ(4, first->points);
    EXPECT_EQ(static_cast<float>(simple_distance(3, 4)), loaded_distance(*first, 5));

    // The same size and, most likely, the same stamps: only the bytes tell.
    write_file(path, distance_text(5, [](int, int) { return 7.5; }));
    ASSERT_EQ("nr pontos: 5\n", count(d));
    EXPECT_EQ(7.5F, loaded_distance(*d.myItems, 0));

    // The pairs come from the version that was counted, even when the file has changed
    // since: the change is seen by the next count.
    write_file(path, distance_text(6, [](int, int) { return 1.25; }));
    ASSERT_TRUE(guardaEstrutura(d, 10, why));
    EXPECT_EQ(7.5F, loaded_distance(*d.myItems, 9));
    EXPECT_FALSE(guardaEstrutura(d, 11, why));
    EXPECT_EQ(file_problem::triple, why.what);
    EXPECT_EQ(11, why.detail);
    EXPECT_EQ("nr pontos: 6\n", count(d));
    EXPECT_EQ(1.25F, loaded_distance(*d.myItems, 14));

    unlink(path.c_str());
    EXPECT_EQ(no_access, count(d));
    EXPECT_EQ(nullptr, d.myItems);
}

TEST(Watcher, ReportsNamesItCannotRead) {
    scratch_dir dir;
    for (const std::string& name :
         {dir.file("missing"), dir.path, std::string(), std::string("a\0b", 3)}) {
        distance_data d;
        distance_start(d, name);
        EXPECT_EQ(no_access, count(d)) << name;
        file_error why;
        EXPECT_FALSE(guardaEstrutura(d, 1, why));
        EXPECT_EQ(file_problem::access, why.what);
    }
}

TEST(Watcher, ParsesEachVersionOnceWhateverItsStampsSay) {
    scratch_dir dir;
    const std::string path = dir.file("skewed");
    scripted_time time;
    distance_data d;
    distance_start(d, path, time.settings(500'000));
    const std::int64_t hour = 3600;
    for (std::int64_t skew : {hour, -hour, 0 * hour}) {
        for (int version : {4, 5}) {
            write_file(path, distance_text(version, simple_distance));
            // Stamps an hour ahead of or behind this machine's clock.
            const timespec when{std::time(nullptr) + skew, 0};
            const timespec both[2] = {when, when};
            ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), both, 0));
            time.now += 1'000'000'000; // a look is due: the next read of the clock looks
            const std::int64_t before = d.watch.parses;
            // The clock is read every few counts at most (every 64 at small sizes).
            const std::string seen = "nr pontos: " + std::to_string(version) + "\n";
            for (int call = 0; call < 64 && count(d) != seen; ++call) time.now += 1'000'000;
            // Two seconds of a run on the watcher's clock, a call every millisecond.
            for (int call = 0; call < 2000; ++call, time.now += 1'000'000)
                ASSERT_EQ(seen, count(d));
            EXPECT_EQ(before + 1, d.watch.parses) << skew << " " << version;
        }
    }
    EXPECT_EQ(0, time.pauses);
}

TEST(Watcher, WaitsOutAWriteInProgress) {
    scratch_dir dir;
    const std::string path = dir.file("data");
    const std::string next = distance_text(150, simple_distance);
    write_file(path, distance_text(141, simple_distance));
    scripted_time time;
    distance_data d;
    distance_start(d, path, time.settings());
    ASSERT_EQ("nr pontos: 141\n", count(d));
    // Truncated and half written, as a slow generator leaves it; the rest comes while the
    // watcher pauses for the third time.
    write_file(path, next.substr(0, next.size() / 2));
    time.on_pause = [&](int pause) {
        if (pause == 3) write_file(path, next);
    };
    EXPECT_EQ("nr pontos: 150\n", count(d));
    EXPECT_EQ(3, time.pauses);
    // Truncated to nothing, as a shell's redirection does first.
    write_file(path, "");
    time.on_pause = [&](int) { write_file(path, distance_text(141, simple_distance)); };
    EXPECT_EQ("nr pontos: 141\n", count(d));
    EXPECT_EQ(4, time.pauses);
    // A file that is broken before anything was counted is refused at once.
    distance_data fresh;
    write_file(path, "");
    distance_start(fresh, path, time.settings());
    EXPECT_EQ("Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n", count(fresh));
    EXPECT_EQ(4, time.pauses);
}

TEST(Watcher, GivesUpOnAFileThatStaysBrokenOrGoesAway) {
    scratch_dir dir;
    const std::string path = dir.file("data");
    const std::string whole = distance_text(141, simple_distance);
    write_file(path, whole);
    scripted_time time;
    distance_data d;
    distance_start(d, path, time.settings());
    ASSERT_EQ("nr pontos: 141\n", count(d));

    // Cut after 500 triples and left so: a second of the watcher's clock after it last
    // changed, and no more.
    std::size_t at = 0;
    for (int line = 0; line < 500; ++line) at = whole.find('\n', at) + 1;
    write_file(path, whole.substr(0, at));
    time.on_pause = nullptr;
    const std::int64_t start = time.now;
    EXPECT_EQ("Erro no ficheiro dos dados: triplo 501 em falta ou mal formado\n", count(d));
    EXPECT_GE(time.now - start, 1'000'000'000);
    EXPECT_LT(time.now - start, 1'010'000'000);

    // Broken, but still being written to for a while: the second counts from the last
    // change.
    write_file(path, whole);
    ASSERT_EQ("nr pontos: 141\n", count(d));
    write_file(path, "");
    const int pauses_before = time.pauses;
    time.on_pause = [&](int pause) {
        const int changes = pause - pauses_before; // grows the file by a space each time
        if (changes < 200) write_file(path, std::string(static_cast<std::size_t>(changes), ' '));
    };
    EXPECT_EQ("Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n", count(d));
    EXPECT_GE(time.pauses - pauses_before, 199 + 500);

    // Gone while it was waited on: that ends the wait at once.
    write_file(path, whole);
    ASSERT_EQ("nr pontos: 141\n", count(d));
    write_file(path, "1 2");
    time.on_pause = [&](int) { std::filesystem::remove(path); };
    const int before_removal = time.pauses;
    EXPECT_EQ(no_access, count(d));
    EXPECT_EQ(before_removal + 1, time.pauses);
}
