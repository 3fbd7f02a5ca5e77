#include "Pictures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

#include "support/commonprocs.h"

testing::AssertionResult SameRect(const Rect &got, const Rect &want) {
    if (std::memcmp(&got, &want, sizeof got) == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "got (t" << got.top << " l" << got.left << " b" << got.bottom << " r"
                                       << got.right << ") want (t" << want.top << " l" << want.left << " b"
                                       << want.bottom << " r" << want.right << ")";
}

testing::AssertionResult SameRel(const relRect &got, const relRect &want) {
    if (got.left == want.left && got.top == want.top && got.right == want.right && got.bottom == want.bottom)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "got (l" << got.left << " t" << got.top << " r" << got.right << " b"
                                       << got.bottom << ") want (l" << want.left << " t" << want.top << " r"
                                       << want.right << " b" << want.bottom << ")";
}

Picture RandomPicture(int W, int H, std::mt19937 &rng) {
    Picture p{W, H, std::vector<uint8_t>(static_cast<size_t>(W) * H * 4)};
    for (size_t i = 0; i < p.px.size(); i += 4) {
        p.px[i] = 0xFF;
        for (int k = 1; k < 4; ++k) p.px[i + k] = static_cast<uint8_t>(rng());
    }
    return p;
}

GWorldPtr MakeGWorld(int W, int H) {
    const Rect r = R(0, 0, H, W);
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
        std::memcpy(&p.px[static_cast<size_t>(y) * p.W * 4], base + (area.top + y) * GetPixRowBytes(pm) + area.left * 4,
                    static_cast<size_t>(p.W) * 4);
    return p;
}

uint32_t PixelARGB(GWorldPtr gw, int x, int y) {
    const std::vector<uint8_t> p = Read(gw, R(y, x, y + 1, x + 1)).px;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::string Scene::Describe() const {
    std::ostringstream s;
    s << W << "x" << H << " A=(t" << A.top << " l" << A.left << " b" << A.bottom << " r" << A.right << ") rota " << rota
      << " outside " << outside << " clip " << clipActive;
    return s.str();
}

Expected EffectModel(const Picture &src, const Scene &s) {
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
                if (turn == 2) sx = cx - oy, sy = cy + ox;  // counter-clockwise on the screen
                if (turn == 4) sx = cx + oy, sy = cy - ox;  // clockwise
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
                        if (px < sl || px >= sr || py < st || py >= sb) continue;  // transparent
                        for (int k = 0; k < 4; ++k) img[k] += w * src.At(px, py)[k];
                    }
                for (int k = 0; k < 4; ++k) out[k] = img[k] + under[k] * (1 - img[0] / 255.0);
            }
            uint8_t *dp = &e.picture.px[(static_cast<size_t>(y) * s.W + x) * 4];
            for (int k = 0; k < 4; ++k) dp[k] = static_cast<uint8_t>(std::lround(std::clamp(out[k], 0.0, 255.0)));
        }
    return e;
}

int CountMismatches(const Picture &got, const Expected &want, const Scene &s) {
    const int tolerance = want.exact ? 0 : kHalfPixelTolerance;
    int bad = 0;
    for (int y = 0; y < s.H; ++y)
        for (int x = 0; x < s.W; ++x)
            for (int k = 0; k < 4; ++k) {
                const int g = got.At(x, y)[k], w = want.picture.At(x, y)[k];
                if (std::abs(g - w) > tolerance && bad++ == 0)
                    ADD_FAILURE() << s.Describe() << ": pixel (" << x << "," << y << ") channel " << k << " is " << g
                                  << ", model " << w;
            }
    return bad;
}

pluginDataRec ConfigFor(const Scene &s) {
    pluginDataRec c{};
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
