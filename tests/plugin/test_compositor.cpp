// The compositor against an independent per-pixel model of its rule:
//   background G = the source when `outside` is off, the fill colour when on;
//   outside A: G, or the turned picture where it spills (not with clipActive);
//   inside A: the picture turned about A's centre, the fill colour where it
//   does not reach. The picture is the part of A inside the frame; it is
//   sampled bilinearly at pixel centres (transparent outside it) and laid
//   source-over on what lies beneath. Quarter turns landing on whole pixels
//   must match exactly; half-pixel cases within kHalfPixelTolerance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "TestEnv.h"
#include "TestHost.h"
#include "config/pascalFX.h"
#include "render/callpixelfx.h"
#include "render/lineEffect.h"
#include "support/commonprocs.h"

namespace {

constexpr int kHalfPixelTolerance = 2;

struct Scene {
    int W = 0, H = 0;
    Rect A{};
    SInt16 rota = 1;
    bool outside = false, clipActive = false;
    uint8_t fill[3] = {0, 0, 0};

    std::string Describe() const {
        std::ostringstream s;
        s << W << "x" << H << " A=(t" << A.top << " l" << A.left << " b" << A.bottom << " r" << A.right << ") rota "
          << rota << " outside " << outside << " clip " << clipActive;
        return s.str();
    }
};

// A random opaque source picture, kept as plain bytes for the model.
struct Picture {
    int W, H;
    std::vector<uint8_t> px;   // A, R, G, B
    const uint8_t *At(int x, int y) const { return &px[(static_cast<size_t>(y) * W + x) * 4]; }
};

Picture RandomPicture(int W, int H, std::mt19937 &rng) {
    Picture p{W, H, std::vector<uint8_t>(static_cast<size_t>(W) * H * 4)};
    for (size_t i = 0; i < p.px.size(); i += 4) {
        p.px[i] = 0xFF;
        for (int k = 1; k < 4; ++k) p.px[i + k] = static_cast<uint8_t>(rng());
    }
    return p;
}

GWorldPtr MakeGWorld(int W, int H) {
    const Rect r{0, 0, static_cast<int16_t>(H), static_cast<int16_t>(W)};
    GWorldPtr gw = nullptr;
    NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
    return gw;
}

void Load(GWorldPtr gw, const Picture &p) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    auto *base = reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm));
    for (int y = 0; y < p.H; ++y) std::memcpy(base + y * GetPixRowBytes(pm), p.At(0, y), static_cast<size_t>(p.W) * 4);
}

Picture Read(GWorldPtr gw, Rect area) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    const auto *base = reinterpret_cast<const uint8_t *>(GetPixBaseAddr(pm));
    Picture p{area.right - area.left, area.bottom - area.top, {}};
    p.px.resize(static_cast<size_t>(p.W) * p.H * 4);
    for (int y = 0; y < p.H; ++y)
        std::memcpy(&p.px[static_cast<size_t>(y) * p.W * 4],
                    base + (area.top + y) * GetPixRowBytes(pm) + area.left * 4, static_cast<size_t>(p.W) * 4);
    return p;
}

struct Expected {
    Picture picture;
    bool exact = true;   // every sample on a pixel centre
};

