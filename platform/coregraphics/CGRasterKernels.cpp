// Pixel kernels: quarter-turn blocks (copies and 2- or 4-pixel averages) and
// the opacity blend, each as a plain per-pixel reference and as SIMD code
// with exactly the same output (SSE2 on every x86-64; AVX2 for the blend
// where the CPU has it, chosen at run time).
//
// The turn kernels are memory-bound: a quarter turn walks image columns, so
// blocks of 4 x 4 pixels are read as four runs along image rows and
// transposed in registers. Averages are exact: two taps with the byte
// average (a + b + 1) >> 1, four as (a + b + c + d + 2) >> 2 from two levels
// of byte averages and a parity correction.
#include "PlatformRaster.h"
#include "coregraphics/CGRaster.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define RASTER_X86 1
#endif

#include <cstdlib>
#include <cstring>

namespace {

inline uint32_t Load(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

// ---- References ----

// One destination pixel from its taps, as the per-pixel rule has it: the
// channel sums of n taps, rounded half up.
inline uint32_t TapPixel(const uint8_t *p, ptrdiff_t tapU, ptrdiff_t tapV) {
    if (tapU == 0 && tapV == 0) return Load(p);
    uint8_t out[4];
    if (tapU == 0 || tapV == 0) {
        const ptrdiff_t t = tapU + tapV;
        for (int k = 0; k < 4; ++k) out[k] = static_cast<uint8_t>((p[k] + p[t + k] + 1) / 2);
    } else {
        for (int k = 0; k < 4; ++k)
            out[k] = static_cast<uint8_t>((p[k] + p[tapU + k] + p[tapV + k] + p[tapU + tapV + k] + 2) / 4);
    }
    uint32_t v;
    std::memcpy(&v, out, 4);
    return v;
}

// Columns x0.. of rows y0.. of a block, one pixel at a time.
uint32_t TurnPixels(const PlatformTurnBlock &b, int32_t x0, int32_t y0) {
    uint32_t all = 0xFFFFFFFFu;
    for (int32_t y = y0; y < b.height; ++y) {
        uint8_t *d = b.dst + y * b.dstRowBytes;
        for (int32_t x = x0; x < b.width; ++x) {
            const uint32_t v = TapPixel(b.src + x * b.stepX + y * b.stepY, b.tapU, b.tapV);
            all &= v;
            Store(d + ptrdiff_t(x) * 4, v);
        }
    }
    return all;
}

uint32_t TurnReference(const PlatformTurnBlock *b) { return TurnPixels(*b, 0, 0); }

inline uint8_t BlendByte(uint32_t s, uint32_t d, uint32_t op) {
    return static_cast<uint8_t>((s * op + d * (255 - op) + 127) / 255);
}

void BlendReference(const uint8_t *s, uint8_t *d, int32_t n, uint32_t op) {
    for (int32_t i = 0; i < n * 4; ++i) d[i] = BlendByte(s[i], d[i], op);
}

#if RASTER_X86

// ---- SSE2 ----

inline __m128i LoadU(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void StoreU(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// Four pixels from p on, each combined with its taps.
template <int Taps>
inline __m128i Taps4(const uint8_t *p, ptrdiff_t t1, ptrdiff_t t2) {
    if constexpr (Taps == 1) {
        return LoadU(p);
    } else if constexpr (Taps == 2) {
        return _mm_avg_epu8(LoadU(p), LoadU(p + t1));  // (a + b + 1) >> 1
    } else {
        // (a + b + c + d + 2) >> 2 in bytes: the rounded-up average of the
        // two pair averages is one too high exactly when they differ in
        // parity and either pair's sum was odd.
        const __m128i a = LoadU(p), b = LoadU(p + t1), c = LoadU(p + t2), d = LoadU(p + t1 + t2);
        const __m128i x = _mm_avg_epu8(a, b), y = _mm_avg_epu8(c, d);
        const __m128i odd = _mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
        const __m128i fix = _mm_and_si128(_mm_and_si128(_mm_xor_si128(x, y), odd), _mm_set1_epi8(1));
        return _mm_sub_epi8(_mm_avg_epu8(x, y), fix);
    }
}

// Four pixels at p, p + step, p + 2 step, p + 3 step along the image with
// step = +-4: one run, reversed when the walk goes backwards.
template <int Taps, bool Reverse>
inline __m128i Run4(const uint8_t *p, ptrdiff_t t1, ptrdiff_t t2) {
    if constexpr (Reverse)
        return _mm_shuffle_epi32(Taps4<Taps>(p - 12, t1, t2), _MM_SHUFFLE(0, 1, 2, 3));
    else
        return Taps4<Taps>(p, t1, t2);
}

inline uint32_t AndLanes(__m128i acc) {
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), acc);
    return lanes[0] & lanes[1] & lanes[2] & lanes[3];
}

// Destination rows along image rows (no turn, or a half turn).
template <int Taps, bool Reverse>
uint32_t TurnRowsSSE2(const PlatformTurnBlock &b, ptrdiff_t t1, ptrdiff_t t2) {
    __m128i acc = _mm_set1_epi32(-1);
    const int32_t n4 = b.width / 4 * 4;
    for (int32_t y = 0; y < b.height; ++y) {
        const uint8_t *s = b.src + y * b.stepY;
        uint8_t *d = b.dst + y * b.dstRowBytes;
        for (int32_t x = 0; x < n4; x += 4) {
            const __m128i v = Run4<Taps, Reverse>(s + x * b.stepX, t1, t2);
            acc = _mm_and_si128(acc, v);
            StoreU(d + ptrdiff_t(x) * 4, v);
        }
    }
    uint32_t all = AndLanes(acc);
    if (n4 < b.width) {
        PlatformTurnBlock rest = b;
        rest.dst += ptrdiff_t(n4) * 4;
        rest.src += n4 * b.stepX;
        rest.width -= n4;
        all &= TurnPixels(rest, 0, 0);
    }
    return all;
}

// Destination rows along image columns (quarter turns): blocks of 4 x 4.
// Destination column x + i reads image row run i; destination row y + j is
// lane j of every run, so the four runs are transposed before storing.
template <int Taps, bool Reverse>
uint32_t TurnColumnsSSE2(const PlatformTurnBlock &b, ptrdiff_t t1, ptrdiff_t t2) {
    __m128i acc = _mm_set1_epi32(-1);
    const int32_t w4 = b.width / 4 * 4, h4 = b.height / 4 * 4;
    const ptrdiff_t drb = b.dstRowBytes;
    for (int32_t y = 0; y < h4; y += 4) {
        const uint8_t *s = b.src + y * b.stepY;
        uint8_t *d = b.dst + y * drb;
        for (int32_t x = 0; x < w4; x += 4, s += 4 * b.stepX, d += 16) {
            const __m128i v0 = Run4<Taps, Reverse>(s, t1, t2);
            const __m128i v1 = Run4<Taps, Reverse>(s + b.stepX, t1, t2);
            const __m128i v2 = Run4<Taps, Reverse>(s + 2 * b.stepX, t1, t2);
            const __m128i v3 = Run4<Taps, Reverse>(s + 3 * b.stepX, t1, t2);
            acc = _mm_and_si128(acc, _mm_and_si128(_mm_and_si128(v0, v1), _mm_and_si128(v2, v3)));
            const __m128i a0 = _mm_unpacklo_epi32(v0, v1), a1 = _mm_unpacklo_epi32(v2, v3);
            const __m128i a2 = _mm_unpackhi_epi32(v0, v1), a3 = _mm_unpackhi_epi32(v2, v3);
            StoreU(d, _mm_unpacklo_epi64(a0, a1));
            StoreU(d + drb, _mm_unpackhi_epi64(a0, a1));
            StoreU(d + 2 * drb, _mm_unpacklo_epi64(a2, a3));
            StoreU(d + 3 * drb, _mm_unpackhi_epi64(a2, a3));
        }
    }
    uint32_t all = AndLanes(acc);
    // The right-hand columns of the rows done, then the rows left below.
    if (w4 < b.width && h4 > 0) {
        PlatformTurnBlock right = b;
        right.height = h4;
        all &= TurnPixels(right, w4, 0);
    }
    if (h4 < b.height) all &= TurnPixels(b, 0, h4);
    return all;
}

template <int Taps>
uint32_t TurnTapsSSE2(const PlatformTurnBlock &b, ptrdiff_t t1, ptrdiff_t t2) {
    if (b.stepX == 4) return TurnRowsSSE2<Taps, false>(b, t1, t2);
    if (b.stepX == -4) return TurnRowsSSE2<Taps, true>(b, t1, t2);
    if (b.stepY == 4) return TurnColumnsSSE2<Taps, false>(b, t1, t2);
    if (b.stepY == -4) return TurnColumnsSSE2<Taps, true>(b, t1, t2);
    return TurnPixels(b, 0, 0);
}

uint32_t TurnSSE2(const PlatformTurnBlock *b) {
    if (b->tapU == 0 && b->tapV == 0) return TurnTapsSSE2<1>(*b, 0, 0);
    if (b->tapU == 0 || b->tapV == 0) return TurnTapsSSE2<2>(*b, b->tapU + b->tapV, 0);
    return TurnTapsSSE2<4>(*b, b->tapU, b->tapV);
}

// x / 255 rounded down, exact for every 16-bit x: (x * 0x8081) >> 23.
inline __m128i Div255Floor(__m128i x) { return _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(short(0x8081))), 7); }

