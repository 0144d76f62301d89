// The AVX2 lanes the rank searches work in: 32 lanes of 8 bits or 16 lanes of 16 bits in
// one 256-bit register, with the few integer operations the searches need named the same
// for both widths, so one template serves either (simd_lanes<int8_t>, simd_lanes<int16_t>).
// Every function is compiled for AVX2 alone; callers run them only where the CPU has it.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define VOXMIRA_SIMD_LANES 1

#include <cstdint>
#include <immintrin.h>

#define SIMD_LANES_AVX2 __attribute__((target("avx2")))

template <typename T>
struct simd_lanes;

// 32 lanes of 8 bits.
template <>
struct simd_lanes<int8_t> {
    static constexpr int count = 32;
    using code = uint8_t;     // a lane's bits as unsigned
    using bits_t = uint32_t;  // one bit per lane
    SIMD_LANES_AVX2 static __m256i set1(int v) { return _mm256_set1_epi8((char)v); }
    // Signed a > b, a lane of ones where it holds.
    SIMD_LANES_AVX2 static __m256i gt(__m256i a, __m256i b) { return _mm256_cmpgt_epi8(a, b); }
    SIMD_LANES_AVX2 static __m256i eq(__m256i a, __m256i b) { return _mm256_cmpeq_epi8(a, b); }
    SIMD_LANES_AVX2 static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi8(a, b); }
    SIMD_LANES_AVX2 static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi8(a, b); }
    SIMD_LANES_AVX2 static __m256i min(__m256i a, __m256i b) { return _mm256_min_epi8(a, b); }
    SIMD_LANES_AVX2 static __m256i max(__m256i a, __m256i b) { return _mm256_max_epi8(a, b); }
    // Unsigned a <= b.
    SIMD_LANES_AVX2 static __m256i le_unsigned(__m256i a, __m256i b)
    {
        return _mm256_cmpeq_epi8(_mm256_min_epu8(a, b), a);
    }
    // Unsigned: a - b stopping at 0, the smaller, the larger; the largest lane of all.
    SIMD_LANES_AVX2 static __m256i subs_unsigned(__m256i a, __m256i b) { return _mm256_subs_epu8(a, b); }
    SIMD_LANES_AVX2 static __m256i min_unsigned(__m256i a, __m256i b) { return _mm256_min_epu8(a, b); }
    SIMD_LANES_AVX2 static __m256i max_unsigned(__m256i a, __m256i b) { return _mm256_max_epu8(a, b); }
    SIMD_LANES_AVX2 static unsigned largest_unsigned(__m256i a)
    {
        __m128i m = _mm_max_epu8(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
        m = _mm_max_epu8(m, _mm_srli_si128(m, 8));
        m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
        m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
        m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
        return (unsigned)_mm_cvtsi128_si32(m) & 0xffu;
    }
    // One lane per bit of `bits` (lane i all ones where bit i is set): every byte takes the
    // byte of its eight bits and keeps its own.
    SIMD_LANES_AVX2 static __m256i expand(bits_t bits)
    {
        const __m256i which = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,
                                               3, 3, 3, 3, 3, 3, 3, 3);
        const __m256i bit = _mm256_set1_epi64x((long long)0x8040201008040201ULL);
        const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32((int)bits), which);
        return _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit);
    }
};

// 16 lanes of 16 bits.
template <>
struct simd_lanes<int16_t> {
    static constexpr int count = 16;
    using code = uint16_t;
    using bits_t = uint16_t;
    SIMD_LANES_AVX2 static __m256i set1(int v) { return _mm256_set1_epi16((short)v); }
    SIMD_LANES_AVX2 static __m256i gt(__m256i a, __m256i b) { return _mm256_cmpgt_epi16(a, b); }
    SIMD_LANES_AVX2 static __m256i eq(__m256i a, __m256i b) { return _mm256_cmpeq_epi16(a, b); }
    SIMD_LANES_AVX2 static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
    SIMD_LANES_AVX2 static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
    SIMD_LANES_AVX2 static __m256i min(__m256i a, __m256i b) { return _mm256_min_epi16(a, b); }
    SIMD_LANES_AVX2 static __m256i max(__m256i a, __m256i b) { return _mm256_max_epi16(a, b); }
    SIMD_LANES_AVX2 static __m256i le_unsigned(__m256i a, __m256i b)
    {
        return _mm256_cmpeq_epi16(_mm256_min_epu16(a, b), a);
    }
    SIMD_LANES_AVX2 static __m256i subs_unsigned(__m256i a, __m256i b) { return _mm256_subs_epu16(a, b); }
    SIMD_LANES_AVX2 static __m256i min_unsigned(__m256i a, __m256i b) { return _mm256_min_epu16(a, b); }
    SIMD_LANES_AVX2 static __m256i max_unsigned(__m256i a, __m256i b) { return _mm256_max_epu16(a, b); }
    SIMD_LANES_AVX2 static unsigned largest_unsigned(__m256i a)
    {
        __m128i m = _mm_max_epu16(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
        m = _mm_max_epu16(m, _mm_srli_si128(m, 8));
        m = _mm_max_epu16(m, _mm_srli_si128(m, 4));
        m = _mm_max_epu16(m, _mm_srli_si128(m, 2));
        return (unsigned)_mm_cvtsi128_si32(m) & 0xffffu;
    }
    SIMD_LANES_AVX2 static __m256i expand(bits_t bits)
    {
        const __m256i bit = _mm256_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384,
                                              (short)0x8000);
        return _mm256_cmpeq_epi16(_mm256_and_si256(_mm256_set1_epi16((short)bits), bit), bit);
    }
};

#endif
