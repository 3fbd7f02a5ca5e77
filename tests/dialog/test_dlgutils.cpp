// Rectangle editing in the preview (dialog/dlgUtils.cpp: IsHandleHit,
// DragCorner), on hand-worked points and rectangles. Handle squares reach
// from 6 pixels before to 5 after each corner and side middle; corners win
// over side middles, side middles over the body.
#include <gtest/gtest.h>

#include "Pictures.h"
#include "config/PluginDefines.h"
#include "dialog/dlgUtils.h"
#include "render/relrects.h"

namespace {

TEST(DlgUtils, HandleHitOnHandWorkedPoints) {
    struct Row {
        Rect r;
        int h, v;
        SInt16 want;
    };
    const Rect box = R(100, 100, 200, 300), tiny = R(20, 20, 24, 24), off = R(-30, -50, 25, 15);
    const Row rows[] = {
        {box, 94, 94, kHandleTopLeft},
        {box, 93, 100, kHandleNone},
        {box, 106, 100, kHandleBody},
        {box, 300, 100, kHandleTopRight},
        {box, 305, 205, kHandleBottomRight},
        {box, 306, 200, kHandleNone},
        {box, 200, 94, kHandleTop},
        {box, 301, 150, kHandleRight},
        {box, 300, 155, kHandleRight},
        {box, 250, 210, kHandleNone},
        // Overlapping squares of a 4 x 4 rectangle: the first corner in
        // top-left, top-right, bottom-left, bottom-right order wins.
        {tiny, 23, 23, kHandleTopLeft},
        {tiny, 26, 17, kHandleTopRight},
        {tiny, 17, 26, kHandleBottomLeft},
        {tiny, 26, 26, kHandleBottomRight},
        // Negative coordinates: the middle is (-50 + 15) / 2 = -17, truncated.
        {off, -12, -30, kHandleTop},
        {off, -24, -30, kHandleBody},
    };
    for (const Row &row : rows)
        EXPECT_EQ(IsHandleHit(row.r, P(row.h, row.v)), row.want) << "at h" << row.h << " v" << row.v;
}

// Shift keeps the proportions of the rectangle at mouse-down (orig): the
// top-left corner stays, the longer side follows the mouse, the other gives way.
TEST(DlgUtils, CornerDragMovesItsCornerAndFlipsAcrossTheOpposite) {
    const Rect frame = R(0, 0, 320, 480), start = R(100, 100, 200, 300);
    struct Row {
        SInt16 handle;
        Point down, to;
        UInt32 keys;
        Rect want, from = R(100, 100, 200, 300);
        relRect orig = SetRelRect(0.1, 0.1, 0.5, 0.5);
    };
    const Row rows[] = {
        {kHandleBottomRight, P(300, 200), P(320, 230), 0, R(100, 100, 230, 320)},
        {kHandleTopLeft, P(100, 100), P(120, 90), 0, R(90, 120, 200, 300)},
        {kHandleTopRight, P(300, 100), P(280, 130), 0, R(130, 100, 200, 280)},
        {kHandleBottomLeft, P(100, 200), P(90, 210), 0, R(100, 90, 210, 300)},
        {kHandleBottomRight, P(300, 200), P(60, 50), 0, R(50, 60, 100, 100)},      // across the top-left corner
        {kHandleTopLeft, P(100, 100), P(80, 90), optionKey, R(90, 80, 210, 320)},  // about the centre
        {kHandleBody, P(300, 200), P(350, 260), 0, start},
        {kHandleNone, P(300, 200), P(350, 260), 0, start},
        // 240 x 80, wide: 173 x 57.67; 120 x 160, tall: 150 x 200.
        {kHandleBottomRight, P(480, 160), P(413, 205), shiftKey, R(80, 240, 138, 413), R(80, 240, 160, 480),
         SetRelRect(0.5, 0.25, 1.0, 0.5)},
        {kHandleBottomRight, P(120, 160), P(190, 200), shiftKey, R(0, 0, 200, 150), R(0, 0, 160, 120),
         SetRelRect(0.0, 0.0, 0.25, 0.5)},
    };
    for (const Row &row : rows) {
        Rect r = row.from;
        DragCorner(row.handle, r, row.down, row.to, row.keys, frame, row.orig);
        EXPECT_TRUE(SameRect(r, row.want)) << "handle " << row.handle << " to h" << row.to.h << " v" << row.to.v;
    }
}

}  // namespace
