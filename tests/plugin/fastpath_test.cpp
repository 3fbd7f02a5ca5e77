// The compositor's direct turn (TurnCopy in render/lineEffect.cpp: pixels
// copied straight from the source frame when the turned picture lands on whole
// pixels) and the image copy that checks opacity on the way
// (CGContextDrawImage), each against a plain per-pixel loop (Expected below:
// fill, then every output pixel's centre turned back into the source, which
// is composited over it), over seeded random cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "Carbon.h"
#include "config/pascalFX.h"
#include "render/CGglue.h"
#include "render/lineEffect.h"

namespace {

struct Frame {
    GWorldPtr gw = nullptr;
    int W = 0, H = 0;
    Frame(int w, int h) : W(w), H(h) {
        const Rect r{0, 0, static_cast<int16_t>(h), static_cast<int16_t>(w)};
        NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
    }
    ~Frame() {
        if (gw) DisposeGWorld(gw);
    }
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;
    uint8_t *At(int x, int y) const {
        PixMapHandle pm = GetGWorldPixMap(gw);
        return reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4;
    }
};

// Source-over of premultiplied s onto d, channel by channel, rounded.
void Over(const uint8_t s[4], uint8_t d[4]) {
    for (int k = 0; k < 4; ++k) {
        const long v = s[k] + std::lround(d[k] * (255 - s[0]) / 255.0);
        d[k] = static_cast<uint8_t>(std::min(255L, v));
    }
}

void RandomPixel(std::mt19937 &rng, uint8_t p[4], bool opaque) {
    p[0] = opaque ? 255 : static_cast<uint8_t>(rng() % 256);
    for (int k = 1; k < 4; ++k) p[k] = static_cast<uint8_t>(rng() % (p[0] + 1u));  // premultiplied
}

uint64_t Mix(uint64_t sum, const uint8_t *p, size_t n) {
    for (size_t i = 0; i < n; ++i) sum = (sum ^ p[i]) * 1099511628211ull;
    return sum;
}

// The frame the effect should make, pixel by pixel: background G (fill when
// `outside`, else the source), the fill inside A, and over it the part of A
// inside the frame turned about A's centre (counter-clockwise on the screen
// for 90), left out beyond A when clipped. False when the turned picture
// would not land on whole pixels (not modelled here).
bool Expected(const Frame &src, Rect a, int degrees, bool outside, bool clip, const uint8_t fill[4],
              std::vector<uint8_t> *out) {
    const int W = src.W, H = src.H;
    const int sl = std::max<int>(a.left, 0), st = std::max<int>(a.top, 0);
    const int sr = std::min<int>(a.right, W), sb = std::min<int>(a.bottom, H);
    const double cx = (a.left + a.right) / 2.0, cy = (a.top + a.bottom) / 2.0;
    out->assign(size_t(W) * H * 4, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t *o = out->data() + (size_t(y) * W + x) * 4;
            const bool inA = x >= a.left && x < a.right && y >= a.top && y < a.bottom;
            std::memcpy(o, inA || outside ? fill : src.At(x, y), 4);
            if (clip && !inA) continue;
            const double ex = x + 0.5 - cx, ey = y + 0.5 - cy;
            double dx = ex, dy = ey;  // back to the unturned picture
            if (degrees == 90) dx = -ey, dy = ex;
            if (degrees == 180) dx = -ex, dy = -ey;
            if (degrees == 270) dx = ey, dy = -ex;
            const double u = cx + dx - 0.5, v = cy + dy - 0.5;
            if (u != std::floor(u) || v != std::floor(v)) return false;
            if (u < sl || u >= sr || v < st || v >= sb) continue;
            Over(src.At(int(u), int(v)), o);
        }
    return true;
}

TEST(FastPath, TurnedFramesMatchThePerPixelRule) {
    std::mt19937 rng(20261206);
    uint64_t got = 14695981039346656037ull, want = got;
    int exactCases = 0, mismatches = 0;
    pluginDataRec config{};
    for (int n = 0; n < 400; ++n) {
        const int W = 4 + int(rng() % 70), H = 4 + int(rng() % 70);
        Frame src(W, H), dst(W, H);
        ASSERT_TRUE(src.gw && dst.gw);
        config.rota = static_cast<SInt16>(1 + rng() % 4);
        // Mostly opaque frames; now and then, under a turn, pixels that are
        // not, which must be composited rather than copied.
        const bool seeThrough = config.rota != 1 && rng() % 6 == 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) RandomPixel(rng, src.At(x, y), !seeThrough || rng() % 50 != 0);
        // A anywhere around the frame, odd and even sizes, sometimes past
        // the edges or empty.
        const int l = int(rng() % (W + 10)) - 8, t = int(rng() % (H + 10)) - 8;
        const Rect a{static_cast<int16_t>(t), static_cast<int16_t>(l), static_cast<int16_t>(t + int(rng() % (H + 4))),
                     static_cast<int16_t>(l + int(rng() % (W + 4)))};
        config.outside = rng() % 2;
        config.clipActive = rng() % 2;
        config.colors[0] =
            RGBColor{static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng())};
        const uint8_t fill[4] = {255, uint8_t(config.colors[0].red >> 8), uint8_t(config.colors[0].green >> 8),
                                 uint8_t(config.colors[0].blue >> 8)};
        std::vector<uint8_t> model;
        const int degrees = 90 * (config.rota - 1);
        if (!Expected(src, a, degrees, config.outside, config.clipActive, fill, &model)) continue;
        ++exactCases;

