// AVX2 rows of the ARGB to 4:2:0 conversion: the same integer steps as the
// reference rows, sixteen samples at a time; what is left of a row goes
// through the reference.
#include "ArgbToYuv.h"

#include "PlatformRaster.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

const ArgbYuvRowKernels &Reference() {
    static const ArgbYuvRowKernels k = ArgbYuvRowKernelSets().front();
    return k;
}

__attribute__((target("avx2"))) inline __m256i Pair(int32_t low, int32_t high) {
    return _mm256_set1_epi32(int32_t(uint32_t(uint16_t(low)) | uint32_t(uint16_t(high)) << 16));
}

__attribute__((target("avx2"))) inline __m256i Load(const void *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// Sixteen 32-bit lanes in two registers to sixteen 16-bit ones in order,
// saturated.
__attribute__((target("avx2"))) inline __m256i Narrow(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
}

struct SplitWeights {
    __m256i yAG, yRB, uAG, uRB, vAG, vRB;
};

// One weighted sum of eight pixels: bytes A and G, R and B of each pixel as
// 16-bit pairs against the weights (0, g) and (r, b).
__attribute__((target("avx2"))) inline __m256i Weighted(__m256i ag, __m256i rb, __m256i wAG, __m256i wRB,
                                                        __m256i round) {
    __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(ag, wAG), _mm256_madd_epi16(rb, wRB));
    return _mm256_srai_epi32(_mm256_add_epi32(sum, round), 9);
}

__attribute__((target("avx2"))) void SplitAVX2(const uint8_t *argb, int n, const RgbYuvWeights &w, uint8_t *luma,
                                               int16_t *u, int16_t *v) {
    const SplitWeights k{Pair(0, w.gy), Pair(w.ry, w.by), Pair(0, w.gu), Pair(w.ru, w.bu), Pair(0, w.gv),
                         Pair(w.rv, w.bv)};
    const __m256i bytes = _mm256_set1_epi32(0x00FF00FF);
    const __m256i yRound = _mm256_set1_epi32((16 << 15) + (1 << 8)), uvRound = _mm256_set1_epi32((128 << 15) + (1 << 8));
    const __m256i top = _mm256_set1_epi16(0x7FFF), half = _mm256_set1_epi16(64);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i y[2], cu[2], cv[2];
        for (int h = 0; h < 2; h++) {
            __m256i px = Load(argb + 4 * (i + 8 * h));
            __m256i ag = _mm256_and_si256(px, bytes), rb = _mm256_and_si256(_mm256_srli_epi32(px, 8), bytes);
            y[h] = Weighted(ag, rb, k.yAG, k.yRB, yRound);
            cu[h] = Weighted(ag, rb, k.uAG, k.uRB, uvRound);
            cv[h] = Weighted(ag, rb, k.vAG, k.vRB, uvRound);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(u + i), Narrow(cu[0], cu[1]));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(v + i), Narrow(cv[0], cv[1]));
        // Luma: doubled to 15 bits (clipped), then rounded to 8 bits.
        __m256i y15 = _mm256_min_epi16(_mm256_adds_epi16(Narrow(y[0], y[1]), Narrow(y[0], y[1])), top);
        __m256i y8 = _mm256_srai_epi16(_mm256_adds_epi16(y15, half), 7);
        __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(y8, y8), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(luma + i), _mm256_castsi256_si128(packed));
    }
    Reference().split(argb + 4 * i, n - i, w, luma + i, u + i, v + i);
}

__attribute__((target("avx2"))) void AcrossAVX2(const int16_t *src, const ScalerTaps &taps, int first, int end,
                                                int16_t *out) {
    const int pairs = taps.size / 2;
    const int16_t *c = &taps.coef[size_t(first) * size_t(taps.size)];
    __m256i weights[8];
    for (int a = 0; a < pairs && a < 8; a++) weights[a] = Pair(c[2 * a], c[2 * a + 1]);
    int x = first;
    if (pairs <= 8) {
        for (; x + 16 <= end; x += 16) {
            // Output x + k reads pos[x] + 2k onwards: one contiguous load
            // per pair of taps holds every output's pair as a 32-bit lane.
            const int16_t *s = src + taps.pos[size_t(x)];
            __m256i sum[2];
            for (int h = 0; h < 2; h++) {
                __m256i acc = _mm256_setzero_si256();
                for (int a = 0; a < pairs; a++)
                    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(Load(s + 16 * h + 2 * a), weights[a]));
                sum[h] = _mm256_srai_epi32(acc, 13);
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), Narrow(sum[0], sum[1]));
        }
    }
    Reference().across(src, taps, x, end, out);
}

__attribute__((target("avx2"))) void DownAVX2(const int16_t *const *rows, const int16_t *taps, int size, int n,
                                              uint8_t *out) {
    const __m256i round = _mm256_set1_epi32(64 << 12);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i lo = round, hi = round;  // samples 0-3, 8-11 and 4-7, 12-15
        for (int j = 0; j < size; j += 2) {
            __m256i a = Load(rows[j] + i);
            __m256i b = j + 1 < size ? Load(rows[j + 1] + i) : _mm256_setzero_si256();
            __m256i w = Pair(taps[j], j + 1 < size ? taps[j + 1] : 0);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
        }
        __m256i words = _mm256_packs_epi32(_mm256_srai_epi32(lo, 19), _mm256_srai_epi32(hi, 19));
        __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm256_castsi256_si128(packed));
    }
    const int16_t *rest[16];
    for (int j = 0; j < size; j++) rest[j] = rows[j] + i;
    Reference().down(rest, taps, size, n - i, out + i);
}

}  // namespace

const ArgbYuvRowKernels *ArgbYuvRowKernelsAVX2() {
    static const ArgbYuvRowKernels k{"avx2", SplitAVX2, AcrossAVX2, DownAVX2};
    return PlatformHasAVX2() ? &k : nullptr;
}

#else

const ArgbYuvRowKernels *ArgbYuvRowKernelsAVX2() { return nullptr; }

#endif
