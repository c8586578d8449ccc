#pragma once

// What the processor offers, for the loops chosen at run time.
namespace CpuFeatures {

// Whether AVX2 instructions may be used. With `narrowVariable` set in the environment the answer
// is no, so that tests can run the narrower loops on a machine that has AVX2. Callers keep the
// answer: reading the environment on every call would cost more than the loops save.
bool hasAvx2(const char* narrowVariable = nullptr);

} // namespace CpuFeatures
