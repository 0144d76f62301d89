// What the CPU can run of the SIMD forms, and what the environment lets it: VOXMIRA_NO_SIMD
// keeps every kernel to its plain form, VOXMIRA_NO_AVX512 keeps the filters to AVX2. Every
// SIMD form gives its plain form's results, so these only change the speed.
#pragma once

#include <cstdlib>

inline bool cpu_has_avx2()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

inline bool cpu_has_avx512()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
#else
    return false;
#endif
}

// The start-up choices.
inline bool avx2_allowed() { return cpu_has_avx2() && !std::getenv("VOXMIRA_NO_SIMD"); }
inline bool avx512_allowed() { return avx2_allowed() && cpu_has_avx512() && !std::getenv("VOXMIRA_NO_AVX512"); }
