#include "YuvToArgb.h"

#include "RowBands.h"
#include "ScalerTaps.h"

#include <algorithm>

namespace {

// swscale's bicubic chroma taps for an enlargement by two: four each.
std::optional<ScalerTaps> FourTaps(int srcW, int dstW, int align, int one) {
    auto taps = SwscaleBicubicTaps(ScalerStep(srcW, dstW), srcW, dstW, align, one, SitingOf(1), SitingOf(0));
    if (!taps || taps->size != 4) return std::nullopt;
    return taps;
}

// The run of picture columns whose taps repeat every two columns, one chroma
// column further on.
void FindSteadyRun(YuvArgbPlan &p) {
    const ScalerTaps &t = p.across;
    auto same = [&](int a, int b) {
        return t.pos[size_t(b)] - t.pos[size_t(a)] == (b - a) / 2 &&
               std::equal(&t.coef[size_t(a) * 4], &t.coef[size_t(a) * 4] + 4, &t.coef[size_t(b) * 4]);
    };
    int mid = p.width / 2 & ~1, first = mid, end = mid + 2;
    while (first >= 2 && same(first - 2, mid) && same(first - 1, mid + 1)) first -= 2;
    while (end + 1 < p.width && same(mid, end) && same(mid + 1, end + 1)) end += 2;
    p.steadyFirst = first;
    p.steadyEnd = end;
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

void AcrossReference(const uint8_t *src, const ScalerTaps &taps, int first, int end, int16_t *out) {
    for (int x = first; x < end; x++) {
        const uint8_t *s = src + taps.pos[size_t(x)];
        const int16_t *c = &taps.coef[size_t(x) * 4];
        int sum = s[0] * c[0] + s[1] * c[1] + s[2] * c[2] + s[3] * c[3];
        out[x] = int16_t(std::min(sum >> 7, (1 << 15) - 1));  // 15-bit samples, 7 fraction bits
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
    auto across = FourTaps(p.chromaWidth, width, 4, 1 << 14);  // x86 swscale pads across to 4 taps, down to 2
    auto down = FourTaps(p.chromaHeight, height, 2, 1 << 12);
    if (!across || !down) return std::nullopt;
    p.across = std::move(*across);
    p.down = std::move(*down);
    FindSteadyRun(p);
    p.k = CoefficientsOf(colour);
    return p;
}

namespace {

// Filtered chroma rows, eight of each plane in a ring: a picture row reads
// four consecutive ones, and the window only moves down.
constexpr int kRing = 8;

// Picture rows [y0, y1).
void ConvertBand(const YuvArgbPlan &plan, const YuvRowKernels &kern, const YuvPlanes &src, uint8_t *dst,
                 ptrdiff_t dstStride, int y0, int y1, int16_t *ring) {
    const size_t w = size_t(plan.width);
    int filtered = plan.down.pos[size_t(y0)];  // the next chroma row to filter
    for (int y = y0; y < y1; y++) {
        const int first = plan.down.pos[size_t(y)];
        for (; filtered < first + 4; filtered++) {
            size_t slot = size_t(filtered % kRing);
            for (int c = 0; c < 2; c++) {
                const uint8_t *row = src.data[1 + c] + filtered * src.stride[1 + c];
                int16_t *out = &ring[(size_t(c) * kRing + slot) * w];
                AcrossReference(row, plan.across, 0, plan.steadyFirst, out);
                kern.across(row, plan.across, plan.steadyFirst, plan.steadyEnd, out);
                AcrossReference(row, plan.across, plan.steadyEnd, plan.width, out);
            }
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

}  // namespace

void YuvToArgb(const YuvArgbPlan &plan, const YuvPlanes &src, uint8_t *dst, ptrdiff_t dstStride, bool reference) {
    static const std::vector<YuvRowKernels> sets = YuvRowKernelSets();
    const YuvRowKernels &kern = reference ? sets.front() : sets.back();
    const size_t ringSize = 2 * kRing * size_t(plan.width);
    std::vector<int16_t> rings(2 * ringSize);  // one per band
    InTwoBands(plan.height, [&](int y0, int y1) {
        ConvertBand(plan, kern, src, dst, dstStride, y0, y1, &rings[y0 == 0 ? 0 : ringSize]);
    });
}
