// Point lists by bit masks. In a window of 32 or 64 bytes (32 for the short lines of
// files under 100 points), bit i of a mask stands for byte i;
// a mask shifted up by t, with the window before's top bits carried in, says the same of
// the byte t before. At each space the number before it has exactly length L when the L
// bytes before the space are digits and the one before them is not; its digits compare
// with N's (for the range) and with the bytes L + 1 earlier, the digits of the number
// before it when that has the same length (for the order), by chains of "greater" and
// "equal" masks from its first digit. A number with no leading zero is greater than a
// shorter one, so lengths and those chains decide every comparison.
#include "summary/points.hpp"

#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace subset {

namespace {

// ------------------------------------------------------------------ masks of a window

enum class test { equal, greater }; // a byte against a byte value, or against another byte

template <int width, test t>
std::uint64_t bytes_mask(const char* at, const char* other, char value) {
    std::uint64_t m = 0;
    for (int i = 0; i < width; ++i) {
        const char against = other != nullptr ? other[i] : value;
        const bool hit = t == test::equal ? at[i] == against : at[i] > against;
        m |= static_cast<std::uint64_t>(hit) << i;
    }
    return m;
}

template <int width> std::uint64_t bytes_digits(const char* at) {
    std::uint64_t m = 0;
    for (int i = 0; i < width; ++i)
        m |= static_cast<std::uint64_t>(static_cast<unsigned char>(at[i] - '0') < 10) << i;
    return m;
}

#if defined(__SSE2__)
__m128i load(const char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The bytes' top bits, 16 bytes at a time, for `width` bytes.
template <int width, typename F> [[gnu::always_inline]] inline std::uint64_t gather(F chunk) {
    std::uint64_t m = 0;
#pragma GCC unroll 4
    for (std::ptrdiff_t c = 0; c < width / 16; ++c)
        m |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(chunk(c))))
             << (16 * c);
    return m;
}

// Signed byte comparisons are right here: they only ever decide between digits, spaces
// and line ends.
template <test t> [[gnu::always_inline]] inline __m128i compare(__m128i a, __m128i b) {
    if constexpr (t == test::equal) return _mm_cmpeq_epi8(a, b);
    return _mm_cmpgt_epi8(a, b);
}
#endif

// Bytes at `at` equal to (or greater than) `value`, or the bytes at `other`.
template <int width, masks_by how, test t>
[[gnu::always_inline]] inline std::uint64_t mask_of(const char* at, const char* other, char value) {
#if defined(__SSE2__)
    if constexpr (how == masks_by::vectors) {
        const auto against = [&](std::ptrdiff_t c) {
            return other != nullptr ? load(other + 16 * c) : _mm_set1_epi8(value);
        };
        return gather<width>(
            [&](std::ptrdiff_t c) { return compare<t>(load(at + 16 * c), against(c)); });
    }
#endif
    return bytes_mask<width, t>(at, other, value);
}

template <int width, masks_by how>
[[gnu::always_inline]] inline std::uint64_t digits_of(const char* at) {
#if defined(__SSE2__)
    if constexpr (how == masks_by::vectors) {
        // A digit less '0' is 0 to 9; any other byte is 10 or more, unsigned.
        const auto digit = [](__m128i bytes) {
            const __m128i less = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
            return _mm_cmpeq_epi8(_mm_min_epu8(less, _mm_set1_epi8(9)), less);
        };
        return gather<width>([&](std::ptrdiff_t c) { return digit(load(at + 16 * c)); });
    }
#endif
    return bytes_digits<width>(at);
}

// All the bits of a window.
template <int width>
constexpr std::uint64_t all = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;

// `now` shifted up by t (1 to width - 1) bits, the window before's top bits coming in
// below.
template <int width> inline std::uint64_t back(std::uint64_t now, std::uint64_t before, int t) {
    return ((now << t) | (before >> (width - t))) & all<width>;
}

// ------------------------------------------------------------------ the scan

// The set bits of m (a popcount instruction is not there on every x86-64).
inline int ones(std::uint64_t m) {
    m = m - ((m >> 1) & 0x5555555555555555U);
    m = (m & 0x3333333333333333U) + ((m >> 2) & 0x3333333333333333U);
    m = (m + (m >> 4)) & 0x0F0F0F0F0F0F0F0FU;
    return static_cast<int>((m * 0x0101010101010101U) >> 56);
}

constexpr int longest = 5; // digits of the largest point number

// A mask and the same mask of the window before.
template <int width> struct carried {
    std::uint64_t now = 0;
    std::uint64_t before = 0;
    std::uint64_t back(int t) const { return subset::back<width>(now, before, t); }
    void next(std::uint64_t m) {
        before = now;
        now = m;
    }
};

