// A plain, slow rendering of the search, written as directly as possible: it reopens and
// rereads the distance file with formatted input on every call, scans the whole pool on
// every attempt and sorts by exchanges. The program's trace must equal its trace byte
// for byte on every well-formed file; the benchmark times it as the baseline.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace reference {

// Runs `iterations` iterations on the file `name` with random numbers from `rnd`,
// writing the whole trace (prompt included) to `to`. Returns the exit status.
int run(const std::string& name, std::FILE* to, std::int32_t iterations, int (*rnd)());

} // namespace reference