Expected Model(const Picture &src, const Scene &s) {
    Expected e{Picture{s.W, s.H, std::vector<uint8_t>(static_cast<size_t>(s.W) * s.H * 4)}, true};
    const int wid = s.A.right - s.A.left, hig = s.A.bottom - s.A.top;
    const bool emptyA = wid <= 0 || hig <= 0;
    // The cut-out: A within the frame.
    const int sl = std::max<int>(s.A.left, 0), st = std::max<int>(s.A.top, 0);
    const int sr = std::min<int>(s.A.right, s.W), sb = std::min<int>(s.A.bottom, s.H);
    const bool haveCut = !emptyA && sl < sr && st < sb;
    const double cx = s.A.left + wid / 2.0, cy = s.A.top + hig / 2.0;
    const int turn = (s.rota >= 1 && s.rota <= 4) ? s.rota : 1;

    for (int y = 0; y < s.H; ++y)
        for (int x = 0; x < s.W; ++x) {
            double bg[4], under[4];
            const uint8_t *sp = src.At(x, y);
            for (int k = 0; k < 4; ++k) bg[k] = s.outside ? (k == 0 ? 255 : s.fill[k - 1]) : sp[k];
            const bool inA = !emptyA && x >= s.A.left && x < s.A.right && y >= s.A.top && y < s.A.bottom;
            for (int k = 0; k < 4; ++k) under[k] = inA ? (k == 0 ? 255 : s.fill[k - 1]) : bg[k];
            double out[4] = {under[0], under[1], under[2], under[3]};
            if (haveCut && (inA || !s.clipActive)) {
                const double ox = x + 0.5 - cx, oy = y + 0.5 - cy;
                double sx = x + 0.5, sy = y + 0.5;
                if (turn == 3) sx = cx - ox, sy = cy - oy;
                if (turn == 2) sx = cx - oy, sy = cy + ox;   // counter-clockwise on the screen
                if (turn == 4) sx = cx + oy, sy = cy - ox;   // clockwise
                const double u = sx - 0.5, v = sy - 0.5;
                const double i0 = std::floor(u), j0 = std::floor(v);
                const double fu = u - i0, fv = v - j0;
                if (fu != 0 || fv != 0) e.exact = false;
                double img[4] = {0, 0, 0, 0};
                for (int dj = 0; dj < 2; ++dj)
                    for (int di = 0; di < 2; ++di) {
                        const double w = (di ? fu : 1 - fu) * (dj ? fv : 1 - fv);
                        if (w == 0) continue;
                        const int px = static_cast<int>(i0) + di, py = static_cast<int>(j0) + dj;
                        if (px < sl || px >= sr || py < st || py >= sb) continue;   // transparent
                        for (int k = 0; k < 4; ++k) img[k] += w * src.At(px, py)[k];
                    }
                for (int k = 0; k < 4; ++k) out[k] = img[k] + under[k] * (1 - img[0] / 255.0);
            }
            uint8_t *dp = &e.picture.px[(static_cast<size_t>(y) * s.W + x) * 4];
            for (int k = 0; k < 4; ++k) dp[k] = static_cast<uint8_t>(std::lround(std::clamp(out[k], 0.0, 255.0)));
        }
    return e;
}

// Number of channels off by more than the tolerance; the first is reported.
int Compare(const Picture &got, const Expected &want, const Scene &s, int tolerance) {
    int bad = 0;
    for (int y = 0; y < s.H; ++y)
        for (int x = 0; x < s.W; ++x)
            for (int k = 0; k < 4; ++k) {
                const int g = got.At(x, y)[k], w = want.picture.At(x, y)[k];
                if (std::abs(g - w) > tolerance) {
                    if (bad++ == 0)
                        ADD_FAILURE() << s.Describe() << ": pixel (" << x << "," << y << ") channel " << k << " is "
                                      << g << ", model " << w;
                }
            }
    return bad;
}

pluginDataRec ConfigFor(const Scene &s) {
    pluginDataRec c;
    std::memset(&c, 0, sizeof c);
    ResetConfig(&c, true);
    c.rota = s.rota;
    c.outside = s.outside;
    c.clipActive = s.clipActive;
    c.colors[0] = SetRGBColor(static_cast<UInt16>(s.fill[0] * 0x101), static_cast<UInt16>(s.fill[1] * 0x101),
                              static_cast<UInt16>(s.fill[2] * 0x101));
    // Colours the compositor must not use.
    c.colors[1] = SetRGBColor(0x1111, 0x2222, 0x3333);
    c.frameStartColor = SetRGBColor(0x4444, 0x5555, 0x6666);
    return c;
}