// The scan for an N of `length` digits, made for each so that every loop over lengths
// unrolls and every mask stays in a register.
template <int length, int width, bool ascending, masks_by how>
const char* scan(const char* at, std::int32_t n, std::int32_t& k) {
    using carried = subset::carried<width>;
    // N's digits, most significant first.
    char top[longest] = {};
    for (std::int32_t rest = n, i = length - 1; i >= 0; rest /= 10, --i)
        top[i] = static_cast<char>('0' + rest % 10);

    carried digits, spaces;
    spaces.now = std::uint64_t{1} << (width - 1); // the line's start counts as a space before it
    carried run[longest + 2];                     // run[t]: a digit with t - 1 digits before it
    carried exact[longest + 1];                   // exact[L]: a space after a number of L digits
    carried longer[longest + 1];                  // longer[L]: a space after one of more than L
    carried greater[longest + 1], equal[longest + 1]; // against the byte L + 1 before
    carried above[longest], same[longest];            // against N's digits
    std::uint64_t odd = 0; // a number out of place: too long, over N, out of order, ...
    std::int32_t count = 0;
    // One window; true when the line ends in it, with its end in `found` (null when the
    // line is no list). Written once and called apart for the first window, whose masks
    // before are known to be empty: most lines end in it.
    const char* found = nullptr;
    const auto step = [&](const char* window) __attribute__((always_inline)) {
        const std::uint64_t d = digits_of<width, how>(window);
        const std::uint64_t s = mask_of<width, how, test::equal>(window, nullptr, ' ');
        const std::uint64_t other = ~(d | s) & all<width>;
        const std::uint64_t inside = other != 0 ? (other & (0 - other)) - 1 : all<width>;
        digits.next(d & inside);
        spaces.next(s & inside);
        // Two spaces together, or one first; a number that starts with a zero.
        odd |= spaces.now & spaces.back(1);
        odd |=
            digits.now & ~digits.back(1) & mask_of<width, how, test::equal>(window, nullptr, '0');
        run[1].next(digits.now);
#pragma GCC unroll 8
        for (int t = 1; t <= length; ++t) run[t + 1].next(run[t].now & digits.back(t));
        odd |= run[length + 1].now; // longer than N
        // A number as long as N is as long as any, once longer ones are out of place.
        exact[length].next(spaces.now & run[length].back(1));
        if constexpr (ascending) {
#pragma GCC unroll 8
            for (int l = 1; l <= length; ++l) {
                if (l < length) {
                    exact[l].next(spaces.now & run[l].back(1) & ~run[l + 1].back(1));
                    longer[l].next(spaces.now & run[l + 1].back(1));
                    odd |= exact[l].now & longer[l].back(l + 1);
                }
                greater[l].next(mask_of<width, how, test::greater>(window, window - l - 1, 0));
                if (l > 1)
                    equal[l].next(mask_of<width, how, test::equal>(window, window - l - 1, 0));
                // Above the number before, digit by digit from the first.
                std::uint64_t rising = greater[l].back(1);
#pragma GCC unroll 8
                for (int j = 2; j <= l; ++j)
                    rising = greater[l].back(j) | (equal[l].back(j) & rising);
                odd |= exact[l].now & exact[l].back(l + 1) & ~rising;
            }
        }
        if constexpr (!ascending) {
#pragma GCC unroll 8
            for (int i = 0; i < length; ++i) {
                above[i].next(mask_of<width, how, test::greater>(window, nullptr, top[i]));
                if (i < length - 1)
                    same[i].next(mask_of<width, how, test::equal>(window, nullptr, top[i]));
            }
            // Above N, digit by digit from the first, for numbers as long as N.
            std::uint64_t over = above[length - 1].back(1);
#pragma GCC unroll 8
            for (int i = length - 2; i >= 0; --i)
                over = above[i].back(length - i) | (same[i].back(length - i) & over);
            odd |= exact[length].now & over;
        }
        count += ones(spaces.now);
        if (other != 0) {
            const int end = std::countr_zero(other);
            const bool spaced =
                end > 0 ? (spaces.now >> (end - 1)) & 1 : spaces.before >> (width - 1);
            if (window[end] != '\n' || !spaced || odd != 0 || count < 2) return true;
            if constexpr (ascending) { // the last number is the largest: at most N
                const char* last = window + end - 1;
                std::int32_t v = 0;
                std::int32_t scale = 1;
                for (const char* p = last - 1; p >= at && *p != ' '; --p, scale *= 10)
                    v += (*p - '0') * scale;
                if (v > n) return true;
            }
            k = count;
            found = window + end;
            return true;
        }
        return false;
    };
    if (step(at)) return found;
    for (const char* window = at + width;; window += width)
        if (step(window)) return found;
}

template <bool ascending, masks_by how>
const char* scan_for(const char* at, std::int32_t n, std::int32_t& k) {
    if (n < 10) return scan<1, 64, ascending, how>(at, n, k);
    if (n < 100) return scan<2, 64, ascending, how>(at, n, k);
    if (n < 1000) return scan<3, 64, ascending, how>(at, n, k);
    if (n < 10000) return scan<4, 64, ascending, how>(at, n, k);
    return scan<5, 64, ascending, how>(at, n, k);
}

} // namespace

const char* scan_points(const char* at, std::int32_t n, bool ascending, std::int32_t& k,
                        masks_by how) {
    if (how == masks_by::vectors)
        return ascending ? scan_for<true, masks_by::vectors>(at, n, k)
                         : scan_for<false, masks_by::vectors>(at, n, k);
    return ascending ? scan_for<true, masks_by::bytes>(at, n, k)
                     : scan_for<false, masks_by::bytes>(at, n, k);
}

} // namespace subset
