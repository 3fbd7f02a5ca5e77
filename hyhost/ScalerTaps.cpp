#include "ScalerTaps.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdlib>

// The steps swscale takes, kept in its order so the integer weights come out
// the same: the cubic in 2^30 fixed point per tap (distances scaled down when
// shrinking), leading and trailing near-zero taps dropped, the count rounded
// up to the alignment, taps past either edge folded onto the edge sample,
// then each output's taps scaled to sum to `one` with the rounding error
// carried from tap to tap.

namespace {

constexpr double kReduceCutoff = 0.002;  // share of a unit weight a dropped run of taps may hold

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

struct WideTaps {
    int size = 0;
    int64_t unit = 0;  // the weight of a whole sample
    std::vector<int32_t> pos;
    std::vector<int64_t> w;  // size per output
};

// The raw cubic taps around each output's centre.
WideTaps RawCubic(int64_t inc, int srcW, int dstW, int srcPos, int dstPos) {
    WideTaps f;
    const int shrink = srcW / dstW;  // whole input samples per output sample
    f.unit = int64_t(1) << (54 - std::min(int(std::bit_width(unsigned(shrink | 1))) - 1, 8));
    f.size = inc <= (1 << 16) ? 1 + 4 : 1 + (4 * srcW + dstW - 1) / dstW;
    f.size = std::max(std::min(f.size, srcW - 2), 1);
    f.pos.resize(size_t(dstW));
    f.w.resize(size_t(dstW) * size_t(f.size));
    int64_t centre = ((dstPos * inc) >> 7) - ((srcPos * int64_t(0x10000)) >> 7);  // in 1/2^17 of a sample
    for (int i = 0; i < dstW; i++) {
        int xx = int((centre - (f.size - 2) * (int64_t(1) << 16)) / (1 << 17));
        f.pos[size_t(i)] = xx;
        for (int j = 0; j < f.size; j++, xx++) {
            int64_t d = std::abs(int64_t(xx) * (1 << 17) - centre) << 13;
            if (inc > 1 << 16) d = d * dstW / srcW;
            f.w[size_t(i) * size_t(f.size) + size_t(j)] = CubicWeight(d) / ((int64_t(1) << 54) / f.unit);
        }
        centre += 2 * inc;
    }
    return f;
}

// Shifts out each output's leading near-zero taps and returns the fewest taps
// that keep every output's trailing run above the cutoff.
int DropNearZeroTaps(WideTaps &f, int dstW) {
    const int n = f.size;
    const double cutoff = kReduceCutoff * double(f.unit);
    int needed = 0;
    for (int i = dstW - 1; i >= 0; i--) {
        int64_t *w = &f.w[size_t(i) * size_t(n)];
        int64_t cut = 0;
        for (int j = 0; j < n; j++) {
            cut += std::abs(w[0]);
            if (double(cut) > cutoff) break;
            if (i < dstW - 1 && f.pos[size_t(i)] >= f.pos[size_t(i) + 1]) break;  // positions must not go back
            std::copy(w + 1, w + n, w);
            w[n - 1] = 0;
            f.pos[size_t(i)]++;
        }
        int keep = n;
        cut = 0;
        for (int j = n - 1; j > 0; j--) {
            cut += std::abs(w[j]);
            if (double(cut) > cutoff) break;
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

}  // namespace

int64_t RoundedDiv(int64_t a, int64_t b) { return (a >= 0 ? a + (b >> 1) : a - (b >> 1)) / b; }

std::optional<ScalerTaps> SwscaleBicubicTaps(int64_t inc, int srcW, int dstW, int align, int one, int srcPos,
                                             int dstPos) {
    if (srcW < 1 || dstW < 1) return std::nullopt;
    WideTaps raw = RawCubic(inc, srcW, dstW, srcPos, dstPos);
    int needed = DropNearZeroTaps(raw, dstW);
    if (needed == 1 && align == 2) align = 1;  // a one-tap vertical filter is not padded
    const int size = (needed + align - 1) & ~(align - 1);
    if (size > srcW) return std::nullopt;  // swscale's reads would leave the row; leave such pictures to it

    std::vector<int64_t> w(size_t(dstW) * size_t(size), 0);
    for (size_t i = 0; i < size_t(dstW); i++)
        for (size_t j = 0; j < size_t(std::min(size, raw.size)); j++)
            w[i * size_t(size) + j] = raw.w[i * size_t(raw.size) + j];
    FoldEdges(w, raw.pos, size, srcW);

    ScalerTaps f;
    f.size = size;
    f.pos = std::move(raw.pos);
    f.coef.resize(w.size());
    for (size_t i = 0; i < size_t(dstW); i++) {
        const int64_t *t = &w[i * size_t(size)];
        int64_t sum = 0;
        for (int j = 0; j < size; j++) sum += t[j];
        sum = (sum + one / 2) / one;
        if (sum == 0) sum = 1;
        int64_t error = 0;
        for (size_t j = 0; j < size_t(size); j++) {
            int64_t v = t[j] + error;
            int64_t q = RoundedDiv(v, sum);
            f.coef[i * size_t(size) + j] = int16_t(q);
            error = v - q * sum;
        }
    }
    return f;
}

int SitingOf(int subsampled) {
    int pos = (128 << subsampled) - 128 + 128;
    return pos >> subsampled;
}

int64_t ScalerStep(int srcW, int dstW) { return ((int64_t(srcW) << 16) + (dstW >> 1)) / dstW; }
