// A fuzz target's check: a failed one names itself and aborts, and libFuzzer keeps the input.
#ifndef TESTS_FUZZ_CHECK_H
#define TESTS_FUZZ_CHECK_H
#include <cstdio>
#include <cstdlib>
#define CHECK(condition)                                                                           \
    ((condition) ? void() : (std::fputs("failed: " #condition "\n", stderr), std::abort()))
#endif
