// Taking a piece of a trace: the cut line first, then the whole lines, then the new cut.
#include "summary/bytes.hpp"

#include <cstring>
#include <string_view>

#include "summary/iteration.hpp"

namespace subset {

namespace {

// Takes the lines from `at` to `end` (just past a line end): ordinary iterations whole
// when `whole` is set, every other line by the grammar. False at the first line out of
// place, with the problem recorded.
bool take_lines(reader& r, const char* at, const char* end, bool whole) {
    while (at < end) {
        if (whole && r.next == expect::count_or_end) {
            const std::size_t taken = take_iteration(r, at, end);
            if (taken > 0) {
                at += taken;
                continue;
            }
        }
        const auto* line_end =
            static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        const auto length = static_cast<std::size_t>(line_end - at);
        if (length > longest_line) {
            ++r.line_number;
            return r.fail("linha demasiado longa");
        }
        if (!take_line(r, std::string_view(at, length))) return false;
        at = line_end + 1;
    }
    return true;
}

// Appends the `length` bytes at `at` to the cut line; false, with the problem recorded,
// when the line is then too long to be one of a trace.
bool carry_on(reader& r, std::string& carry, const char* at, std::size_t length) {
    if (carry.size() + length > longest_line) {
        ++r.line_number;
        return r.fail("linha demasiado longa");
    }
    carry.append(at, length);
    return true;
}

} // namespace

bool take_bytes(reader& r, std::string& carry, const char* at, const char* end, bool whole) {
    const auto size = static_cast<std::size_t>(end - at);
    const auto* first = static_cast<const char*>(std::memchr(at, '\n', size));
    if (first == nullptr) return carry_on(r, carry, at, size);
    if (!carry.empty()) { // the cut line ends here: taken on its own
        if (!carry_on(r, carry, at, static_cast<std::size_t>(first - at)) || !take_line(r, carry))
            return false;
        carry.clear();
        at = first + 1;
    }
    const auto* last =
        static_cast<const char*>(memrchr(at, '\n', static_cast<std::size_t>(end - at)));
    if (last != nullptr) {
        if (!take_lines(r, at, last + 1, whole)) return false;
        at = last + 1;
    }
    return carry_on(r, carry, at, static_cast<std::size_t>(end - at));
}

} // namespace subset
