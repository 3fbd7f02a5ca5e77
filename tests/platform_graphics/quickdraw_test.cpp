// QuickDraw: pictures and the current port (quickdraw/QDPorts.cpp), rectangle
// calls (QDRects.cpp) and painting (QDDrawing.cpp).
#include "GraphicsTestSupport.h"

namespace {

bool Inside(int x, int y, int l, int t, int r, int b) { return x >= l && x < r && y >= t && y < b; }

}  // namespace

TEST(QuickDraw, NewGWorldMovesBoundsToOriginAndStartsInKnownState) {
    PortGuard guard;
    Rect bounds{10, 20, 17, 31};  // 11 wide, 7 high, away from the origin
    Picture pic(bounds);
    EXPECT_EQ(Show(pic.Bounds()), "0,0,7,11");
    EXPECT_GE(GetPixRowBytes(GetGWorldPixMap(pic.gw)), 11 * 4);
    // Opaque white pixels, QuickDraw's default colours, a wide-open clip.
    EXPECT_EQ(pic.Snapshot(), std::vector<Px>(77, Opaque(255, 255, 255)));
    SetGWorld(pic.gw, nullptr);
    Rect clip;
    GetPortClipRect(pic.gw, &clip);
    EXPECT_TRUE(clip.left <= -32000 && clip.right >= 32000);
    // A new picture does not become current; disposing of the current one
    // leaves no port current rather than a dangling one.
    CGrafPtr cur;
    {
        Picture other(3, 3);
        GetPort(&cur);
        EXPECT_EQ(cur, pic.gw);
        SetGWorld(other.gw, nullptr);
    }
    GetPort(&cur);
    EXPECT_EQ(cur, nullptr);
    PaintRect(&bounds);  // nothing current: nothing happens

    // Only 32 bits per pixel, and no bounds wider than a Rect can hold once
    // moved to the origin; failures leave the result NULL.
    for (auto [depth, r] : {std::pair{short(16), bounds}, {short(32), Rect{0, -30000, 10, 30000}}}) {
        GWorldPtr gw = reinterpret_cast<GWorldPtr>(&bounds);
        EXPECT_EQ(NewGWorld(&gw, depth, &r, nullptr, nullptr, 0), paramErr) << depth;
        EXPECT_EQ(gw, nullptr);
        EXPECT_EQ(QDError(), paramErr);
    }
    // Empty bounds make a 0x0 picture that ignores drawing.
    Picture empty(Rect{5, 5, 5, 9});
    EXPECT_EQ(Show(empty.Bounds()), "0,0,0,0");
    SetGWorld(empty.gw, nullptr);
    PaintRect(&bounds);
    FrameOval(&bounds);
}

TEST(QuickDraw, RectangleArithmeticKeepsHalfOpenRules) {
    Rect h, s, u, shrunk{0, 0, 20, 20}, a{0, 0, 10, 10}, b{5, 8, 20, 30}, c{10, 0, 20, 10};
    SetRect(&h, 100, 100, 100, 100);
    InsetRect(&h, -6, -6);  // the handle square around a point
    EXPECT_EQ(Show(h), "94,94,106,106");
    EXPECT_TRUE(PtInRect(Point{105, 105}, &h));
    EXPECT_FALSE(PtInRect(Point{100, 106}, &h));  // right edge is outside
    InsetRect(&shrunk, 10, 3);                    // no width left: the empty rectangle
    EXPECT_EQ(Show(shrunk), "0,0,0,0");
    EXPECT_TRUE(SectRect(&a, &b, &s));
    EXPECT_EQ(Show(s), "5,8,10,10");
    EXPECT_FALSE(SectRect(&a, &c, &s));  // touching edges share no pixel
    EXPECT_TRUE(EmptyRect(&s));
    Pt2Rect(Point{200, 300}, Point{100, 100}, &u);
    EXPECT_EQ(Show(u), "100,100,200,300");
}