// s * op + d * (255 - op) + 127 stays below 65536, so 16-bit lanes hold it.
inline __m128i Blend8(__m128i s, __m128i d, __m128i op, __m128i inv, __m128i bias) {
    const __m128i z = _mm_setzero_si128();
    __m128i lo =
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(s, z), op), _mm_mullo_epi16(_mm_unpacklo_epi8(d, z), inv));
    __m128i hi =
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(s, z), op), _mm_mullo_epi16(_mm_unpackhi_epi8(d, z), inv));
    lo = Div255Floor(_mm_add_epi16(lo, bias));
    hi = Div255Floor(_mm_add_epi16(hi, bias));
    return _mm_packus_epi16(lo, hi);
}

void BlendSSE2(const uint8_t *s, uint8_t *d, int32_t n, uint32_t opacity) {
    const __m128i op = _mm_set1_epi16(short(opacity)), inv = _mm_set1_epi16(short(255 - opacity));
    const __m128i bias = _mm_set1_epi16(127);
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) StoreU(d + i * 4, Blend8(LoadU(s + i * 4), LoadU(d + i * 4), op, inv, bias));
    BlendReference(s + i * 4, d + i * 4, n - i, opacity);
}

// ---- AVX2 (the blend: twice the lanes of its arithmetic) ----

