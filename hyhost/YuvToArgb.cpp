#include "YuvToArgb.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdlib>


namespace {

// ---- Filter taps ---------------------------------------------------------
//
// swscale's bicubic taps (B = 0, C = 0.6) for an enlargement, built the way
// it builds them so the integer weights come out the same: the cubic in
// 2^30 fixed point per tap, leading and trailing near-zero taps dropped,
// the size rounded up to the alignment, taps past either edge folded onto
// the edge sample, then each output's taps scaled to sum to `one` with the
// rounding error carried from tap to tap.

constexpr int64_t kOne54 = int64_t(1) << 54;  // an enlargement's unit weight
constexpr double kReduceCutoff = 0.002;        // share of a unit weight a dropped tap run may hold

int64_t CubicWeight(int64_t d) {
    const int64_t B = 0;
    const int64_t C = int64_t(0.6 * (1 << 24));  // truncated, as the double-to-integer conversion does
    if (d >= int64_t(1) << 31) return 0;
    int64_t dd = (d * d) >> 30;
    int64_t ddd = (dd * d) >> 30;
    if (d < int64_t(1) << 30)
        return (12 * (1 << 24) - 9 * B - 6 * C) * ddd + (-18 * (1 << 24) + 12 * B + 6 * C) * dd +
               (6 * (1 << 24) - 2 * B) * (int64_t(1) << 30);
    return (-B - 6 * C) * ddd + (6 * B + 30 * C) * dd + (-12 * B - 48 * C) * d + (8 * B + 24 * C) * (int64_t(1) << 30);
}

struct WideFilter {
    int size = 0;
    std::vector<int32_t> pos;
    std::vector<int64_t> w;  // size per output
};

// The raw cubic taps around each output's centre. Positions are in 1/256 of
// a sample, relative to the samples' left edges (chroma siting).
WideFilter RawCubic(int64_t inc, int srcW, int dstW, int srcPos, int dstPos) {
    WideFilter f;
    f.size = std::max(std::min(1 + 4, srcW - 2), 1);
    f.pos.resize(size_t(dstW));
    f.w.resize(size_t(dstW) * size_t(f.size));
    int64_t centre = ((dstPos * inc) >> 7) - ((srcPos * int64_t(0x10000)) >> 7);  // in 1/2^17 of a sample
    for (int i = 0; i < dstW; i++) {
        int xx = int((centre - (f.size - 2) * (int64_t(1) << 16)) / (1 << 17));
        f.pos[size_t(i)] = xx;
        for (int j = 0; j < f.size; j++, xx++) {
            int64_t d = std::abs(int64_t(xx) * (1 << 17) - centre) << 13;
            f.w[size_t(i) * size_t(f.size) + size_t(j)] = CubicWeight(d);
        }
        centre += 2 * inc;
    }
    return f;
}

// Shifts out each output's leading near-zero taps and returns the fewest taps
// that keep every output's trailing run above the cutoff.
int DropNearZeroTaps(WideFilter &f, int dstW) {
    const int n = f.size;
    int needed = 0;
    for (int i = dstW - 1; i >= 0; i--) {
        int64_t *w = &f.w[size_t(i) * size_t(n)];
        int64_t cut = 0;
        for (int j = 0; j < n; j++) {
            cut += std::abs(w[0]);
            if (double(cut) > kReduceCutoff * double(kOne54)) break;
            if (i < dstW - 1 && f.pos[size_t(i)] >= f.pos[size_t(i) + 1]) break;  // positions must not go back
            std::copy(w + 1, w + n, w);
            w[n - 1] = 0;
            f.pos[size_t(i)]++;
        }
        int keep = n;
        cut = 0;
        for (int j = n - 1; j > 0; j--) {
            cut += std::abs(w[j]);
            if (double(cut) > kReduceCutoff * double(kOne54)) break;
            keep--;
        }
        needed = std::max(needed, keep);
    }
    return needed;
}

// Taps that would read before the first or past the last sample move onto
// the edge sample, so every read stays inside the row.
void FoldEdges(std::vector<int64_t> &w, std::vector<int32_t> &pos, int size, int srcW) {
    for (size_t i = 0; i < pos.size(); i++) {
        int64_t *t = &w[i * size_t(size)];
        if (pos[i] < 0) {
            for (int j = 1; j < size; j++) {
                int left = std::max(j + pos[i], 0);
                t[left] += t[j];
                t[j] = 0;
            }
            pos[i] = 0;
        }
        if (pos[i] + size > srcW) {
            int shift = pos[i] + std::min(size - srcW, 0);
            int64_t acc = 0;
            for (int j = size - 1; j >= 0; j--)
                if (pos[i] + j >= srcW) {
                    acc += t[j];
                    t[j] = 0;
                }
            for (int j = size - 1; j >= 0; j--) t[j] = j < shift ? 0 : t[j - shift];
            pos[i] -= shift;
            t[srcW - 1 - pos[i]] += acc;
        }
        assert(pos[i] >= 0 && pos[i] < srcW);
    }
}

int64_t RoundedDiv(int64_t a, int64_t b) { return (a >= 0 ? a + (b >> 1) : a - (b >> 1)) / b; }

std::optional<FourTapFilter> BicubicFilter(int64_t inc, int srcW, int dstW, int align, int one, int srcPos,
                                           int dstPos) {
    WideFilter raw = RawCubic(inc, srcW, dstW, srcPos, dstPos);
    int needed = DropNearZeroTaps(raw, dstW);
    if (needed == 1 && align == 2) align = 1;  // a one-tap vertical filter is not padded
    const int size = (needed + align - 1) & ~(align - 1);
    if (size != 4) return std::nullopt;

    std::vector<int64_t> w(size_t(dstW) * 4, 0);
    for (int i = 0; i < dstW; i++)
        for (int j = 0; j < std::min(size, raw.size); j++)
            w[size_t(i) * 4 + size_t(j)] = raw.w[size_t(i) * size_t(raw.size) + size_t(j)];
    FoldEdges(w, raw.pos, 4, srcW);

    FourTapFilter f;
    f.pos = std::move(raw.pos);
    f.coef.resize(size_t(dstW) * 4);
    for (size_t i = 0; i < size_t(dstW); i++) {
        const int64_t *t = &w[i * 4];
        int64_t sum = (t[0] + t[1] + t[2] + t[3] + one / 2) / one;
        if (sum == 0) sum = 1;
        int64_t error = 0;
        for (size_t j = 0; j < 4; j++) {
            int64_t v = t[j] + error;
            int64_t q = RoundedDiv(v, sum);
            f.coef[i * 4 + j] = int16_t(q);
            error = v - q * sum;
        }
    }
    f.taps02.resize(size_t(dstW));
    f.taps13.resize(size_t(dstW));
    for (size_t i = 0; i < size_t(dstW); i++) {
        auto pair = [&](size_t a, size_t b) {
            return int32_t(uint32_t(uint16_t(f.coef[i * 4 + a])) | uint32_t(uint16_t(f.coef[i * 4 + b])) << 16);
        };
        f.taps02[i] = pair(0, 2);
        f.taps13[i] = pair(1, 3);
    }
    return f;
}

// Where a plane's samples sit, in 1/256 of a picture sample from the left
// (or top) edge: 4:2:0 chroma is centred between its two luma samples
// horizontally and vertically, as swscale assumes when it is not told.
int SitingOf(int subsampled) {
    int pos = (128 << subsampled) - 128 + 128;
    return pos >> subsampled;
}

// ---- Colour --------------------------------------------------------------

int32_t RoundToInt16(int64_t f) {
    int r = int((f + (1 << 15)) >> 16);
    if (r < -0x7FFF) return int16_t(0x8000);
    return std::min(r, 0x7FFF);
}

YuvArgbCoefficients CoefficientsOf(const YuvColour &c) {
    int64_t crv = c.table[0], cbu = c.table[1], cgu = -c.table[2], cgv = -c.table[3];
    int64_t cy = 1 << 16, oy = 0;
    if (!c.fullRange) {
        cy = (cy * 255) / 219;
        oy = 16 << 16;
    } else {
        crv = (crv * 224) / 255;
        cbu = (cbu * 224) / 255;
        cgu = (cgu * 224) / 255;
        cgv = (cgv * 224) / 255;
    }
    cy = (cy * c.contrast) >> 16;
    int64_t cs = int64_t(c.contrast) * c.saturation;
    crv = (crv * cs) >> 32;
    cbu = (cbu * cs) >> 32;
    cgu = (cgu * cs) >> 32;
    cgv = (cgv * cs) >> 32;
    oy -= 256LL * c.brightness;
    YuvArgbCoefficients k;
    k.yCoeff = int16_t(RoundToInt16(cy * (1 << 13)));
    k.yOffset = int16_t(RoundToInt16(oy * (1 << 9)));
    k.v2r = int16_t(RoundToInt16(crv * (1 << 13)));
    k.v2g = int16_t(RoundToInt16(cgv * (1 << 13)));
    k.u2g = int16_t(RoundToInt16(cgu * (1 << 13)));
    k.u2b = int16_t(RoundToInt16(cbu * (1 << 13)));
    return k;
}

// ---- Reference rows ------------------------------------------------------

void AcrossReference(const uint8_t *src, const int32_t *pos, const int32_t *taps02, const int32_t *taps13, int n,
                     int16_t *out) {
    for (int i = 0; i < n; i++) {
        const uint8_t *s = src + pos[i];
        int c0 = int16_t(taps02[i]), c2 = int16_t(taps02[i] >> 16);
        int c1 = int16_t(taps13[i]), c3 = int16_t(taps13[i] >> 16);
        int sum = s[0] * c0 + s[1] * c1 + s[2] * c2 + s[3] * c3;
        out[i] = int16_t(std::min(sum >> 7, (1 << 15) - 1));  // 15-bit samples, 7 fraction bits
    }
}

int32_t ClipTo30Bits(int32_t v) { return std::clamp(v, 0, (1 << 30) - 1); }

void ToArgbReference(const uint8_t *y, const int16_t *const u[4], const int16_t *const v[4], const int16_t down[4],
                     const YuvArgbCoefficients &k, int n, uint32_t *out) {
    for (int i = 0; i < n; i++) {
        int32_t Y = y[i] << 9;  // one-tap luma at 1 << 12 over 15-bit samples, >> 10
        int32_t U = (1 << 9) - (128 << 19), V = U;
        for (int j = 0; j < 4; j++) {
            U += u[j][i] * down[j];
            V += v[j][i] * down[j];
        }
        U >>= 10;
        V >>= 10;
        // Unsigned sums: the conversion wraps where it overflows, and so must we.
        uint32_t base = uint32_t(Y - k.yOffset) * uint32_t(k.yCoeff) + (1u << 21);
        int32_t R = int32_t(base + uint32_t(V) * uint32_t(k.v2r));
        int32_t G = int32_t(base + uint32_t(V) * uint32_t(k.v2g) + uint32_t(U) * uint32_t(k.u2g));
        int32_t B = int32_t(base + uint32_t(U) * uint32_t(k.u2b));
        uint32_t r = uint32_t(ClipTo30Bits(R)) >> 22, g = uint32_t(ClipTo30Bits(G)) >> 22,
                 b = uint32_t(ClipTo30Bits(B)) >> 22;
        out[i] = 0xFFu | r << 8 | g << 16 | b << 24;  // bytes A, R, G, B
    }
}

}  // namespace

