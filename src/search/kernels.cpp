// Choosing the kernel table: the one place that asks the processor what it can do.
#include "search/kernels.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace subset {

namespace {

// Whether this processor can execute the table `k`.
bool can_execute([[maybe_unused]] const kernel_table& k) {
#if defined(__x86_64__)
    if (&k == &avx512_kernels)
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("bmi2") != 0 &&
               __builtin_cpu_supports("popcnt") != 0;
    const bool avx2 = __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0;
    if (&k == &avx2_kernels) // its large files' sweep takes a pext a step: slow on Zen 1 and 2
        return avx2 && __builtin_cpu_supports("bmi2") != 0 && __builtin_cpu_is("znver1") == 0 &&
               __builtin_cpu_is("znver2") == 0;
    if (&k == &avx2_unpacked_kernels) return avx2;
#endif
    return true;
}

// The tables of this build, best first.
#if defined(__x86_64__)
constexpr std::array<const kernel_table*, 4> built = {&avx512_kernels, &avx2_kernels,
                                                      &avx2_unpacked_kernels, &portable_kernels};
#else
constexpr std::array<const kernel_table*, 1> built = {&portable_kernels};
#endif

// The runnable ones among them, worked out on first use.
struct runnable_list {
    std::array<const kernel_table*, built.size()> tables{};
    std::size_t count = 0;
};

const runnable_list& runnable() {
    static const runnable_list list = [] {
        runnable_list l;
        for (const kernel_table* k : built)
            if (can_execute(*k)) l.tables[l.count++] = k;
        return l;
    }();
    return list;
}

} // namespace

std::span<const kernel_table* const> runnable_kernels() {
    const runnable_list& l = runnable();
    return {l.tables.data(), l.count};
}

const kernel_table& best_kernels() {
    return *runnable_kernels().front();
}

const kernel_table* kernels_named(std::string_view name) {
    const auto tables = runnable_kernels();
    const auto found = std::find_if(tables.begin(), tables.end(),
                                    [&](const kernel_table* k) { return k->name == name; });
    return found == tables.end() ? nullptr : *found;
}

} // namespace subset
