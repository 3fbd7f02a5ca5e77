// AVX2 rows of the 4:2:0 to ARGB conversion: the same integer steps as the
// reference rows, sixteen samples at a time; the last few of a row go
// through the reference.
#include "YuvToArgb.h"

#include "PlatformRaster.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>


namespace {

// One step of the reference rows, for the samples past the last whole block.
const YuvRowKernels &Reference() {
    static const YuvRowKernels k = YuvRowKernelSets().front();
    return k;
}

// Eight 32-bit lanes holding the pairs (src[p + k + t], src[p + k + t + 1]).
__attribute__((target("avx2"))) inline __m256i BytePairs(const uint8_t *p) {
    __m256i a = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)));
    __m256i b = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 1)));
    return _mm256_or_si256(a, _mm256_slli_epi32(b, 16));
}

__attribute__((target("avx2"))) inline __m256i Pair(int16_t low, int16_t high) {
    return _mm256_set1_epi32(int32_t(uint16_t(low) | uint32_t(uint16_t(high)) << 16));
}

// Eight picture columns of one phase, starting at chroma column p: column k
// reads chroma columns p + k .. p + k + 3.
__attribute__((target("avx2"))) inline __m256i Phase(const uint8_t *p, __m256i taps01, __m256i taps23) {
    return _mm256_add_epi32(_mm256_madd_epi16(BytePairs(p), taps01), _mm256_madd_epi16(BytePairs(p + 2), taps23));
}

__attribute__((target("avx2"))) void AcrossAVX2(const uint8_t *src, const ScalerTaps &taps, int first, int end,
                                                int16_t *out) {
    const int16_t *even = &taps.coef[size_t(first) * 4], *odd = even + 4;
    const __m256i e01 = Pair(even[0], even[1]), e23 = Pair(even[2], even[3]);
    const __m256i o01 = Pair(odd[0], odd[1]), o23 = Pair(odd[2], odd[3]);
    int x = first;
    for (; x + 16 <= end; x += 16) {
        // Columns x, x + 2, ... and x + 1, x + 3, ... each step one chroma column on.
        __m256i e = Phase(src + taps.pos[size_t(x)], e01, e23);
        __m256i o = Phase(src + taps.pos[size_t(x) + 1], o01, o23);
        __m256i lo = _mm256_unpacklo_epi32(e, o), hi = _mm256_unpackhi_epi32(e, o);
        __m256i a = _mm256_srai_epi32(_mm256_permute2x128_si256(lo, hi, 0x20), 7);
        __m256i b = _mm256_srai_epi32(_mm256_permute2x128_si256(lo, hi, 0x31), 7);
        // Saturating to 16 bits clips the top as the reference does; sums
        // never come near the bottom (the negative taps are small).
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x),
                            _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8));
    }
    Reference().across(src, taps, x, end, out);
}

__attribute__((target("avx2"))) inline __m256i Load16(const int16_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

struct Halves {
    __m256i a, b;  // 32-bit lanes for samples 0-3, 8-11 and 4-7, 12-15
};

// A plane's four filtered rows to its 32-bit values, (sum + bias) >> 10.
__attribute__((target("avx2"))) inline Halves Down(const int16_t *const r[4], int i, __m256i taps01, __m256i taps23) {
    const __m256i bias = _mm256_set1_epi32((1 << 9) - (128 << 19));
    __m256i r0 = Load16(r[0] + i), r1 = Load16(r[1] + i), r2 = Load16(r[2] + i), r3 = Load16(r[3] + i);
    __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(r0, r1), taps01),
                                  _mm256_madd_epi16(_mm256_unpacklo_epi16(r2, r3), taps23));
    __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(r0, r1), taps01),
                                  _mm256_madd_epi16(_mm256_unpackhi_epi16(r2, r3), taps23));
    return {_mm256_srai_epi32(_mm256_add_epi32(lo, bias), 10), _mm256_srai_epi32(_mm256_add_epi32(hi, bias), 10)};
}

