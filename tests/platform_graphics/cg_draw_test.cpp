// Core Graphics image drawing (CGContextDrawImage, coregraphics/CGContext.cpp
// and CGRaster.cpp) against a reference of what it must do: every device
// pixel's centre is taken back through the turn into the drawing rectangle and
// then into the image; the image is sampled there bilinearly (pixel centres at
// half-integers, transparent outside) and the sample is composited
// source-over, premultiplied, rounded to nearest.
#include "GraphicsTestSupport.h"

#include <cmath>

namespace {

constexpr double kPi = 3.1415926535897932;

struct Img {
    int w = 0, h = 0;
    std::vector<Px> px;  // row 0 on top
    Px At(int u, int v) const { return u < 0 || v < 0 || u >= w || v >= h ? Px{0, 0, 0, 0} : px[size_t(v * w + u)]; }
};

// Unique, asymmetric content: no two pixels alike, no mirror symmetry.
Img TestImage(int w, int h, bool withAlpha = false) {
    Img img{w, h, {}};
    for (int v = 0; v < h; ++v)
        for (int u = 0; u < w; ++u) {
            const int a = withAlpha ? (u * 37 + v * 91) % 256 : 0xFF;
            const auto pre = [&](int c) { return uint8_t(c % 256 * a / 255); };
            img.px.push_back({uint8_t(a), pre(u * 29 + 3), pre(v * 23 + 7), pre(u * v * 5 + u + 11)});
        }
    return img;
}

struct DrawSpec {
    float x, y, w, h;    // drawing rectangle, y up
    int quarter = 0;     // turns about the rectangle's centre, counter-clockwise
    double angle = NAN;  // other angles (radians), when set
    float alpha = NAN;   // CGContextSetAlpha, when set
    CGBlendMode mode = kCGBlendModeNormal;
    bool clearFirst = false;
};

// An image of img, made as the plug-in makes its images: through a bitmap
// context on memory of its own, then copied. Each must keep its own pixels.
CGImageRef MakeImage(const Img &img) {
    std::vector<uint8_t> bytes;
    for (const Px &p : img.px) bytes.insert(bytes.end(), p.begin(), p.end());
    CGColorSpaceRef cs = CGColorSpaceCreateDeviceRGB();
    CGContextRef c = CGBitmapContextCreate(bytes.data(), size_t(img.w), size_t(img.h), 8, size_t(img.w) * 4, cs,
                                           kCGImageAlphaPremultipliedFirst);
    CGColorSpaceRelease(cs);
    EXPECT_EQ(CGBitmapContextGetData(c), bytes.data());
    CGImageRef image = CGBitmapContextCreateImage(c), copy = CGImageCreateCopy(image);
    CGImageRelease(image);
    CGContextRelease(c);
    std::fill(bytes.begin(), bytes.end(), 0x5A);
    return copy;
}

double Angle(const DrawSpec &s) { return std::isnan(s.angle) ? s.quarter * kPi / 2 : s.angle; }

void Draw(const Picture &pic, const Img &img, const DrawSpec &s) {
    CGContextRef c = nullptr;
    ASSERT_EQ(QDBeginCGContext(pic.gw, &c), noErr);
    CGImageRef image = MakeImage(img);
    if (!std::isnan(s.alpha)) CGContextSetAlpha(c, s.alpha);
    CGContextSetBlendMode(c, s.mode);
    CGContextTranslateCTM(c, s.x + s.w / 2.0f, s.y + s.h / 2.0f);
    CGContextRotateCTM(c, float(Angle(s)));
    const CGRect r = CGRectMake(-s.w / 2, -s.h / 2, s.w, s.h);
    if (s.clearFirst) CGContextClearRect(c, r);
    CGContextDrawImage(c, r, image);
    QDEndCGContext(pic.gw, &c);
    CGImageRelease(image);
}

// Share of device pixel (X, Y) covered by the drawing rectangle turned a
// whole number of quarters (an axis-aligned box on the device).
double QuarterCoverage(const DrawSpec &s, int height, int X, int Y) {
    const bool across = s.quarter % 2 != 0;
    const double tw = across ? s.h : s.w, th = across ? s.w : s.h;
    const double cx = s.x + s.w / 2.0, cy = height - (s.y + s.h / 2.0);  // rows down
    const double ox = std::min(X + 1.0, cx + tw / 2) - std::max(double(X), cx - tw / 2);
    const double oy = std::min(Y + 1.0, cy + th / 2) - std::max(double(Y), cy - th / 2);
    return std::clamp(ox, 0.0, 1.0) * std::clamp(oy, 0.0, 1.0);
}

// What device pixel (X, Y) of a picture `height` high should hold after
// drawing img with s over `d`.
Px Expected(const Img &img, const DrawSpec &s, int height, int X, int Y, Px d) {
    if (s.clearFirst)
        for (auto &ch : d) ch = uint8_t(std::lround(ch * (1 - QuarterCoverage(s, height, X, Y))));
    double cs = std::cos(Angle(s)), sn = std::sin(Angle(s));
    if (std::isnan(s.angle)) cs = std::round(cs), sn = std::round(sn);
    // Undo the counter-clockwise turn about the rectangle's centre (y up).
    const double dx = X + 0.5 - (s.x + s.w / 2.0), dy = height - (Y + 0.5) - (s.y + s.h / 2.0);
    const double lx = dx * cs + dy * sn, ly = -dx * sn + dy * cs;
    // Into the image, left edge u = 0, top edge v = 0; then bilinear weights.
    const double su = (lx + s.w / 2.0) * img.w / s.w - 0.5, sv = (s.h / 2.0 - ly) * img.h / s.h - 0.5;
    const int u0 = int(std::floor(su)), v0 = int(std::floor(sv));
    const double fu = su - u0, fv = sv - v0;
    double c[4] = {0, 0, 0, 0};
    bool touched = false;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) {
            const double wgt = (i ? fu : 1 - fu) * (j ? fv : 1 - fv);
            if (wgt <= 0 || u0 + i < 0 || v0 + j < 0 || u0 + i >= img.w || v0 + j >= img.h) continue;
            touched = true;
            for (int k = 0; k < 4; ++k) c[k] += wgt * img.At(u0 + i, v0 + j)[k];
        }
    if (!touched) return d;
    const double a = std::isnan(s.alpha) ? 1.0 : std::clamp(double(s.alpha), 0.0, 1.0);
    int v[4];
    for (int k = 0; k < 4; ++k) v[k] = std::lround(std::lround(c[k]) * a);
    if (s.mode == kCGBlendModeCopy) return {uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]), uint8_t(v[3])};
    Px out;
    for (int k = 0; k < 4; ++k) out[k] = uint8_t(std::min(255L, v[k] + std::lround(d[k] * (255 - v[0]) / 255.0)));
    return out;
}