        CGrafPtr before = nullptr;
        GDHandle device = nullptr;
        GetGWorld(&before, &device);
        TheLineEffect(src.gw, dst.gw, a, &config, n, 400);
        CGrafPtr after = nullptr;
        GetGWorld(&after, &device);
        EXPECT_EQ(after, before);

        std::vector<uint8_t> out(model.size());
        for (int y = 0; y < H; ++y) std::memcpy(&out[size_t(y) * W * 4], dst.At(0, y), size_t(W) * 4);
        got = Mix(got, out.data(), out.size());
        want = Mix(want, model.data(), model.size());
        if (out != model && ++mismatches == 1)
            ADD_FAILURE() << "first mismatch: case " << n << ", " << W << "x" << H << ", A (" << a.left << "," << a.top
                          << ")-(" << a.right << "," << a.bottom << "), rota " << config.rota
                          << (config.outside ? " outside" : "") << (config.clipActive ? " clip" : "")
                          << (seeThrough ? " see-through" : "");
    }
    EXPECT_GT(exactCases, 150);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(got, want);
}

// KELVARIN_REFERENCE=1 for the scope: every shortcut off, plain kernels.
struct ReferencePaths {
    ReferencePaths() { setenv("KELVARIN_REFERENCE", "1", 1); }
    ~ReferencePaths() { unsetenv("KELVARIN_REFERENCE"); }
    ReferencePaths(const ReferencePaths &) = delete;
    ReferencePaths &operator=(const ReferencePaths &) = delete;
};

std::vector<uint8_t> PixelsOf(const Frame &f) {
    std::vector<uint8_t> all(size_t(f.W) * f.H * 4);
    for (int y = 0; y < f.H; ++y) std::memcpy(&all[size_t(y) * f.W * 4], f.At(0, y), size_t(f.W) * 4);
    return all;
}

