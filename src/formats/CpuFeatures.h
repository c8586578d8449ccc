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

// Set in the environment (to anything), this keeps every processor-specific loop to its narrow
// form, so that tests and the sanitizer run cover the loops of processors without AVX2.
inline constexpr char narrowLoopsVariable[] = "QUORRIX_NARROW_LOOPS";

bool readAvx2();

// Whether AVX2 instructions may be used: the processor has them and narrowLoopsVariable is not
// set. Read once per process, on the first call; inline, since short scans ask it often.
inline bool hasAvx2()
{
    static const bool has = readAvx2();
    return has;
}

} // namespace CpuFeatures