::testing::AssertionResult DrawMatches(const Picture &pic, const Img &img, const DrawSpec &s, int tolerance) {
    const auto before = pic.Snapshot();
    Draw(pic, img, s);
    return MatchesModel(
        pic, [&](int x, int y) { return Expected(img, s, pic.Height(), x, y, before[size_t(y * pic.Width() + x)]); },
        tolerance);
}

}  // namespace

// The direct quarter-turn paths over seeded cases: every parity of size,
// positions on whole and half pixels inside and past the picture's edges,
// opaque and translucent images, global alpha (clamped to [0, 1]), both blend
// modes, clearing first. Exact unless a global alpha is set.
TEST(CGDraw, QuarterTurnsFollowTheReference) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> dim(1, 40), big(65, 150), pos(-20, 40), coin(0, 3);
        const bool large = seed % 10 == 0;  // across the direct path's tiles
        const int w = large ? big(rng) : dim(rng), h = large ? big(rng) : dim(rng);
        Img img = TestImage(w, h, coin(rng) == 0);
        for (Px &p : img.px)
            if (p[0] == 0xFF) p[1] = uint8_t(rng());
        Picture pic((large ? big(rng) : dim(rng)) + 8, (large ? big(rng) : dim(rng)) + 8);
        pic.Fill([&](int, int) { return Noise(rng); });
        DrawSpec s{pos(rng) + (coin(rng) == 0 ? 0.5f : 0.0f), float(pos(rng)), float(w), float(h), coin(rng)};
        const float alphas[] = {0.6f, 0.25f, -0.5f, 1.5f};
        if (coin(rng) == 0) s.alpha = alphas[coin(rng)];
        if (coin(rng) == 0) s.mode = kCGBlendModeCopy;
        s.clearFirst = coin(rng) == 0 && s.mode == kCGBlendModeNormal;
        ASSERT_TRUE(DrawMatches(pic, img, s, std::isnan(s.alpha) ? 0 : 1))
            << "seed " << seed << ": " << w << "x" << h << " q" << s.quarter << " at " << s.x << "," << s.y;
    }
}

