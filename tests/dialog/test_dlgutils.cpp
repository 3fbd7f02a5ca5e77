// Rectangle editing in the preview: handle hits and the two drags of
// dialog/dlgUtils.cpp (IsHandleHit, DragCorner, DragRect), checked against
// small models of what they must do (corner squares of +-6 pixels, the fixed
// and the moving corner, proportions of the rectangle at mouse-down).
// Side middles carry squares of the same size.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Pictures.h"
#include "config/PluginDefines.h"
#include "dialog/dlgUtils.h"
#include "render/relrects.h"

namespace {

// Within the 12 x 12 square round (ch, cv): ch - 6 <= h <= ch + 5.
bool NearCorner(int h, int v, int ch, int cv) { return h - ch >= -6 && h - ch <= 5 && v - cv >= -6 && v - cv <= 5; }

SInt16 ModelHit(const Rect &r, int h, int v) {
    if (NearCorner(h, v, r.left, r.top)) return 1;
    if (NearCorner(h, v, r.right, r.top)) return 2;
    if (NearCorner(h, v, r.left, r.bottom)) return 3;
    if (NearCorner(h, v, r.right, r.bottom)) return 4;
    const int midH = (r.left + r.right) / 2, midV = (r.top + r.bottom) / 2;
    if (NearCorner(h, v, midH, r.top)) return 6;
    if (NearCorner(h, v, r.left, midV)) return 7;
    if (NearCorner(h, v, midH, r.bottom)) return 8;
    if (NearCorner(h, v, r.right, midV)) return 9;
    if (h >= r.left && h < r.right && v >= r.top && v < r.bottom) return 5;
    return 0;
}

class DlgUtils : public ::testing::Test {
protected:
    pluginDataRec config{};
    void SetUp() override {
        ResetConfigWorkSpace();
        gConfigWorkSpace.theConfig = &config;
        gConfigWorkSpace.activeRel = 1;
    }
    void TearDown() override { ResetConfigWorkSpace(); }
};

TEST_F(DlgUtils, HandleHitFollowsCornerSquaresThenSideMiddlesThenBody) {
    // Ordinary, odd-sized, tiny (squares overlap), empty, and partly off the
    // frame at negative coordinates.
    const Rect rects[] = {R(100, 100, 200, 300), R(11, 7, 50, 38), R(20, 20, 24, 24), R(40, 40, 40, 40),
                          R(-30, -50, 25, 15)};
    for (const Rect &r : rects) {
        for (int v = r.top - 12; v <= r.bottom + 12; ++v) {
            for (int h = r.left - 12; h <= r.right + 12; ++h) {
                ASSERT_EQ(IsHandleHit(r, P(h, v)), ModelHit(r, h, v))
                    << "rect t" << r.top << " l" << r.left << " b" << r.bottom << " r" << r.right << " at h" << h
                    << " v" << v;
            }
        }
    }
    // Every point of a 4 x 4 rectangle lies in the first corner's square.
    const Rect tiny = R(20, 20, 24, 24);
    for (int v = 20; v < 24; ++v)
        for (int h = 20; h < 24; ++h) EXPECT_EQ(IsHandleHit(tiny, P(h, v)), kHandleTopLeft);
}

TEST_F(DlgUtils, CornerDragKeepsTheOppositeCornerAndFlipsAcrossIt) {
    const Rect frame = R(0, 0, 320, 480);
    const relRect origRel = SetRelRect(0.1, 0.1, 0.5, 0.5);
    // Odd and even sizes.
    for (const Rect &start : {R(100, 100, 200, 300), R(33, 47, 140, 151)}) {
        for (SInt16 handle = 1; handle <= 4; ++handle) {
            // The corner each handle moves and the one that stays.
            const bool movesLeft = handle == 1 || handle == 3;
            const bool movesTop = handle == 1 || handle == 2;
            const int varH = movesLeft ? start.left : start.right;
            const int varV = movesTop ? start.top : start.bottom;
            const int fixH = movesLeft ? start.right : start.left;
            const int fixV = movesTop ? start.bottom : start.top;
            for (int dx : {-260, -37, 0, 20, 251}) {
                for (int dy : {-150, -1, 0, 30, 149}) {
                    for (bool option : {false, true}) {
                        Rect r = start;
                        const Point down = P(varH, varV);
                        DragCorner(handle, r, down, P(varH + dx, varV + dy), option ? optionKey : 0, frame, origRel);
                        const int aH = varH + dx;
                        const int aV = varV + dy;
                        const int bH = option ? fixH - dx : fixH;
                        const int bV = option ? fixV - dy : fixV;
                        const Rect want = R(std::min(aV, bV), std::min(aH, bH), std::max(aV, bV), std::max(aH, bH));
                        ASSERT_TRUE(SameRect(r, want))
                            << "handle " << handle << " dx " << dx << " dy " << dy << (option ? " option" : "");
                    }
                }
            }
        }
    }
    // Handles other than the four corners leave the rectangle alone.
    for (SInt16 handle : {SInt16(0), SInt16(5), SInt16(6), SInt16(-1)}) {
        Rect r = R(100, 100, 200, 300);
        DragCorner(handle, r, P(300, 200), P(350, 260), 0, frame, origRel);
        EXPECT_TRUE(SameRect(r, R(100, 100, 200, 300)));
    }
}

TEST_F(DlgUtils, ShiftKeepsTheProportionsOfTheMouseDownRectangle) {
    const Rect frame = R(0, 0, 400, 600);
    struct Case {
        relRect origRel;  // proportions at mouse-down
        int dx, dy;       // movement of the bottom-right corner
    };
    // Wide, tall and square originals; growing, shrinking, and a flip.
    const Case cases[] = {{SetRelRect(0.1, 0.1, 0.1 + 200.0 / 600, 0.1 + 100.0 / 400), 200, 200},
                          {SetRelRect(0.0, 0.0, 0.25, 0.5), 40, -20},
                          {SetRelRect(0.2, 0.2, 0.4, 0.5), 90, 5},
                          {SetRelRect(0.1, 0.1, 0.6, 0.3), -250, 10}};
    for (const Case &c : cases) {
        const Rect p = Rel2Rect(c.origRel, frame);
        const int w0 = p.right - p.left;
        const int h0 = p.bottom - p.top;
        Rect r = p;
        DragCorner(kHandleBottomRight, r, P(p.right, p.bottom), P(p.right + c.dx, p.bottom + c.dy), shiftKey, frame,
                   c.origRel);
        // Without shift the box spans the fixed and the moved corner; shift keeps
        // its top-left corner and one side, and the other side gives way.
        const int ah = p.right + c.dx, av = p.bottom + c.dy;
        const Rect box =
            R(std::min<int>(p.top, av), std::min<int>(p.left, ah), std::max<int>(p.top, av), std::max<int>(p.left, ah));
        EXPECT_EQ(r.top, box.top);
        EXPECT_EQ(r.left, box.left);
        const int w = r.right - r.left;
        const int h = r.bottom - r.top;
        if (w0 > h0)
            EXPECT_EQ(w, box.right - box.left);
        else
            EXPECT_EQ(h, box.bottom - box.top);
        // w / h == w0 / h0 up to rounding of the side that gave way.
        const long cross = static_cast<long>(w) * h0 - static_cast<long>(h) * w0;
        EXPECT_LE(std::labs(cross), static_cast<long>(std::max(w0, h0))) << "w " << w << " h " << h;
    }
}

}  // namespace