// Defined with the vector kernels; nil where the CPU lacks them.
const YuvRowKernels *YuvRowKernelsAVX2();

std::vector<YuvRowKernels> YuvRowKernelSets() {
    std::vector<YuvRowKernels> sets{{"reference", AcrossReference, ToArgbReference}};
    if (const YuvRowKernels *k = YuvRowKernelsAVX2()) sets.push_back(*k);
    return sets;
}

std::optional<YuvArgbPlan> MakeYuvArgbPlan(int width, int height, const YuvColour &colour) {
    if (width < 8 || height < 8 || !colour.table) return std::nullopt;
    YuvArgbPlan p;
    p.width = width;
    p.height = height;
    p.chromaWidth = (width + 1) >> 1;
    p.chromaHeight = (height + 1) >> 1;
    // Steps of one output sample in input samples, 16 fraction bits, rounded.
    int64_t incX = ((int64_t(p.chromaWidth) << 16) + (width >> 1)) / width;
    int64_t incY = ((int64_t(p.chromaHeight) << 16) + (height >> 1)) / height;
    auto across = BicubicFilter(incX, p.chromaWidth, width, 4, 1 << 14, SitingOf(1), SitingOf(0));
    auto down = BicubicFilter(incY, p.chromaHeight, height, 2, 1 << 12, SitingOf(1), SitingOf(0));
    if (!across || !down) return std::nullopt;
    p.across = std::move(*across);
    p.down = std::move(*down);
    p.k = CoefficientsOf(colour);
    return p;
}