__attribute__((target("avx2"))) void BlendAVX2(const uint8_t *s, uint8_t *d, int32_t n, uint32_t opacity) {
    const __m256i op = _mm256_set1_epi16(short(opacity)), inv = _mm256_set1_epi16(short(255 - opacity));
    const __m256i bias = _mm256_set1_epi16(127), magic = _mm256_set1_epi16(short(0x8081));
    const __m256i z = _mm256_setzero_si256();
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i * 4));
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(d + i * 4));
        __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(sv, z), op),
                                      _mm256_mullo_epi16(_mm256_unpacklo_epi8(dv, z), inv));
        __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(sv, z), op),
                                      _mm256_mullo_epi16(_mm256_unpackhi_epi8(dv, z), inv));
        lo = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(lo, bias), magic), 7);
        hi = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(hi, bias), magic), 7);
        // unpack and pack both work within 128-bit halves, so the order holds.
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i * 4), _mm256_packus_epi16(lo, hi));
    }
    BlendSSE2(s + i * 4, d + i * 4, n - i, opacity);
}

// ---- AVX2 (quarter turns) ----
//
// Quarter turns walk destination rows along image rows: a block is 4
// destination columns by 8 rows, each column one run of 8 image pixels along
// a row. Adjacent destination columns read adjacent image rows, and with a
// tap down to the next row two neighbours share a row: every image row of
// the block is read once and combined with the next (5 rows for 4 columns).

