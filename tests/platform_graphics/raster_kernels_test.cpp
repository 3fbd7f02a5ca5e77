// Every SIMD kernel this CPU runs against the plain reference, byte for byte,
// on the same seeded random pictures: odd and even sizes, rows with padding,
// and a frame of canary pixels around each destination block that must come
// out untouched. A failure prints the case's seed.
#include "PlatformRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

constexpr int kGuard = 3;  // canary pixels on every side of a destination block
constexpr uint8_t kCanary = 0xA5;

// A destination block of w x h pixels inside a canary frame, rows padded.
struct Canvas {
    ptrdiff_t rowBytes;
    std::vector<uint8_t> mem;
    Canvas(int w, int h, int pad)
        : rowBytes(ptrdiff_t(w + 2 * kGuard + pad) * 4), mem(size_t(rowBytes) * size_t(h + 2 * kGuard), kCanary) {}
    uint8_t *Block() { return mem.data() + kGuard * rowBytes + kGuard * 4; }
};

TEST(RasterKernels, QuarterTurnBlocksMatchTheReference) {
    const PlatformRasterKernels *reference = PlatformRasterKernelSet(0);
    ASSERT_NE(reference, nullptr);
    int compared = 0;
    for (uint32_t seed = 1000; seed < 2500; ++seed) {
        std::mt19937 rng(seed);
        // One of the eight signed permutations: block rows along image rows
        // or down image columns, each way; 1, 2 or 4 taps.
        const bool alongRows = rng() % 2;
        const int sx = rng() % 2 ? 1 : -1, sy = rng() % 2 ? 1 : -1, hu = rng() % 2, hv = rng() % 2;
        const int dw = 1 + int(rng() % 37), dh = 1 + int(rng() % 37);
        const int imgW = (alongRows ? dw : dh) + hu, imgH = (alongRows ? dh : dw) + hv;
        const ptrdiff_t imgRowBytes = ptrdiff_t(imgW + int(rng() % 4)) * 4;
        std::vector<uint8_t> img(size_t(imgRowBytes) * size_t(imgH));
        for (auto &b : img) b = static_cast<uint8_t>(rng());
        if (rng() % 3 == 0)  // mostly opaque pictures, as video frames are
            for (size_t i = 0; i < img.size(); i += 4) img[i] = 0xFF;
        const int pad = int(rng() % 3);
        // The walk starts at the far end of every axis it runs backwards along.
        const ptrdiff_t stepX = alongRows ? sx * 4 : sx * imgRowBytes, stepY = alongRows ? sy * imgRowBytes : sy * 4;
        const ptrdiff_t first = (stepX < 0 ? -stepX * (dw - 1) : 0) + (stepY < 0 ? -stepY * (dh - 1) : 0);
        PlatformTurnBlock block{nullptr, 0, dw, dh, img.data() + first, stepX, stepY, hu ? 4 : 0, hv ? imgRowBytes : 0};
        const auto turn = [&](const PlatformRasterKernels *kernels, Canvas &into) {
            block.dst = into.Block();
            block.dstRowBytes = into.rowBytes;
            return kernels->turn(&block);
        };
        Canvas want(dw, dh, pad);
        const uint32_t wantAll = turn(reference, want);
        for (int k = 1; const PlatformRasterKernels *kernels = PlatformRasterKernelSet(k); ++k) {
            Canvas got(dw, dh, pad);
            const uint32_t gotAll = turn(kernels, got);
            ++compared;
            ASSERT_TRUE(got.mem == want.mem && gotAll == wantAll)
                << kernels->name << " differs from the reference: seed " << seed << ", block " << dw << "x" << dh;
        }
    }
    EXPECT_GT(compared, 1000);
}

// The blend rule for every source byte, destination byte and opacity, through
// each kernel's row and through the dispatching call (strides, clamping).
TEST(RasterKernels, BlendMatchesTheRuleForEveryValue) {
    // Each of the 65536 (source, destination) pairs once, four per pixel, in
    // rows of an odd width with padding.
    constexpr int kWidth = 127, kHeight = (65536 / 4 + kWidth - 1) / kWidth;
    const ptrdiff_t srcRowBytes = (kWidth + 1) * 4;
    std::vector<uint8_t> src(size_t(srcRowBytes) * kHeight), dst0(src.size());
    for (int i = 0; i < 65536; ++i) {
        const size_t at = size_t(i / 4 / kWidth) * srcRowBytes + size_t(i / 4 % kWidth) * 4 + size_t(i % 4);
        src[at] = static_cast<uint8_t>(i & 0xFF);
        dst0[at] = static_cast<uint8_t>(i >> 8);
    }
    const auto rule = [](int s, int d, int op) { return static_cast<uint8_t>((s * op + d * (255 - op) + 127) / 255); };
    std::vector<uint8_t> want(kWidth * 4), got;
    for (int op = 0; op <= 255; ++op)
        for (int k = 0; const PlatformRasterKernels *kernels = PlatformRasterKernelSet(k); ++k)
            for (int y = 0; y < kHeight; ++y) {
                const uint8_t *s = &src[size_t(y) * srcRowBytes];
                const uint8_t *d = &dst0[size_t(y) * srcRowBytes];
                for (int i = 0; i < kWidth * 4; ++i) want[i] = rule(s[i], d[i], op);
                // The row kernel, with a canary pixel after the row.
                got.assign(d, d + kWidth * 4);
                got.insert(got.end(), 4, kCanary);
                kernels->blendRow(s, got.data(), kWidth, uint32_t(op));
                ASSERT_TRUE(std::equal(want.begin(), want.end(), got.begin()) && got[kWidth * 4] == kCanary &&
                            got[kWidth * 4 + 3] == kCanary)
                    << kernels->name << " blend row differs at opacity " << op << ", row " << y;
            }

    // The dispatching call on a block with padded rows in a canary frame.
    for (int op : {-7, 0, 1, 127, 128, 254, 255, 300}) {
        Canvas canvas(kWidth, kHeight, 2);
        std::vector<uint8_t> expect = canvas.mem;
        for (int y = 0; y < kHeight; ++y)
            for (int i = 0; i < kWidth * 4; ++i) {
                const size_t at = size_t(y + kGuard) * canvas.rowBytes + kGuard * 4 + i,
                             from = size_t(y) * srcRowBytes + i;
                canvas.mem[at] = dst0[from];
                expect[at] = rule(src[from], dst0[from], std::clamp(op, 0, 255));
            }
        PlatformBlend(src.data(), srcRowBytes, canvas.Block(), canvas.rowBytes, kWidth, kHeight, op);
        EXPECT_TRUE(canvas.mem == expect) << "opacity " << op;
    }
}

}  // namespace