void YuvToArgb(const YuvArgbPlan &plan, const YuvPlanes &src, uint8_t *dst, ptrdiff_t dstStride, bool reference) {
    static const std::vector<YuvRowKernels> sets = YuvRowKernelSets();
    const YuvRowKernels &kern = reference ? sets.front() : sets.back();
    const size_t w = size_t(plan.width);
    // Filtered chroma rows, eight of each plane in a ring: a picture row
    // reads four consecutive ones, and the window only moves down.
    constexpr int kRing = 8;
    std::vector<int16_t> ring(2 * kRing * w);
    int filtered = 0;  // chroma rows filtered so far
    for (int y = 0; y < plan.height; y++) {
        const int first = plan.down.pos[size_t(y)];
        for (; filtered < first + 4; filtered++) {
            size_t slot = size_t(filtered % kRing);
            for (int c = 0; c < 2; c++)
                kern.across(src.data[1 + c] + filtered * src.stride[1 + c], plan.across.pos.data(),
                            plan.across.taps02.data(), plan.across.taps13.data(), plan.width,
                            &ring[(size_t(c) * kRing + slot) * w]);
        }
        const int16_t *u[4], *v[4];
        for (int j = 0; j < 4; j++) {
            size_t slot = size_t((first + j) % kRing);
            u[j] = &ring[slot * w];
            v[j] = &ring[(kRing + slot) * w];
        }
        kern.toArgb(src.data[0] + y * src.stride[0], u, v, &plan.down.coef[size_t(y) * 4], plan.k, plan.width,
                    reinterpret_cast<uint32_t *>(dst + y * dstStride));
    }
}

