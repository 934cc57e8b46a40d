// Point lists as the summary's whole-iteration path takes them: the mask scan, with
// vectors and a byte at a time, against a plain reading of the line, over lines of every
// number length, placed at every offset of the scan's windows, valid and broken.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "summary/points.hpp"

using namespace subset;

namespace {

// Whether `line` is two or more numbers from 1 to n, each written without a leading zero
// and followed by one space (strictly ascending when asked); their count in `k`.
bool plain_list(const std::string& line, std::int32_t n, bool ascending, std::int32_t& k) {
    k = 0;
    long last = 0;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t space = line.find(' ', at);
        if (space == std::string::npos || space == at || space - at > 5) return false;
        const std::string number = line.substr(at, space - at);
        if (number[0] == '0') return false;
        for (const char c : number)
            if (c < '0' || c > '9') return false;
        const long v = std::stol(number);
        if (v > n || (ascending && v <= last)) return false;
        last = v;
        ++k;
        at = space + 1;
    }
    return k >= 2;
}

// A list of k numbers from 1 to n, each followed by a space: ascending, or in any order.
std::string list_text(std::mt19937& gen, std::int32_t n, std::int32_t k, bool ascending) {
    std::vector<std::int32_t> points;
    if (ascending) {
        std::vector<bool> taken(static_cast<std::size_t>(n) + 1);
        for (std::int32_t left = k; left > 0;) {
            const auto v = static_cast<std::int32_t>(gen() % static_cast<unsigned>(n)) + 1;
            if (!taken[static_cast<std::size_t>(v)]) {
                taken[static_cast<std::size_t>(v)] = true;
                --left;
            }
        }
        for (std::int32_t v = 1; v <= n; ++v)
            if (taken[static_cast<std::size_t>(v)]) points.push_back(v);
    } else {
        for (std::int32_t i = 0; i < k; ++i)
            points.push_back(static_cast<std::int32_t>(gen() % static_cast<unsigned>(n)) + 1);
    }
    std::string text;
    for (const std::int32_t v : points) text += std::to_string(v) + ' ';
    return text;
}

// `line` broken in one of the ways a list can be, or changed in a way that keeps it one.
std::string changed(std::mt19937& gen, std::string line, std::int32_t n) {
    if (line.empty()) return line;
    const std::size_t at = gen() % line.size();
    const char* numbers[] = {"0",     "00",    "07",    "1",     "9",      "10",
                             "99",    "100",   "999",   "1000",  "9999",   "10000",
                             "65535", "65536", "65537", "99999", "100000", "123456789"};
    switch (gen() % 9) {
    case 0:
        line[at] = static_cast<char>('0' + gen() % 10);
        break;
    case 1:
        line[at] = ' ';
        break;
    case 2:
        line.insert(at, 1, ' ');
        break;
    case 3:
        line.erase(at, 1);
        break;
    case 4:
        line.insert(at, std::string(numbers[gen() % std::size(numbers)]) + ' ');
        break;
    case 5:
        line.insert(at, std::to_string(n) + ' ');
        break;
    case 6:
        line.insert(at, std::to_string(n + 1) + ' ');
        break;
    case 7:
        line[at] = "\r\t-+x\x80"[gen() % 6];
        break;
    default:
        line.pop_back();
        break; // no space after the last number
    }
    return line;
}

// Scans `line` placed `offset` bytes into a buffer after eight digits (which the scan
// must not take for part of the line), with digits and spaces after its line end; checks
// that both mask builders agree with the plain reading.
void check(const std::string& line, std::int32_t n, bool ascending, std::size_t offset) {
    std::string buffer(offset + 8, '7');
    buffer += line + '\n';
    const std::size_t end = buffer.size() - 1;
    buffer += "12 34 5 6789 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 ";
    std::int32_t want_k = 0;
    const bool want = plain_list(line, n, ascending, want_k);
    for (const masks_by how : {masks_by::vectors, masks_by::bytes}) {
        std::int32_t k = -1;
        const char* got = scan_points(buffer.data() + offset + 8, n, ascending, k, how);
        ASSERT_EQ(want ? buffer.data() + end : nullptr, got)
            << "n " << n << (ascending ? " ascending" : "") << ", "
            << (how == masks_by::vectors ? "vectors" : "bytes") << ", line '" << line << "'";
        if (want) {
            ASSERT_EQ(want_k, k) << line;
        }
    }
}

} // namespace

TEST(Points, ListsOfEveryNumberLengthReadAsPlainly) {
    std::mt19937 gen(7);
    for (const std::int32_t n : {2, 3, 9, 10, 11, 20, 99, 100, 141, 999, 1000, 1001, 5000, 9999,
                                 10000, 12345, 65535, 65536}) {
        for (int round = 0; round < 600; ++round) {
            const bool ascending = round % 2 == 0;
            // Short lists mostly, some across many windows.
            const std::int32_t most = round % 50 == 0 ? std::min(n, 3000) : std::min(n, 40);
            const auto k = static_cast<std::int32_t>(gen() % static_cast<unsigned>(most)) + 1;
            const std::string line = list_text(gen, n, k, ascending);
            const std::size_t offset = gen() % 64;
            check(line, n, ascending, offset);
            check(line, n, !ascending, offset);
            std::string broken = line;
            for (int changes = 1 + static_cast<int>(gen() % 3); changes > 0; --changes)
                broken = changed(gen, broken, n);
            check(broken, n, ascending, offset);
        }
    }
}

TEST(Points, TheFewShapesAtTheEdges) {
    // Each at every offset of a window: the line's end, a number and its space fall on
    // every boundary.
    const struct {
        std::string line;
        std::int32_t n;
    } cases[] = {{"", 20},
                 {"1 ", 20},
                 {"1 2 ", 2},
                 {"2 1 ", 2},
                 {"1 1 ", 2},
                 {"1 3 ", 2},
                 {" 1 2 ", 20},
                 {"1  2 ", 20},
                 {"1 2", 20},
                 {"01 2 ", 20},
                 {"1 02 ", 20},
                 {"10 20 ", 20},
                 {"10 21 ", 20},
                 {"19 20 ", 20},
                 {"20 19 ", 20},
                 {"9 10 ", 20},
                 {"10 9 ", 20},
                 {"99 100 ", 141},
                 {"140 141 ", 141},
                 {"141 142 ", 141},
                 {"65535 65536 ", 65536},
                 {"65536 65537 ", 65536},
                 {"1 100000 ", 65536},
                 {"12345 12346 ", 12345},
                 {"12344 12345 ", 12345},
                 {"1 2 3 4 5 6 7 8 9 ", 9},
                 {"1 2 3 4 5 6 7 8 10 ", 9}};
    for (const auto& c : cases)
        for (std::size_t offset = 0; offset < 64; ++offset) {
            check(c.line, c.n, true, offset);
            check(c.line, c.n, false, offset);
        }
}
