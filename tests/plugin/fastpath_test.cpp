// The fast paths against the reference paths (KELVARIN_REFERENCE=1: every
// shortcut off, plain kernels), bit for bit: the compositor's direct turn
// (PasteDirect in render/lineEffect.cpp) and a turned picture drawn through the
// image glue (render/CGglue.cpp), whose copy-or-composite choice rests on the
// image knowing its opacity. The fast path itself is held to the effect model
// in test_compositor.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "Pictures.h"
#include "config/pascalFX.h"
#include "render/CGglue.h"
#include "render/lineEffect.h"

namespace {

// Opaque random pixels, but for see-through ones (premultiplied): either a
// single one anywhere, a row's tail too, or a sprinkling.
Picture Pixels(int W, int H, std::mt19937 &rng, bool seeThrough) {
    Picture p = RandomPicture(W, H, rng);
    const size_t n = p.px.size() / 4, step = rng() % 2 ? n : 1 + rng() % 60;
    for (size_t i = rng() % n; seeThrough && i < n; i += step) {
        uint8_t *q = &p.px[i * 4];
        q[0] = static_cast<uint8_t>(rng() % 255);
        for (int k = 1; k < 4; ++k) q[k] = static_cast<uint8_t>(rng() % (q[0] + 1u));
    }
    return p;
}

// Draws into `fast` as it is, into `ref` with every shortcut off; whether
// the two (equal before) are equal after.
template <typename Draw>
bool SameOnBothPaths(GWorldPtr fast, GWorldPtr ref, const Rect &all, Draw draw) {
    draw(fast);
    setenv("KELVARIN_REFERENCE", "1", 1);
    draw(ref);
    unsetenv("KELVARIN_REFERENCE");
    return Read(fast, all).px == Read(ref, all).px;
}

// Half-pixel turns (exactly one side of A odd), whole-pixel ones, pictures
// that are not opaque, rectangles past the frame's edges.
TEST(FastPath, EveryPathMatchesTheReferencePathsBitForBit) {
    int halfPixelTurns = 0;
    pluginDataRec config{};
    for (uint32_t seed = 5000; seed < 5400; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 rng(seed);
        const int W = 3 + int(rng() % 90), H = 3 + int(rng() % 90);
        const Rect all = R(0, 0, H, W);
        GWorldPtr src = MakeGWorld(W, H), fast = MakeGWorld(W, H), ref = MakeGWorld(W, H);
        ASSERT_TRUE(src && fast && ref);
        config.rota = static_cast<SInt16>(1 + rng() % 4);
        Load(src, Pixels(W, H, rng, rng() % 4 == 0));
        const Picture before = Pixels(W, H, rng, true);  // whatever the outputs held
        Load(fast, before);
        Load(ref, before);
        const int l = int(rng() % (W + 6)) - 4, t = int(rng() % (H + 6)) - 4;
        const Rect a = R(t, l, t + 1 + int(rng() % (H + 2)), l + 1 + int(rng() % (W + 2)));
        config.outside = rng() % 2;
        config.clipActive = rng() % 2;
        config.colors[0] = RGBColor{uint16_t(rng()), uint16_t(rng()), uint16_t(rng())};
        const bool quarter = config.rota == 2 || config.rota == 4;
        halfPixelTurns += quarter && ((a.right - a.left) - (a.bottom - a.top)) % 2 != 0;
        EXPECT_TRUE(SameOnBothPaths(fast, ref, all, [&](GWorldPtr to) { TheLineEffect(src, to, a, &config, 0, 1); }))
            << "the effect, rota " << config.rota;

        // The source drawn whole, turned, into a target anywhere on half
        // pixels: 1, 2 or 4 samples a pixel.
        CGImageRef image = GWorld2CGImage(src);
        ASSERT_NE(image, nullptr);
        const CGRect target = CGRectMake(float(int(rng() % 40) - 10) / 2, float(int(rng() % 40) - 10) / 2, W, H);
        const auto angle = static_cast<float>(90 * (config.rota - 1) * 3.1415926535897932 / 180.0);
        EXPECT_TRUE(SameOnBothPaths(
            fast, ref, all,
            [&](GWorldPtr to) { DrawCGImageInCGRectOfPort(to, image, target, angle, false, 1.0, kCGBlendModeNormal); }))
            << "the drawing, rota " << config.rota;
        CGImageRelease(image);
        for (GWorldPtr gw : {src, fast, ref}) DisposeGWorld(gw);
        if (HasFailure()) break;
    }
    EXPECT_GT(halfPixelTurns, 60);
}

}  // namespace