TEST(QuickDraw, FillsFollowModeColourAndClip) {
    PortGuard guard;
    std::mt19937 rng(7);
    Picture pic(13, 9);
    pic.Fill([&](int, int) { return Noise(rng); });
    std::vector<Rect> log;
    LogChanges(pic.gw, &log);
    SetGWorld(pic.gw, nullptr);

    // PaintRect reaching past the frame, under a clip rectangle.
    auto before = pic.Snapshot();
    RGBColor col{0x1234, 0xABCD, 0x7F00};
    RGBForeColor(&col);
    Rect clip{2, 1, 8, 9}, r{-3, 4, 6, 40}, wide{-100, -100, 100, 100}, all{0, 0, 9, 13}, one{3, 3, 4, 5};
    ClipRect(&clip);
    PaintRect(&r);
    EXPECT_TRUE(MatchesModel(pic, [&](int x, int y) {
        if (Inside(x, y, 4, -3, 40, 6) && Inside(x, y, 1, 2, 9, 8)) return Opaque(0x12, 0xAB, 0x7F);
        return before[size_t(y * 13 + x)];
    }));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(Show(log[0]), "2,4,6,9");

    // Or paints like Copy; Xor and InvertRect invert RGB and keep alpha;
    // EraseRect uses the background colour whatever the mode.
    ClipRect(&wide);
    pic.Set(0, 0, {0x40, 0x10, 0x20, 0x30});
    before = pic.Snapshot();
    PenMode(patXor);
    PaintRect(&all);
    EXPECT_TRUE(MatchesModel(pic, [&](int x, int y) {
        Px p = before[size_t(y * 13 + x)];
        return Px{p[0], uint8_t(~p[1]), uint8_t(~p[2]), uint8_t(~p[3])};
    }));
    InvertRect(&all);
    EXPECT_EQ(pic.Snapshot(), before);
    PenMode(srcOr);
    PaintRect(&one);
    EXPECT_EQ(std::pair(pic.Get(3, 3), pic.Get(4, 3)), std::pair(Opaque(0x12, 0xAB, 0x7F), Opaque(0x12, 0xAB, 0x7F)));
    RGBColor back{0x0100, 0x0200, 0x0300};
    RGBBackColor(&back);
    EraseRect(&one);
    EXPECT_EQ(pic.Get(4, 3), Opaque(1, 2, 3));

    // Empty and inverted rectangles change nothing and report nothing.
    log.clear();
    before = pic.Snapshot();
    Rect none{5, 5, 5, 9}, upside{8, 2, 3, 6};
    PaintRect(&none);
    PaintRect(&upside);
    FrameRect(&upside);
    EXPECT_EQ(pic.Snapshot(), before);
    EXPECT_TRUE(log.empty());
}

TEST(QuickDraw, FrameRectIsOutlineJustInside) {
    PortGuard guard;
    // Pen 1x1 at odd, even and degenerate sizes; then a 2-wide, 3-high pen.
    for (auto [w, h, pw, ph] : {std::tuple{7, 5, 1, 1}, {8, 6, 1, 1}, {2, 9, 1, 1}, {1, 1, 1, 1}, {11, 12, 2, 3}}) {
        Picture pic(14, 16);
        SetGWorld(pic.gw, nullptr);
        PenSize(short(pw), short(ph));
        Rect r{3, 2, int16_t(3 + h), int16_t(2 + w)};
        FrameRect(&r);
        EXPECT_TRUE(MatchesModel(pic,
                                 [&](int x, int y) {
                                     const bool in = Inside(x, y, 2, 3, 2 + w, 3 + h);
                                     const bool hole = Inside(x, y, 2 + pw, 3 + ph, 2 + w - pw, 3 + h - ph);
                                     return in && !hole ? Opaque(0, 0, 0) : Opaque(255, 255, 255);
                                 }))
            << w << "x" << h;
        PenNormal();
    }
}

// Properties of an oval ring, checked without knowing how it is rasterised:
// it reaches its rectangle's edges and no further, is symmetric, hollow (at
// most two runs a row) and closed (no pixel with fewer than two neighbours).
TEST(QuickDraw, FrameOvalRingsAreHollowSymmetricAndClosed) {
    PortGuard guard;
    for (int size : {12, 10, 8, 7, 15}) {
        Picture pic(size + 4, size + 4);
        SetGWorld(pic.gw, nullptr);
        Rect r{2, 2, int16_t(2 + size), int16_t(2 + size)};
        FrameOval(&r);
        auto on = [&](int x, int y) { return pic.Get(x, y) == Opaque(0, 0, 0); };
        int onFirstRow = 0;
        for (int y = 0; y < size + 4; ++y) {
            int runs = 0;
            for (int x = 0; x < size + 4; ++x) {
                if (!on(x, y)) continue;
                ASSERT_TRUE(Inside(x, y, 2, 2, 2 + size, 2 + size)) << x << "," << y << " size " << size;
                EXPECT_TRUE(on(3 + size - x, y) && on(x, 3 + size - y) && on(y, x)) << x << "," << y;
                int neighbours = -1;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) neighbours += on(x + dx, y + dy);
                EXPECT_GE(neighbours, 2) << x << "," << y << " size " << size;
                runs += !on(x - 1, y);
                onFirstRow += y == 2;
            }
            EXPECT_LE(runs, 2) << "row " << y << " size " << size;
        }
        EXPECT_GT(onFirstRow, 0) << size;
        EXPECT_FALSE(on(2 + size / 2, 2 + size / 2));
    }
}