__attribute__((target("avx2"))) inline __m256i LoadU8(const uint8_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// What one image row contributes to a run: its 8 pixels, or the average of
// each with its right-hand neighbour together with their odd bits (what the
// exact four-tap rounding needs). A run going backwards (Reverse) ends at p
// and keeps memory order: its lane 0 is the run's last pixel.
struct RowTaps {
    __m256i mean, odd;
};

template <bool PairU, bool Reverse>
__attribute__((target("avx2"))) inline RowTaps RowAt(const uint8_t *p) {
    if constexpr (Reverse) p -= 28;
    RowTaps r;
    if constexpr (PairU) {
        const __m256i a = LoadU8(p), b = LoadU8(p + 4);
        r.mean = _mm256_avg_epu8(a, b);
        r.odd = _mm256_xor_si256(a, b);
    } else {
        r.mean = LoadU8(p);
        r.odd = _mm256_setzero_si256();
    }
    return r;
}

// A run from its row and the next row down: (x + y + 1) >> 1 for two taps;
// for four, the same average of the pair averages less one where
// it rounded up twice.
template <bool PairU>
__attribute__((target("avx2"))) inline __m256i Combine(const RowTaps &x, const RowTaps &y) {
    if constexpr (!PairU) {
        return _mm256_avg_epu8(x.mean, y.mean);
    } else {
        const __m256i odd = _mm256_or_si256(x.odd, y.odd);
        const __m256i fix =
            _mm256_and_si256(_mm256_and_si256(_mm256_xor_si256(x.mean, y.mean), odd), _mm256_set1_epi8(1));
        return _mm256_sub_epi8(_mm256_avg_epu8(x.mean, y.mean), fix);
    }
}

// Four runs (destination columns) to 8 destination rows of 4 pixels.
__attribute__((target("avx2"))) inline void Store4x8(uint8_t *d, ptrdiff_t drb, __m256i v0, __m256i v1, __m256i v2,
                                                     __m256i v3) {
    const __m256i a0 = _mm256_unpacklo_epi32(v0, v1), a1 = _mm256_unpacklo_epi32(v2, v3);
    const __m256i a2 = _mm256_unpackhi_epi32(v0, v1), a3 = _mm256_unpackhi_epi32(v2, v3);
    const __m256i r0 = _mm256_unpacklo_epi64(a0, a1), r1 = _mm256_unpackhi_epi64(a0, a1);  // rows 0, 1 | 4, 5
    const __m256i r2 = _mm256_unpacklo_epi64(a2, a3), r3 = _mm256_unpackhi_epi64(a2, a3);  // rows 2, 3 | 6, 7
    StoreU(d, _mm256_castsi256_si128(r0));
    StoreU(d + drb, _mm256_castsi256_si128(r1));
    StoreU(d + 2 * drb, _mm256_castsi256_si128(r2));
    StoreU(d + 3 * drb, _mm256_castsi256_si128(r3));
    StoreU(d + 4 * drb, _mm256_extracti128_si256(r0, 1));
    StoreU(d + 5 * drb, _mm256_extracti128_si256(r1, 1));
    StoreU(d + 6 * drb, _mm256_extracti128_si256(r2, 1));
    StoreU(d + 7 * drb, _mm256_extracti128_si256(r3, 1));
}

// Each step down the destination reads a new image row, a whole row apart
// from the last: the hardware does not fetch those in time, so the rows
// kRowsAhead steps on are asked for early (both ends of what a step reads:
// two cache lines at most).
constexpr int kRowsAhead = 16;

// The rows ahead may lie past the picture's ends near the last steps; a
// prefetch there is harmless, so the address is reckoned as a number rather
// than as a pointer outside the picture.
template <bool PairU, bool Reverse, int Halves>
__attribute__((target("avx2"))) inline void Prefetch(const uint8_t *row, ptrdiff_t ahead) {
    constexpr ptrdiff_t tap = PairU ? 4 : 0;
    constexpr ptrdiff_t first = Reverse ? -28 - 32 * (Halves - 1) : 0;
    constexpr ptrdiff_t last = Reverse ? 3 + tap : 32 * Halves + tap - 1;
    const uintptr_t at = reinterpret_cast<uintptr_t>(row) + uintptr_t(ahead);
    _mm_prefetch(reinterpret_cast<const char *>(at + uintptr_t(first)), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char *>(at + uintptr_t(last)), _MM_HINT_T0);
}

// Destination rows along image rows (stepY = +-4) and columns down image
// rows (stepX = +-rowBytes); tapV, when set, is rowBytes. Bands of Halves x 8
// destination rows: with two halves each image row gives a whole cache line
// (16 pixels) at once instead of half of one now and half in the next band.
template <bool PairU, bool PairV, bool Reverse, int Halves>
__attribute__((target("avx2"))) __m256i TurnBandsAVX2(const PlatformTurnBlock &b, int32_t y0, int32_t y1,
                                                       __m256i acc) {
    const int32_t w4 = b.width / 4 * 4;
    const ptrdiff_t drb = b.dstRowBytes, half = 8 * b.stepY;
    // Run x reads rows first + x stepX and first + (x + 1) stepX.
    const ptrdiff_t first = PairV && b.stepX < 0 ? b.tapV : 0;
    for (int32_t y = y0; y + 8 * Halves <= y1; y += 8 * Halves) {
        const uint8_t *row = b.src + y * b.stepY + first;
        uint8_t *d = b.dst + y * drb;
        RowTaps next[Halves]{};
        if constexpr (PairV)
            for (int h = 0; h < Halves; ++h) next[h] = RowAt<PairU, Reverse>(row + h * half);
        for (int32_t x = 0; x < w4; x += 4, d += 16) {
            __m256i v[Halves][4];
            for (int i = 0; i < 4; ++i) {
                const uint8_t *here = row;
                row += b.stepX;
                Prefetch<PairU, Reverse, Halves>(row, kRowsAhead * b.stepX);
                for (int h = 0; h < Halves; ++h) {
                    if constexpr (PairV) {
                        const RowTaps taps = next[h];
                        next[h] = RowAt<PairU, Reverse>(row + h * half);
                        v[h][i] = Combine<PairU>(taps, next[h]);
                    } else {
                        v[h][i] = RowAt<PairU, Reverse>(here + h * half).mean;
                    }
                }
            }
            for (int h = 0; h < Halves; ++h) {
                acc = _mm256_and_si256(
                    acc, _mm256_and_si256(_mm256_and_si256(v[h][0], v[h][1]), _mm256_and_si256(v[h][2], v[h][3])));
                // Backwards, a run's last pixel is its first in memory:
                // storing its rows bottom up puts every pixel in place.
                if constexpr (Reverse)
                    Store4x8(d + (8 * h + 7) * drb, -drb, v[h][0], v[h][1], v[h][2], v[h][3]);
                else
                    Store4x8(d + 8 * h * drb, drb, v[h][0], v[h][1], v[h][2], v[h][3]);
            }
        }
    }
    return acc;
}

template <bool PairU, bool PairV, bool Reverse>
__attribute__((target("avx2"))) uint32_t TurnColumnsAVX2(const PlatformTurnBlock &b) {
    const int32_t w4 = b.width / 4 * 4, h16 = b.height / 16 * 16, h8 = b.height / 8 * 8;
    const ptrdiff_t drb = b.dstRowBytes;
    __m256i acc = _mm256_set1_epi32(-1);
    int32_t y = 0;
    // Whole-pixel turns are bound by their stores, which 16 rows at once
    // spread over too many lines: they keep bands of 8.
    if constexpr (PairU || PairV) {
        acc = TurnBandsAVX2<PairU, PairV, Reverse, 2>(b, 0, h16, acc);
        y = h16;
    }
    acc = TurnBandsAVX2<PairU, PairV, Reverse, 1>(b, y, h8, acc);
    const __m128i folded = _mm_and_si128(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    uint32_t all = AndLanes(folded);
    if (w4 < b.width && h8 > 0) {
        PlatformTurnBlock right = b;
        right.height = h8;
        all &= TurnPixels(right, w4, 0);
    }
    if (h8 < b.height) {
        PlatformTurnBlock below = b;
        below.dst += h8 * drb;
        below.src += h8 * b.stepY;
        below.height -= h8;
        all &= TurnSSE2(&below);
    }
    return all;
}

template <bool PairU, bool PairV>
__attribute__((target("avx2"))) uint32_t TurnTapsAVX2(const PlatformTurnBlock &b) {
    if (b.stepY == 4) return TurnColumnsAVX2<PairU, PairV, false>(b);
    return TurnColumnsAVX2<PairU, PairV, true>(b);
}

// Quarter turns here; no turn and half turns already run along rows at
// memory speed with SSE2.
__attribute__((target("avx2"))) uint32_t TurnAVX2(const PlatformTurnBlock *b) {
    const bool columns = (b->stepY == 4 || b->stepY == -4) && b->stepX != 4 && b->stepX != -4;
    const bool tapsFit =
        (b->tapU == 0 || b->tapU == 4) && (b->tapV == 0 || b->tapV == b->stepX || b->tapV == -b->stepX);
    if (!columns || !tapsFit) return TurnSSE2(b);
    const bool pairU = b->tapU != 0, pairV = b->tapV != 0;
    if (pairU && pairV) return TurnTapsAVX2<true, true>(*b);
    if (pairU) return TurnTapsAVX2<true, false>(*b);
    if (pairV) return TurnTapsAVX2<false, true>(*b);
    return TurnTapsAVX2<false, false>(*b);
}

bool HasAVX2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#endif

const PlatformRasterKernels kReference{"reference", TurnReference, BlendReference};

// Reference first, then every set this CPU runs, best last.
struct KernelTable {
    PlatformRasterKernels sets[3];
    int count = 0;
    KernelTable() {
        sets[count++] = kReference;
#if RASTER_X86
        sets[count++] = PlatformRasterKernels{"sse2", TurnSSE2, BlendSSE2};
        if (HasAVX2()) sets[count++] = PlatformRasterKernels{"avx2", TurnAVX2, BlendAVX2};
#endif
    }
};

const KernelTable &Kernels() {
    static const KernelTable table;
    return table;
}

}  // namespace

const PlatformRasterKernels &CGRasterKernelsInUse() {
    const KernelTable &t = Kernels();
    return PlatformReferenceOnly() ? t.sets[0] : t.sets[t.count - 1];
}

extern "C" {

PLATFORM_API int PlatformHasAVX2(void) {
#if RASTER_X86
    static const bool has = HasAVX2();
    return has;
#else
    return 0;
#endif
}

PLATFORM_API int PlatformReferenceOnly(void) {
    const char *v = std::getenv("KELVARIN_REFERENCE");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

PLATFORM_API const PlatformRasterKernels *PlatformRasterKernelSet(int index) {
    const KernelTable &t = Kernels();
    return index >= 0 && index < t.count ? &t.sets[index] : nullptr;
}

PLATFORM_API void PlatformBlend(const uint8_t *src, ptrdiff_t srcRowBytes, uint8_t *dst, ptrdiff_t dstRowBytes,
                                int32_t width, int32_t height, int opacity) {
    if (!src || !dst || width <= 0 || height <= 0) return;
    const auto op = static_cast<uint32_t>(opacity < 0 ? 0 : (opacity > 255 ? 255 : opacity));
    if (op == 0) return;  // the rule leaves every byte as it was
    const PlatformRasterKernels &k = CGRasterKernelsInUse();
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *s = src + y * srcRowBytes;
        uint8_t *d = dst + y * dstRowBytes;
        if (op == 255)
            std::memmove(d, s, size_t(width) * 4);
        else
            k.blendRow(s, d, width, op);
    }
}

}  // extern "C"
