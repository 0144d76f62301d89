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

// The SIMD forms the processing kernels take, one record for all of them: avx2 (four
// doubles or eight ints at a time), avx512 (eight or sixteen). Set at start-up from what the
// CPU and the environment allow; results are identical whichever forms run.
struct simd_forms {
    bool avx2 = avx2_allowed();
    bool avx512 = avx512_allowed();
};
inline simd_forms processing_simd;

// Chooses the forms (false keeps to the plain ones, wide false to AVX2) within what the CPU
// has; returns the previous avx2 choice.
inline bool choose_processing_simd(bool wanted, bool wide)
{
    const bool before = processing_simd.avx2;
    processing_simd.avx2 = wanted && cpu_has_avx2();
    processing_simd.avx512 = processing_simd.avx2 && wide && cpu_has_avx512();
    return before;
}
