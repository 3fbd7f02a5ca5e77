#include "ArgbToYuv.h"

#include "RowBands.h"

#include <algorithm>

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

// ---- Weights ---------------------------------------------------------------

constexpr int kWeightShift = 15;

int32_t Fixed(double v, double range) { return int32_t(v * range / 255 * (1 << kWeightShift) + 0.5); }

// The weights from the inverse matrix swscale is given for YUV to RGB
// (limited range: luma scaled by 219/255). BT.601 keeps its published
// rounded coefficients, as swscale does.
RgbYuvWeights WeightsOf(const int *table) {
    const int64_t one = 65536;
    int64_t vr = table[0], ub = table[1], ug = -table[2], vg = -table[3];
    int64_t cy = one * 255 / 219;
    int64_t W = RoundedDiv(one * one * ug, ub), V = RoundedDiv(one * one * vg, vr), Z = one * one - W - V;
    int64_t Cy = RoundedDiv(cy * Z, one), Cu = RoundedDiv(ub * Z, one), Cv = RoundedDiv(vr * Z, one);
    const int64_t s = int64_t(1) << kWeightShift;
    RgbYuvWeights w;
    w.ry = int32_t(-RoundedDiv(s * V, Cy));
    w.gy = int32_t(RoundedDiv(s * one * one, Cy));
    w.by = int32_t(-RoundedDiv(s * W, Cy));
    w.ru = int32_t(RoundedDiv(s * V, Cu));
    w.gu = int32_t(-RoundedDiv(s * one * one, Cu));
    w.bu = int32_t(RoundedDiv(s * (Z + W), Cu));
    w.rv = int32_t(RoundedDiv(s * (V + Z), Cv));
    w.gv = int32_t(-RoundedDiv(s * one * one, Cv));
    w.bv = int32_t(RoundedDiv(s * W, Cv));
    if (std::equal(table, table + 4, sws_getCoefficients(SWS_CS_DEFAULT))) {
        w.by = Fixed(0.114, 219);
        w.bv = -Fixed(0.081, 224);
        w.bu = Fixed(0.500, 224);
        w.gy = Fixed(0.587, 219);
        w.gv = -Fixed(0.419, 224);
        w.gu = -Fixed(0.331, 224);
        w.ry = Fixed(0.299, 219);
        w.rv = Fixed(0.500, 224);
        w.ru = -Fixed(0.169, 224);
    }
    return w;
}

// ---- Reference rows ----------------------------------------------------------

// RGB into 14-bit samples (6 fraction bits): luma offset by 16, chroma by
// 128, and a little over half a step, as swscale rounds.
constexpr int32_t kYRound = (16 << 15) + (1 << 8);
constexpr int32_t kUVRound = (128 << 15) + (1 << 8);

void SplitReference(const uint8_t *argb, int n, const RgbYuvWeights &w, uint8_t *luma, int16_t *u, int16_t *v) {
    for (int i = 0; i < n; i++) {
        const int r = argb[4 * i + 1], g = argb[4 * i + 2], b = argb[4 * i + 3];
        const int y14 = (w.ry * r + w.gy * g + w.by * b + kYRound) >> 9;
        const int y15 = std::min(y14 * 2, (1 << 15) - 1);  // the one-tap horizontal pass, 14 to 15 bits
        luma[i] = uint8_t(std::clamp((y15 + 64) >> 7, 0, 255));
        u[i] = int16_t((w.ru * r + w.gu * g + w.bu * b + kUVRound) >> 9);
        v[i] = int16_t((w.rv * r + w.gv * g + w.bv * b + kUVRound) >> 9);
    }
}

int16_t AcrossOne(const int16_t *src, const ScalerTaps &taps, int x) {
    const int16_t *c = &taps.coef[size_t(x) * size_t(taps.size)];
    const int16_t *s = src + taps.pos[size_t(x)];
    int sum = 0;
    for (int j = 0; j < taps.size; j++) sum += uint16_t(s[j]) * c[j];
    return int16_t(std::min(sum >> 13, (1 << 15) - 1));
}

void AcrossReference(const int16_t *src, const ScalerTaps &taps, int first, int end, int16_t *out) {
    for (int x = first; x < end; x++) out[x] = AcrossOne(src, taps, x);
}

void DownReference(const int16_t *const *rows, const int16_t *taps, int size, int n, uint8_t *out) {
    for (int i = 0; i < n; i++) {
        unsigned sum = 64u << 12;  // accurate rounding: half of the last step
        for (int j = 0; j < size; j++) sum += unsigned(rows[j][i] * taps[j]);
        out[i] = uint8_t(std::clamp(int(sum) >> 19, 0, 255));
    }
}

// The run of chroma columns whose taps repeat two picture columns apart.
void FindSteadyRun(ArgbYuvPlan &p) {
    const ScalerTaps &t = p.across;
    const size_t n = size_t(t.size);
    int mid = p.chromaWidth / 2, first = mid, end = mid + 1;
    auto same = [&](int a, int b) {
        return t.pos[size_t(b)] - t.pos[size_t(a)] == 2 * (b - a) &&
               std::equal(&t.coef[size_t(a) * n], &t.coef[size_t(a) * n] + n, &t.coef[size_t(b) * n]);
    };
    while (first > 0 && same(first - 1, mid)) first--;
    while (end < p.chromaWidth && same(mid, end)) end++;
    p.steadyFirst = first;
    p.steadyEnd = end;
}

}  // namespace

