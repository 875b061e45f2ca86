// What every fuzz target checks with: a breach prints what broke and aborts,
// and libFuzzer keeps the input that did it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                       \
    do {                                                 \
        if (!(condition)) {                              \
            std::fprintf(stderr, "fuzz check failed: "); \
            std::fprintf(stderr, __VA_ARGS__);           \
            std::fprintf(stderr, "\n");                  \
            std::abort();                                \
        }                                                \
    } while (0)
