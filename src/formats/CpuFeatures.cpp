#include "formats/CpuFeatures.h"

#include <cstdlib>

namespace CpuFeatures {

bool readAvx2()
{
    if (std::getenv(narrowLoopsVariable))
        return false;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

} // namespace CpuFeatures