// Runs the compositor on one scene and checks it against the model.
void Check(const Scene &s, std::mt19937 &rng) {
    const Picture src = RandomPicture(s.W, s.H, rng);
    GWorldPtr source = MakeGWorld(s.W, s.H);
    GWorldPtr dest = MakeGWorld(s.W, s.H);
    Load(source, src);
    Load(dest, RandomPicture(s.W, s.H, rng));   // everything is replaced
    pluginDataRec c = ConfigFor(s);
    GWorldPtr other = MakeGWorld(3, 3);
    SetGWorld(other, nullptr);
    TheLineEffect(source, dest, s.A, &c, 5, 10);
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, other) << "the caller's port must come back";

    const Expected want = Model(src, s);
    const Picture got = Read(dest, Rect{0, 0, static_cast<int16_t>(s.H), static_cast<int16_t>(s.W)});
    EXPECT_EQ(Compare(got, want, s, want.exact ? 0 : kHalfPixelTolerance), 0);
    EXPECT_EQ(Read(source, Rect{0, 0, static_cast<int16_t>(s.H), static_cast<int16_t>(s.W)}).px, src.px)
        << "the source is read only";
    DisposeGWorld(other);
    DisposeGWorld(source);
    DisposeGWorld(dest);
}

Rect R(int top, int left, int bottom, int right) {
    return Rect{static_cast<int16_t>(top), static_cast<int16_t>(left), static_cast<int16_t>(bottom),
                static_cast<int16_t>(right)};
}

}  // namespace

TEST(Compositor, NamedCasesMatchTheModel) {
    std::mt19937 rng(1);
    const uint8_t fill[3] = {0x20, 0xC0, 0x7F};
    std::vector<Scene> scenes;
    for (SInt16 rota : {-1, 0, 1, 2, 3, 4, 5})
        for (bool outside : {false, true})
            for (bool clip : {false, true}) {
                // The worked example: 200 x 100 at (100, 100), and its tall twin.
                scenes.push_back(Scene{400, 320, R(100, 100, 200, 300), rota, outside, clip});
                scenes.push_back(Scene{320, 400, R(100, 100, 300, 200), rota, outside, clip});
                // The whole frame (spill lost), odd and even.
                scenes.push_back(Scene{64, 48, R(0, 0, 48, 64), rota, outside, clip});
                scenes.push_back(Scene{63, 47, R(0, 0, 47, 63), rota, outside, clip});
                // A square: covered exactly, no strips, no spill.
                scenes.push_back(Scene{50, 40, R(5, 7, 35, 37), rota, outside, clip});
                // Reaching past the frame on every side, and one entirely outside.
                scenes.push_back(Scene{40, 30, R(-10, -6, 41, 50), rota, outside, clip});
                scenes.push_back(Scene{40, 30, R(-20, 45, -5, 80), rota, outside, clip});
                // Empty and inverted rectangles.
                scenes.push_back(Scene{30, 20, R(5, 5, 5, 25), rota, outside, clip});
                scenes.push_back(Scene{30, 20, R(15, 20, 5, 4), rota, outside, clip});
            }
    for (Scene &s : scenes) {
        std::memcpy(s.fill, fill, 3);
        Check(s, rng);
    }
}