// The whole effect, and a turned picture drawn through the image glue, give
// the same bytes with and without the reference paths: half-pixel turns
// (exactly one side of A odd), whole-pixel ones, pictures that are not
// opaque, rectangles past the frame's edges. Seeds are printed on failure.
TEST(FastPath, EveryPathMatchesTheReferencePathsBitForBit) {
    int halfPixelTurns = 0;
    pluginDataRec config{};
    for (uint32_t seed = 5000; seed < 5400; ++seed) {
        std::mt19937 rng(seed);
        const int W = 3 + int(rng() % 90), H = 3 + int(rng() % 90);
        Frame src(W, H), fast(W, H), ref(W, H);
        ASSERT_TRUE(src.gw && fast.gw && ref.gw);
        config.rota = static_cast<SInt16>(1 + rng() % 4);
        const bool seeThrough = rng() % 6 == 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) RandomPixel(rng, src.At(x, y), !seeThrough || rng() % 40 != 0);
        for (int y = 0; y < H; ++y)  // whatever the outputs held before
            for (int x = 0; x < W; ++x)
                RandomPixel(rng, fast.At(x, y), false), std::memcpy(ref.At(x, y), fast.At(x, y), 4);
        const int l = int(rng() % (W + 6)) - 4, t = int(rng() % (H + 6)) - 4;
        const Rect a{static_cast<int16_t>(t), static_cast<int16_t>(l),
                     static_cast<int16_t>(t + 1 + int(rng() % (H + 2))),
                     static_cast<int16_t>(l + 1 + int(rng() % (W + 2)))};
        config.outside = rng() % 2;
        config.clipActive = rng() % 2;
        config.colors[0] =
            RGBColor{static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng())};
        const bool quarter = config.rota == 2 || config.rota == 4;
        halfPixelTurns += quarter && ((a.right - a.left) - (a.bottom - a.top)) % 2 != 0;

        TheLineEffect(src.gw, fast.gw, a, &config, 0, 1);
        {
            ReferencePaths only;
            TheLineEffect(src.gw, ref.gw, a, &config, 0, 1);
        }
        if (PixelsOf(fast) != PixelsOf(ref)) {
            ADD_FAILURE() << "effect differs from the reference paths: seed " << seed << ", " << W << "x" << H
                          << ", A (" << a.left << "," << a.top << ")-(" << a.right << "," << a.bottom << "), rota "
                          << config.rota << (config.outside ? " outside" : "") << (config.clipActive ? " clip" : "")
                          << (seeThrough ? " see-through" : "");
            return;
        }

        // The source drawn whole, turned, into a target anywhere on half
        // pixels: 1, 2 or 4 samples a pixel.
        CGImageRef image = GWorld2CGImage(src.gw);
        ASSERT_NE(image, nullptr);
        const CGRect target =
            CGRectMake(float(int(rng() % 40) - 10) / 2, float(int(rng() % 40) - 10) / 2, float(W), float(H));
        const auto angle = static_cast<float>(90 * (config.rota - 1) * 3.1415926535897932 / 180.0);
        DrawCGImageInCGRectOfPort(fast.gw, image, target, angle, false, 1.0, kCGBlendModeNormal);
        {
            ReferencePaths only;
            DrawCGImageInCGRectOfPort(ref.gw, image, target, angle, false, 1.0, kCGBlendModeNormal);
        }
        CGImageRelease(image);
        if (PixelsOf(fast) != PixelsOf(ref)) {
            ADD_FAILURE() << "drawing differs from the reference paths: seed " << seed << ", " << W << "x" << H
                          << " at (" << target.origin.x << "," << target.origin.y << "), rota " << config.rota
                          << (seeThrough ? " see-through" : "");
            return;
        }
    }
    EXPECT_GT(halfPixelTurns, 60);
}

// Images made from a context keep the pixels of the moment they were made,
// and know whether those were all opaque: an opaque image is copied where it
// is drawn, any other composited.
TEST(FastPath, ImageCopiesKnowTheirOpacity) {
    std::mt19937 rng(77);
    uint64_t got = 14695981039346656037ull, want = got;
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    for (int n = 0; n < 300; ++n) {
        const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 6);
        const size_t rowBytes = size_t(w) * 4 + 4 * (rng() % 3);
        std::vector<uint8_t> mem(rowBytes * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) RandomPixel(rng, &mem[y * rowBytes + x * 4], true);
        // One pixel that is not opaque in most cases, anywhere (row tails too).
        if (rng() % 4 != 0) mem[(rng() % h) * rowBytes + (rng() % w) * 4] = static_cast<uint8_t>(rng() % 255);
        const std::vector<uint8_t> made = mem;
        CGContextRef c = CGBitmapContextCreate(mem.data(), w, h, 8, rowBytes, space, kCGImageAlphaPremultipliedFirst);
        ASSERT_NE(c, nullptr);
        CGImageRef image = CGBitmapContextCreateImage(c);
        CGContextRelease(c);
        ASSERT_NE(image, nullptr);
        for (auto &b : mem) b = static_cast<uint8_t>(~b);  // later changes must not show

        std::vector<uint8_t> out(size_t(w) * h * 4), model(out.size());
        const uint8_t beneath[4] = {255, 10, 200, 30};
        for (size_t i = 0; i < out.size(); i += 4) std::memcpy(&out[i], beneath, 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t *m = &model[(size_t(y) * w + x) * 4];
                std::memcpy(m, beneath, 4);
                Over(&made[y * rowBytes + x * 4], m);
            }
        CGContextRef d =
            CGBitmapContextCreate(out.data(), w, h, 8, size_t(w) * 4, space, kCGImageAlphaPremultipliedFirst);
        ASSERT_NE(d, nullptr);
        CGContextDrawImage(d, CGRectMake(0, 0, float(w), float(h)), image);
        CGContextRelease(d);
        CGImageRelease(image);
        got = Mix(got, out.data(), out.size());
        want = Mix(want, model.data(), model.size());
        if (out != model) {
            ADD_FAILURE() << "case " << n << ": " << w << "x" << h;
            break;
        }
    }
    CGColorSpaceRelease(space);
    EXPECT_EQ(got, want);
}

}  // namespace