// Other angles and scaled drawing go through the general resampler; it may
// round differently by a few levels, not more.
TEST(CGDraw, OtherAnglesAndScalesFollowTheReferenceClosely) {
    std::mt19937 rng(9);
    const Img img = TestImage(11, 7);
    for (double angle : {0.3, kPi / 4, 2.0, -1.1, double(NAN)}) {
        Picture pic(40, 30);
        pic.Fill([&](int, int) { return Noise(rng); });
        DrawSpec s{8, 9, 11, 7};
        s.angle = angle;
        if (std::isnan(angle)) s = DrawSpec{3, 2, 25, 17};  // larger than the image: scaled up
        EXPECT_TRUE(DrawMatches(pic, img, s, 3)) << angle;
    }
}

TEST(CGDraw, ContextsImagesAndPortReports) {
    // Only 8-bit, 32-bit, alpha-first premultiplied contexts are made.
    std::vector<uint8_t> mem(4 * 6 * 3);
    CGColorSpaceRef cs = CGColorSpaceCreateDeviceRGB();
    EXPECT_EQ(CGBitmapContextCreate(mem.data(), 6, 3, 8, 24, cs, kCGImageAlphaNoneSkipFirst), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(mem.data(), 6, 3, 8, 20, cs, kCGImageAlphaPremultipliedFirst), nullptr);
    CGColorSpaceRelease(cs);

    // A port learns what a context changed when the drawing lands, with the
    // y-up rectangle converted to the port's rows; the context closes to NULL.
    Picture pic(10, 8);
    std::vector<Rect> areas;
    LogChanges(pic.gw, &areas);
    CGContextRef pc = nullptr;
    ASSERT_EQ(QDBeginCGContext(pic.gw, &pc), noErr);
    CGImageRef small = MakeImage(TestImage(3, 2));
    EXPECT_EQ(std::pair(CGImageGetWidth(small), CGImageGetHeight(small)), std::pair(size_t(3), size_t(2)));
    CGContextDrawImage(pc, CGRectMake(1, 0, 3, 2), small);  // bottom rows 6 and 7
    CGContextFlush(pc);
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(Show(areas[0]), "6,1,8,4");
    CGContextClearRect(pc, CGRectMake(0, 7, 2, 1));  // top row, two pixels
    EXPECT_EQ(QDEndCGContext(pic.gw, &pc), noErr);
    EXPECT_EQ(pc, nullptr);
    ASSERT_EQ(areas.size(), 2u);
    EXPECT_EQ(Show(areas[1]), "0,0,1,2");
    EXPECT_EQ(pic.Get(1, 0), (Px{0, 0, 0, 0}));
    EXPECT_EQ(pic.Get(2, 0), Opaque(255, 255, 255));
    CGImageRelease(small);
    // The port's clip limits a context on it.
    PortGuard guard;
    SetGWorld(pic.gw, nullptr);
    Rect clip{0, 0, 8, 5};
    ClipRect(&clip);
    Draw(pic, Img{10, 8, std::vector<Px>(80, Opaque(255, 0, 0))}, DrawSpec{0, 0, 10, 8});
    EXPECT_EQ(std::pair(pic.Get(4, 3), pic.Get(5, 3)), std::pair(Opaque(255, 0, 0), Opaque(255, 255, 255)));
}

// Geometry that cannot be drawn (NaN, infinite, enormous, empty) is ignored
// instead of reaching integer conversions or the resampler.
TEST(CGDraw, UndrawableGeometryChangesNothing) {
    Picture pic(12, 9);
    const auto before = pic.Snapshot();
    CGImageRef image = MakeImage(TestImage(5, 4));
    const float nan = NAN, inf = INFINITY;
    for (CGRect r : {CGRectMake(nan, 0, 5, 4), CGRectMake(0, 0, inf, 4), CGRectMake(1e30f, 2, 5, 4),
                     CGRectMake(0, 0, 0, 4), CGRectMake(2, 2, 1e-30f, 1e-30f)})
        for (float angle : {0.0f, 0.7f, nan}) {
            CGContextRef c = nullptr;
            ASSERT_EQ(QDBeginCGContext(pic.gw, &c), noErr);
            CGContextRotateCTM(c, angle);
            CGContextClearRect(c, r);
            CGContextDrawImage(c, r, image);
            QDEndCGContext(pic.gw, &c);
        }
    CGImageRelease(image);
    EXPECT_EQ(pic.Snapshot(), before);
}
