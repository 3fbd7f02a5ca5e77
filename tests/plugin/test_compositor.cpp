// The compositor (TheLineEffect, render/lineEffect.cpp) against the shared
// per-pixel model of the effect (Pictures.h), on large named and small seeded
// random scenes, and through the plug-in's entry point. Then its fast paths
// against the reference paths (KELVARIN_REFERENCE=1: every shortcut off,
// plain kernels), bit for bit: the direct turn (PasteDirect) and a turned
// picture drawn through the image glue (render/CGglue.cpp), whose
// copy-or-composite choice rests on the image knowing its opacity.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "Pictures.h"
#include "TestEnv.h"
#include "TestHost.h"
#include "config/pascalFX.h"
#include "render/CGglue.h"
#include "render/lineEffect.h"
#include "support/commonprocs.h"

namespace {

// Runs the compositor on one scene and checks it against the model.
void Check(const Scene &s, std::mt19937 &rng) {
    const Picture src = RandomPicture(s.W, s.H, rng);
    GWorldPtr source = MakeGWorld(s.W, s.H), dest = MakeGWorld(s.W, s.H);
    Load(source, src);
    Load(dest, RandomPicture(s.W, s.H, rng));  // everything is replaced
    pluginDataRec c = ConfigFor(s);
    GWorldPtr other = MakeGWorld(3, 3);
    SetGWorld(other, nullptr);
    TheLineEffect(source, dest, s.A, &c, 5, 10);
    CGrafPtr port = nullptr;
    GetGWorld(&port, nullptr);
    EXPECT_EQ(port, other) << "the caller's port must come back";

    EXPECT_EQ(CountMismatches(Read(dest, R(0, 0, s.H, s.W)), EffectModel(src, s), s), 0);
    EXPECT_EQ(Read(source, R(0, 0, s.H, s.W)).px, src.px) << "the source is read only";
    for (GWorldPtr gw : {other, source, dest}) DisposeGWorld(gw);
}

}  // namespace

TEST(Compositor, ScenesMatchTheModel) {
    // 200 x 100 at (100, 100) in 400 x 320: a quarter turn makes it 100 x 200
    // and spills 50 rows past its top and bottom; and its tall twin.
    std::mt19937 named(1);
    for (SInt16 rota : {2, 3, 4})
        for (bool outside : {false, true})
            for (bool clip : {false, true}) {
                Check(Scene{400, 320, R(100, 100, 200, 300), rota, outside, clip, {0x20, 0xC0, 0x7F}}, named);
                Check(Scene{320, 400, R(100, 100, 300, 200), rota, outside, clip, {0x20, 0xC0, 0x7F}}, named);
            }
    // Small random scenes, inverted and empty rectangles, turn codes out of range.
    std::uniform_int_distribution<int> size(1, 70), rotas(-1, 5), coin(0, 1), byte(0, 255);
    for (unsigned seed = 20261206; seed < 20261206 + 400; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);  // each case alone from its seed
        std::mt19937 rng(seed);
        Scene s{size(rng), size(rng)};  // width, then height: braces keep the order
        std::uniform_int_distribution<int> x(-s.W / 2 - 3, s.W + s.W / 2 + 3), y(-s.H / 2 - 3, s.H + s.H / 2 + 3);
        int l = x(rng), r = x(rng), t = y(rng), b = y(rng);
        if (coin(rng)) {  // mostly proper rectangles, sometimes inverted ones
            if (l > r) std::swap(l, r);
            if (t > b) std::swap(t, b);
        }
        s.A = R(t, l, b, r);
        s.rota = static_cast<SInt16>(rotas(rng));
        s.outside = coin(rng);
        s.clipActive = coin(rng);
        for (uint8_t &c : s.fill) c = static_cast<uint8_t>(byte(rng));
        Check(s, rng);
        if (HasFailure()) break;
    }
}

// The host's output picture larger than frameRect: the effect lands in
// frameRect only. Then the same size: drawn straight into the frame.
TEST(Compositor, FramesThroughTheEntryPoint) {
    ScopedPrefsFolder prefs;
    ResetGlueGlobals();
    for (bool sameSize : {false, true}) {
        TestHost host(sameSize ? 64 : 100, sameSize ? 47 : 80);
        host.Send(kPlugDrawIcon);
        Scene s{64, 47, R(5, 16, 41, 48), 4, true, false, {0x10, 0xEE, 0x34}};
        *gPascalData = ConfigFor(s);
        gPascalData->startRel = SetRelRect(0.25, 0.125, 0.75, 0.875);  // A, above
        // Fields the compositor must not read.
        gPascalData->endRel = SetRelRect(0.5, 0.5, 0.6, 0.6);
        gPascalData->sliders[0] = 99;
        gPascalData->keepProps = 1;
        gPascalData->mediaType = 3;
        if (!sameSize) host.params.frameRect = R(10, 20, 57, 84);  // 64 x 47
        const Picture before = Read(host.params.frame, GetPortRect(host.params.frame));
        host.params.startFrame = 12;
        host.params.renderFrame = 3;
        ASSERT_EQ(host.Send(kPlugInitialize), kPluginOK);
        ASSERT_EQ(host.Send(kPlugDoFrame), kPluginOK);
        host.Send(kPlugTerminate);

        Picture src{64, 47, std::vector<uint8_t>(64 * 47 * 4)};
        for (int y = 0; y < 47; ++y)
            for (int x = 0; x < 64; ++x) SourcePixel(15, x, y, &src.px[(y * 64 + x) * 4]);
        EXPECT_EQ(CountMismatches(Read(host.params.frame, host.params.frameRect), EffectModel(src, s), s), 0);
        const Picture after = Read(host.params.frame, GetPortRect(host.params.frame));
        for (int y = 0; y < after.H; ++y)
            for (int x = 0; x < after.W; ++x)
                if (!sameSize && (y < 10 || y >= 57 || x < 20 || x >= 84)) {
                    ASSERT_EQ(std::memcmp(after.At(x, y), before.At(x, y), 4), 0) << x << "," << y;
                }
        ResetGlueGlobals();
    }
}

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
