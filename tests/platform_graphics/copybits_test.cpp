// CopyBits (quickdraw/QDCopyBits.cpp) against a model: each destination pixel of dstRect takes the
// source pixel under its centre, mapped proportionally into srcRect, when
// that pixel exists; pixels outside the destination, the current port's clip
// (when the destination is current) or the mask stay as they were.
#include "GraphicsTestSupport.h"

#include <cmath>

namespace {

Rect RandomRect(std::mt19937 &rng, int extent) {
    std::uniform_int_distribution<int> pos(-4, extent + 3), len(0, extent + 4);
    const int l = pos(rng), t = pos(rng);
    return Rect{int16_t(t), int16_t(l), int16_t(t + len(rng)), int16_t(l + len(rng))};
}

bool In(const Rect &r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// Source index of destination index i (0-based within the rectangle).
int Nearest(int i, int srcStart, int srcLen, int dstLen) {
    return srcStart + int(std::floor((i + 0.5) * srcLen / dstLen));
}

}  // namespace

// Seeded cases; every fourth copies within one picture, a third are same-size.
TEST(CopyBits, ScalesAndClipsLikeTheModel) {
    PortGuard guard;
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> size(1, 19), coin(0, 1);
        Picture src(size(rng), size(rng)), other(size(rng), size(rng));
        const Picture &dst = seed % 4 == 0 ? src : other;
        src.Fill([&](int, int) { return Noise(rng); });
        other.Fill([&](int, int) { return Noise(rng); });
        const Rect srcRect = RandomRect(rng, src.Width());
        Rect dstRect = RandomRect(rng, dst.Width());
        const bool useMask = coin(rng) == 1, dstCurrent = coin(rng) == 1;
        const Rect mask = RandomRect(rng, dst.Width()), clip = RandomRect(rng, dst.Width());
        if (seed % 3 == 0) {
            dstRect.right = int16_t(dstRect.left + srcRect.right - srcRect.left);
            dstRect.bottom = int16_t(dstRect.top + srcRect.bottom - srcRect.top);
        }
        const int sw = srcRect.right - srcRect.left, sh = srcRect.bottom - srcRect.top;
        const int dw = dstRect.right - dstRect.left, dh = dstRect.bottom - dstRect.top;
        SetGWorld(dstCurrent ? dst.gw : &dst == &src ? other.gw : src.gw, nullptr);
        ClipRect(&clip);  // only matters when dst is current
        RgnHandle maskRgn = NewRgn();
        RectRgn(maskRgn, &mask);
        const auto before = dst.Snapshot(), source = src.Snapshot();
        CopyBits(src.Bits(), dst.Bits(), &srcRect, &dstRect, srcCopy, useMask ? maskRgn : nullptr);
        DisposeRgn(maskRgn);
        Rect wide{-32000, -32000, 32000, 32000};
        ClipRect(&wide);

        ASSERT_TRUE(MatchesModel(dst,
                                 [&](int x, int y) {
                                     const Px old = before[size_t(y * dst.Width() + x)];
                                     if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || !In(dstRect, x, y)) return old;
                                     if ((dstCurrent && !In(clip, x, y)) || (useMask && !In(mask, x, y))) return old;
                                     const int sx = Nearest(x - dstRect.left, srcRect.left, sw, dw);
                                     const int sy = Nearest(y - dstRect.top, srcRect.top, sh, dh);
                                     if (sx < 0 || sy < 0 || sx >= src.Width() || sy >= src.Height()) return old;
                                     return source[size_t(sy * src.Width() + sx)];
                                 }))
            << "seed " << seed;
    }
}

// Within one picture the source is read as it was before the copy: a row of
// pixels 0..9 (in red), one part of it copied onto another, plain and scaled.
TEST(CopyBits, OverlappingCopyReadsTheSourceAsItWas) {
    for (auto [sl, sr, dl, dr, want] : {std::tuple{0, 6, 2, 8, "0101234589"},
                                        {2, 8, 0, 6, "2345676789"},
                                        {0, 4, 1, 8, "0001223389"},
                                        {0, 8, 4, 8, "0123135789"}}) {
        Picture pic(10, 1);
        pic.Fill([](int x, int) { return Opaque(uint8_t(x), 0, 0); });
        const Rect s{0, int16_t(sl), 1, int16_t(sr)}, d{0, int16_t(dl), 1, int16_t(dr)};
        CopyBits(pic.Bits(), pic.Bits(), &s, &d, srcCopy, nullptr);
        std::string got;
        for (int x = 0; x < 10; ++x) got += char('0' + pic.Get(x, 0)[1]);
        EXPECT_EQ(got, want) << sl << "-" << sr << " onto " << dl << "-" << dr;
    }
}

TEST(CopyBits, KeepsAlphaAndReportsTheChangedArea) {
    Picture src(4, 4), dst(6, 6);
    src.Fill([](int x, int y) { return Px{uint8_t(x * 60), uint8_t(y), 2, 3}; });
    std::vector<Rect> changed;
    LogChanges(dst.gw, &changed);
    Rect s{0, 0, 4, 4}, d{3, 3, 7, 7};  // reaches past the destination
    CopyBits(src.Bits(), dst.Bits(), &s, &d, srcCopy, nullptr);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(Show(changed[0]), "3,3,6,6");
    EXPECT_EQ(dst.Get(3, 3), (Px{0, 0, 2, 3}));
    EXPECT_EQ(dst.Get(5, 4), (Px{120, 1, 2, 3}));
}

// Pictures without row padding are copied as one block, in pieces: rows
// past the first 64 KiB and a band starting mid-picture land exactly.
TEST(CopyBits, WholeRowsOfUnpaddedPicturesCopyExactly) {
    std::mt19937 rng(7);
    for (auto [top, bottom] : {std::pair{0, 120}, {7, 113}}) {
        Picture src(301, 120), dst(301, 120);
        ASSERT_EQ(GetPixRowBytes(GetGWorldPixMap(src.gw)), 301 * 4) << "the case needs rows without padding";
        src.Fill([&](int, int) { return Noise(rng); });
        dst.Fill([&](int, int) { return Noise(rng); });
        const auto source = src.Snapshot(), before = dst.Snapshot();
        const Rect band{int16_t(top), 0, int16_t(bottom), 301};
        CopyBits(src.Bits(), dst.Bits(), &band, &band, srcCopy, nullptr);
        ASSERT_TRUE(MatchesModel(dst, [&](int x, int y) {
            return (y >= top && y < bottom ? source : before)[size_t(y * 301 + x)];
        })) << "rows " << top << " to " << bottom;
    }
}
