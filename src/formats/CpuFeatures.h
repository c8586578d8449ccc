#pragma once

// Wider loops for processors that have AVX2 are compiled where the compiler can target them,
// each marked QUORRIX_AVX2, and chosen at run time with hasAvx2().
#if defined(__GNUC__) && defined(__x86_64__)
#define QUORRIX_AVX2_LOOPS 1
#include <immintrin.h>
#define QUORRIX_AVX2 __attribute__((target("avx2")))
#endif

// What the processor offers, for the loops chosen at run time.
namespace CpuFeatures {

// Whether AVX2 instructions may be used. With `narrowVariable` set in the environment the answer
// is no, so that tests can run the narrower loops on a machine that has AVX2. Callers keep the
// answer: reading the environment on every call would cost more than the loops save.
bool hasAvx2(const char* narrowVariable = nullptr);

} // namespace CpuFeatures