TEST(Compositor, RandomScenesMatchTheModel) {
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<int> size(1, 70), rotas(-1, 5), coin(0, 1), byte(0, 255);
    for (int i = 0; i < 400; ++i) {
        Scene s;
        s.W = size(rng);
        s.H = size(rng);
        std::uniform_int_distribution<int> x(-s.W / 2 - 3, s.W + s.W / 2 + 3), y(-s.H / 2 - 3, s.H + s.H / 2 + 3);
        int l = x(rng), r = x(rng), t = y(rng), b = y(rng);
        if (coin(rng)) {   // mostly proper rectangles, sometimes inverted ones
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

TEST(Compositor, OutputDependsOnlyOnConfigurationAndSource) {
    // Same configuration, any frame position, through the frame driver; the
    // fields the compositor must not read change nothing.
    std::mt19937 rng(3);
    const Picture src = RandomPicture(37, 29, rng);
    GWorldPtr source = MakeGWorld(37, 29), a = MakeGWorld(37, 29), b = MakeGWorld(37, 29);
    Load(source, src);
    Scene s{37, 29, R(0, 0, 0, 0), 2, false, true, {9, 8, 7}};
    pluginDataRec c = ConfigFor(s);
    c.startRel = SetRelRect(0.2, 0.1, 0.9, 0.7);
    DoPascalPixelEffect(source, a, &c, 0, 100);
    c.endRel = SetRelRect(0.5, 0.5, 0.6, 0.6);
    c.sliders[0] = 99;
    c.mediaType = 3;
    c.keepProps = 1;
    for (RGBColor &col : c.colors) col = SetRGBColor(1, 2, 3);
    c.colors[0] = ConfigFor(s).colors[0];
    DoPascalPixelEffect(source, b, &c, 99, 100);
    const Rect all = R(0, 0, 29, 37);
    EXPECT_EQ(Read(a, all).px, Read(b, all).px);
    // The active rectangle is startRel in the destination's frame.
    s.A = R(static_cast<int>(29 * 0.1), static_cast<int>(37 * 0.2), static_cast<int>(29 * 0.7), static_cast<int>(37 * 0.9));
    const Expected want = Model(src, s);
    EXPECT_EQ(Compare(Read(a, all), want, s, want.exact ? 0 : kHalfPixelTolerance), 0);
    DisposeGWorld(source);
    DisposeGWorld(a);
    DisposeGWorld(b);
}

TEST(Compositor, FramesThroughTheEntryPoint) {
    // The host's output picture larger than frameRect: the effect lands in
    // frameRect only. Then the same size: drawn straight into the frame.
    ScopedPrefsFolder prefs;
    gPascalData = nullptr;
    gPascalInited = false;
    for (bool sameSize : {false, true}) {
        TestHost host(sameSize ? 64 : 100, sameSize ? 47 : 80);
        host.Send(kPlugDrawIcon);
        gPascalData->rota = 4;
        gPascalData->outside = 1;
        gPascalData->clipActive = 0;
        gPascalData->colors[0] = SetRGBColor(0x1010, 0xEEEE, 0x3434);
        gPascalData->startRel = SetRelRect(0.25, 0.125, 0.75, 0.875);
        if (!sameSize) host.params.frameRect = R(10, 20, 57, 84);   // 64 x 47
        const Picture before = Read(host.params.frame, GetPortRect(host.params.frame));
        host.params.startFrame = 12;
        host.params.renderFrame = 3;
        ASSERT_EQ(host.Send(kPlugInitialize), kPluginOK);
        ASSERT_EQ(host.Send(kPlugDoFrame), kPluginOK);
        host.Send(kPlugTerminate);

        Picture src{64, 47, std::vector<uint8_t>(64 * 47 * 4)};
        for (int y = 0; y < 47; ++y)
            for (int x = 0; x < 64; ++x) SourcePixel(15, x, y, &src.px[(y * 64 + x) * 4]);
        Scene s{64, 47, R(static_cast<int>(47 * 0.125), 16, static_cast<int>(47 * 0.875), 48), 4, true, false,
                {0x10, 0xEE, 0x34}};
        const Expected want = Model(src, s);
        EXPECT_EQ(Compare(Read(host.params.frame, host.params.frameRect), want, s, want.exact ? 0 : kHalfPixelTolerance), 0);
        if (!sameSize) {
            const Picture after = Read(host.params.frame, GetPortRect(host.params.frame));
            for (int y = 0; y < 80; ++y)
                for (int x = 0; x < 100; ++x) {
                    if (y >= 10 && y < 57 && x >= 20 && x < 84) continue;
                    ASSERT_EQ(std::memcmp(after.At(x, y), before.At(x, y), 4), 0) << x << "," << y;
                }
        }
        DisposePtr(reinterpret_cast<Ptr>(gPascalData));
        gPascalData = nullptr;
    }
}