TEST(QuickDraw, RegionsClipAndComeBack) {
    PortGuard guard;
    Picture pic(10, 10);
    SetGWorld(pic.gw, nullptr);
    RgnHandle saved = NewRgn(), box = NewRgn();
    ASSERT_TRUE(saved && box);
    GetClip(saved);
    Rect r{2, 3, 5, 7};
    RectRgn(box, &r);
    SetClip(box);
    Rect all{0, 0, 10, 10};
    PaintRect(&all);
    SetClip(saved);
    Rect back, bad{5, 5, 1, 1};
    GetPortClipRect(pic.gw, &back);
    EXPECT_TRUE(back.left <= -32000);
    EXPECT_TRUE(MatchesModel(
        pic, [&](int x, int y) { return Inside(x, y, 3, 2, 7, 5) ? Opaque(0, 0, 0) : Opaque(255, 255, 255); }));
    RectRgn(box, &bad);
    GetRegionBounds(box, &back);
    EXPECT_TRUE(EmptyRect(&back));
    DisposeRgn(saved);
    DisposeRgn(box);
}

// A picture over the caller's memory: drawing lands there, padding between
// rows is left alone, and disposing frees nothing of the caller's.
TEST(QuickDraw, NewGWorldFromPtrDrawsIntoTheCallersBuffer) {
    PortGuard guard;
    constexpr int kW = 5, kH = 4, kRowBytes = 28;  // 8 bytes of padding per row
    std::vector<uint8_t> buffer(kRowBytes * kH, 0x5A);
    Rect bounds{7, 3, 7 + kH, 3 + kW};
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorldFromPtr(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, Ptr(buffer.data()), kRowBytes),
              noErr);
    ASSERT_TRUE(gw);
    EXPECT_EQ(GetPixBaseAddr(GetGWorldPixMap(gw)), Ptr(buffer.data()));
    EXPECT_EQ(GetPixRowBytes(GetGWorldPixMap(gw)), kRowBytes);
    EXPECT_EQ(buffer, std::vector<uint8_t>(kRowBytes * kH, 0x5A));  // nothing painted on creation
    SetGWorld(gw, nullptr);
    const RGBColor red{0xFFFF, 0, 0};
    RGBForeColor(&red);
    Rect r{1, 1, 3, 4};
    PaintRect(&r);
    SetGWorld(nullptr, nullptr);
    DisposeGWorld(gw);  // the buffer stays readable (ASan would catch a free)
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kRowBytes / 4; ++x) {
            const uint8_t *p = &buffer[size_t(y * kRowBytes + x * 4)];
            const bool painted = x >= 1 && x < 4 && y >= 1 && y < 3;
            const std::vector<uint8_t> want =
                painted ? std::vector<uint8_t>{0xFF, 0xFF, 0, 0} : std::vector<uint8_t>(4, 0x5A);
            EXPECT_EQ(std::vector<uint8_t>(p, p + 4), want) << x << "," << y;
        }
    // What cannot describe the caller's pixels is refused.
    const struct {
        OSType format;
        Ptr base;
        long rowBytes;
    } bad[] = {{OSType(24) /* 24-bit RGB */, Ptr(buffer.data()), kRowBytes},
               {k32ARGBPixelFormat, nullptr, kRowBytes},
               {k32ARGBPixelFormat, Ptr(buffer.data()), kW * 4 - 4},
               {k32ARGBPixelFormat, Ptr(buffer.data()), kW * 4 + 2}};
    for (const auto &b : bad) {
        GWorldPtr none = reinterpret_cast<GWorldPtr>(&buffer);
        EXPECT_EQ(NewGWorldFromPtr(&none, b.format, &bounds, nullptr, nullptr, 0, b.base, b.rowBytes), paramErr);
        EXPECT_EQ(none, nullptr);
    }
}