const ArgbYuvRowKernels *ArgbYuvRowKernelsAVX2();

std::vector<ArgbYuvRowKernels> ArgbYuvRowKernelSets() {
    std::vector<ArgbYuvRowKernels> sets{{"reference", SplitReference, AcrossReference, DownReference}};
    if (const ArgbYuvRowKernels *k = ArgbYuvRowKernelsAVX2()) sets.push_back(*k);
    return sets;
}

std::optional<ArgbYuvPlan> MakeArgbYuvPlan(int width, int height, const int *table, bool fullRange) {
    if (width < 16 || height < 16 || !table || fullRange) return std::nullopt;
    ArgbYuvPlan p;
    p.width = width;
    p.height = height;
    p.chromaWidth = (width + 1) >> 1;
    p.chromaHeight = (height + 1) >> 1;
    p.w = WeightsOf(table);
    // x86 swscale pads taps across to a multiple of 4, down to 2.
    auto across = SwscaleBicubicTaps(ScalerStep(width, p.chromaWidth), width, p.chromaWidth, 4, 1 << 14,
                                     SitingOf(0), SitingOf(1));
    auto down = SwscaleBicubicTaps(ScalerStep(height, p.chromaHeight), height, p.chromaHeight, 2, 1 << 12,
                                   SitingOf(0), SitingOf(1));
    if (!across || !down || across->size % 2 || down->size > 16) return std::nullopt;
    p.across = std::move(*across);
    p.down = std::move(*down);
    FindSteadyRun(p);
    return p;
}

namespace {

// What one band works in: the chroma samples of a picture row, that row's
// luma when it belongs to the other band, and the ring of filtered rows.
struct BandScratch {
    std::vector<int16_t> samples, filtered;
    std::vector<uint8_t> luma;
};

// Chroma rows [cy0, cy1) and the luma rows from the first picture row they
// read up to the first the next band reads. A chroma row reads `size`
// picture rows filtered across, kept in a ring; the window moves two rows
// at a time.
void ConvertBand(const ArgbYuvPlan &plan, const ArgbYuvRowKernels &k, const uint8_t *argb, ptrdiff_t stride,
                 const YuvOutPlanes &out, int cy0, int cy1, BandScratch &s) {
    const size_t w = size_t(plan.width), cw = size_t(plan.chromaWidth);
    const int size = plan.down.size, ring = size + 2;
    const int lumaFirst = cy0 == 0 ? 0 : plan.down.pos[size_t(cy0)];
    const int lumaEnd = cy1 == plan.chromaHeight ? plan.height : plan.down.pos[size_t(cy1)];
    auto splitRow = [&](int y) {
        int16_t *u = s.samples.data(), *v = u + w;
        uint8_t *luma = y < lumaEnd ? out.data[0] + y * out.stride[0] : s.luma.data();
        k.split(argb + y * stride, plan.width, plan.w, luma, u, v);
        for (int c = 0; c < 2; c++) {
            const int16_t *src = c ? v : u;
            int16_t *dst = &s.filtered[(size_t(c) * size_t(ring) + size_t(y % ring)) * cw];
            AcrossReference(src, plan.across, 0, plan.steadyFirst, dst);
            k.across(src, plan.across, plan.steadyFirst, plan.steadyEnd, dst);
            AcrossReference(src, plan.across, plan.steadyEnd, plan.chromaWidth, dst);
        }
    };
    int done = lumaFirst;  // picture rows split so far
    const int16_t *rows[2][16];
    for (int cy = cy0; cy < cy1; cy++) {
        const int first = plan.down.pos[size_t(cy)];
        for (; done < first + size; done++) splitRow(done);
        for (int c = 0; c < 2; c++)
            for (int j = 0; j < size; j++)
                rows[c][j] = &s.filtered[(size_t(c) * size_t(ring) + size_t((first + j) % ring)) * cw];
        const int16_t *taps = &plan.down.coef[size_t(cy) * size_t(size)];
        k.down(rows[0], taps, size, plan.chromaWidth, out.data[1] + cy * out.stride[1]);
        k.down(rows[1], taps, size, plan.chromaWidth, out.data[2] + cy * out.stride[2]);
    }
    for (; done < lumaEnd; done++) splitRow(done);  // luma rows below the last chroma's reach
}

}  // namespace

void ArgbToYuv(const ArgbYuvPlan &plan, const uint8_t *argb, ptrdiff_t stride, const YuvOutPlanes &out,
               bool reference) {
    static const std::vector<ArgbYuvRowKernels> sets = ArgbYuvRowKernelSets();
    const ArgbYuvRowKernels &k = reference ? sets.front() : sets.back();
    BandScratch scratch[2];
    for (BandScratch &s : scratch) {
        s.samples.resize(2 * size_t(plan.width));
        s.filtered.resize(2 * size_t(plan.down.size + 2) * size_t(plan.chromaWidth));
        s.luma.resize(size_t(plan.width));
    }
    InTwoBands(plan.chromaHeight, [&](int cy0, int cy1) {
        ConvertBand(plan, k, argb, stride, out, cy0, cy1, scratch[cy0 == 0 ? 0 : 1]);
    });
}