struct Factors {
    __m256i yOffset, yCoeff, v2r, v2g, u2g, u2b;
};

// Eight pixels' ARGB words from luma (already << 9) and filtered chroma.
__attribute__((target("avx2"))) inline __m256i Pixels(__m256i y, __m256i u, __m256i v, const Factors &f) {
    const __m256i half = _mm256_set1_epi32(1 << 21), top = _mm256_set1_epi32((1 << 30) - 1);
    const __m256i zero = _mm256_setzero_si256(), alpha = _mm256_set1_epi32(0xFF);
    __m256i base = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(y, f.yOffset), f.yCoeff), half);
    __m256i r = _mm256_add_epi32(base, _mm256_mullo_epi32(v, f.v2r));
    __m256i g = _mm256_add_epi32(_mm256_add_epi32(base, _mm256_mullo_epi32(v, f.v2g)), _mm256_mullo_epi32(u, f.u2g));
    __m256i b = _mm256_add_epi32(base, _mm256_mullo_epi32(u, f.u2b));
    r = _mm256_srli_epi32(_mm256_min_epi32(_mm256_max_epi32(r, zero), top), 22);
    g = _mm256_srli_epi32(_mm256_min_epi32(_mm256_max_epi32(g, zero), top), 22);
    b = _mm256_srli_epi32(_mm256_min_epi32(_mm256_max_epi32(b, zero), top), 22);
    __m256i px = _mm256_or_si256(alpha, _mm256_slli_epi32(r, 8));
    px = _mm256_or_si256(px, _mm256_slli_epi32(g, 16));
    return _mm256_or_si256(px, _mm256_slli_epi32(b, 24));
}

__attribute__((target("avx2"))) void ToArgbAVX2(const uint8_t *y, const int16_t *const u[4], const int16_t *const v[4],
                                                const int16_t down[4], const YuvArgbCoefficients &k, int n,
                                                uint32_t *out) {
    const __m256i taps01 = _mm256_set1_epi32(int32_t(uint16_t(down[0]) | uint32_t(uint16_t(down[1])) << 16));
    const __m256i taps23 = _mm256_set1_epi32(int32_t(uint16_t(down[2]) | uint32_t(uint16_t(down[3])) << 16));
    const Factors f{_mm256_set1_epi32(k.yOffset), _mm256_set1_epi32(k.yCoeff), _mm256_set1_epi32(k.v2r),
                    _mm256_set1_epi32(k.v2g),     _mm256_set1_epi32(k.u2g),    _mm256_set1_epi32(k.u2b)};
    const __m256i zero = _mm256_setzero_si256();
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i luma = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + i)));
        __m256i ya = _mm256_slli_epi32(_mm256_unpacklo_epi16(luma, zero), 9);
        __m256i yb = _mm256_slli_epi32(_mm256_unpackhi_epi16(luma, zero), 9);
        Halves U = Down(u, i, taps01, taps23), V = Down(v, i, taps01, taps23);
        __m256i pa = Pixels(ya, U.a, V.a, f), pb = Pixels(yb, U.b, V.b, f);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), _mm256_permute2x128_si256(pa, pb, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i + 8), _mm256_permute2x128_si256(pa, pb, 0x31));
    }
    if (i == n) return;
    const int16_t *ut[4], *vt[4];
    for (int j = 0; j < 4; j++) {
        ut[j] = u[j] + i;
        vt[j] = v[j] + i;
    }
    Reference().toArgb(y + i, ut, vt, down, k, n - i, out + i);
}

}  // namespace

const YuvRowKernels *YuvRowKernelsAVX2() {
    static const YuvRowKernels k{"avx2", AcrossAVX2, ToArgbAVX2};
    return PlatformHasAVX2() ? &k : nullptr;
}


#else

const YuvRowKernels *YuvRowKernelsAVX2() { return nullptr; }

#endif
