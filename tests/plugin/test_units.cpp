// Pure parts of the plug-in: relative rectangles, geometry and colours,
// short strings, the configuration record and its file form.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <tuple>

#include "Pictures.h"
#include "config/PluginDefines.h"
#include "config/pascalFX.h"
#include "render/CGglue.h"
#include "render/relrects.h"
#include "storage/prefsloader.h"
#include "support/carbonmacros.h"
#include "support/commonprocs.h"

TEST(RelRects, ConversionsTruncateAndDamagedValuesStayDefined) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        relRect rel;  // SetRelRect takes left, top, right, bottom
        Rect frame, want;
    } rows[] = {
        {SetRelRect(0, 0, 1, 1), R(0, 0, 480, 720), R(0, 0, 480, 720)},
        {SetRelRect(0, 0, 1, 1), R(-5, 7, 33, 100), R(-5, 7, 33, 100)},
        {SetRelRect(0, 0, 1, 1), R(10, 20, 11, 21), R(10, 20, 11, 21)},
        // Toward zero on both sides of the origin, and reach past the frame.
        {SetRelRect(-0.005, 0, 1.25, 1), R(0, 0, 100, 100), R(0, 0, 100, 125)},
        {SetRelRect(0.5, 0.5, -0.25, 1.5), R(-5, 7, 33, 100), R(14, 53, 52, -16)},
        // Values a damaged preferences file may carry: NaN counts as 0,
        // products beyond 16 bits are clamped, the sum keeps its low 16 bits.
        {SetRelRect(nan, -inf, inf, 1e300), R(0, 0, 1080, 1920), R(-32768, 0, 32767, 32767)},
        {SetRelRect(-1e200, 0, 1e200, 1), R(0, 100, 10, 200), R(0, 100 - 32768, 10, 100 + 32767)},
    };
    for (const auto &row : rows) {
        EXPECT_TRUE(SameRect(Rel2Rect(row.rel, row.frame), row.want));
        if (row.rel.right == 1 && row.rel.bottom == 1) {  // the whole frame, both ways
            EXPECT_TRUE(SameRel(Rect2Rel(row.frame, row.frame), row.rel));
        }
    }
    // 29/100 is not exact in binary: the way back truncates to 28.
    const relRect rel = Rect2Rel(R(0, 29, 100, 100), R(0, 0, 100, 100));
    EXPECT_EQ(std::pair(rel.left, int(Rel2Rect(rel, R(0, 0, 100, 100)).left)), std::pair(0.29, 28));

    const Point pt = Rel2Point(relPoint{0.29, -0.25}, R(-5, 7, 33, 100));
    EXPECT_EQ(std::pair(int(pt.h), int(pt.v)), std::pair(7 + 26, -5 - 9));
    const Point damaged = Rel2Point(relPoint{nan, -inf}, R(0, 0, 1080, 1920));
    EXPECT_EQ(std::pair(int(damaged.h), int(damaged.v)), std::pair(0, -32768));
    const relPoint back = Point2Rel(P(25, 60), R(10, 20, 110, 120));
    EXPECT_EQ(std::pair(back.horiz, back.vert), std::pair(0.05, 0.5));
}

TEST(CommonProcs, Geometry) {
    const auto H = KeepPropsWithFixedHorizontal, V = KeepPropsWithFixedVertical;
    const struct {
        Rect (*fn)(Rect, Rect);
        Rect a, b, want;
    } rows[] = {
        {H, R(0, 0, 480, 720), R(10, 20, 110, 380), R(10, 20, 250, 380)},
        {V, R(0, 0, 480, 720), R(0, 0, 100, 1), R(0, 0, 100, 150)},
        // Halves round up: width 7 at 2:1 gives 3.5 -> 4; 3:2 with 100 gives 66.67 -> 67.
        {H, R(0, 0, 1, 2), R(0, 0, 0, 7), R(0, 0, 4, 7)},
        {H, R(0, 0, 2, 3), R(0, 0, 0, 100), R(0, 0, 67, 100)},
        // Degenerate originals.
        {H, R(0, 0, 50, 0), R(1, 2, 3, 4), R(1, 2, 3, 4)},
        {V, R(0, 0, 0, 50), R(1, 2, 3, 4), R(1, 2, 3, 4)},
        {H, R(0, 0, 0, 50), R(5, 2, 30, 40), R(5, 2, 5, 40)},
        {CalcProportionalRectForFrame, R(0, 0, 500, 1000), R(0, 0, 480, 720), R(0, 0, 360, 720)},
        {CalcProportionalRectForFrame, R(0, 0, 500, 600), R(0, 0, 480, 720), R(0, 0, 600, 720)},
        {CalcProportionalRectForFrame, R(0, 0, 300, 300), R(0, 0, 480, 720), R(0, 0, 480, 480)},
    };
    for (const auto &row : rows) EXPECT_TRUE(SameRect(row.fn(row.a, row.b), row.want));

    Rect r = R(0, 0, 10, 101), v = R(0, 0, 11, 10);
    CenterRectInRect(&r, R(0, 0, 10, 721));
    CenterRectInRect(&v, R(-20, 5, 20, 15));
    EXPECT_TRUE(SameRect(r, R(0, 310, 10, 411)));
    EXPECT_TRUE(SameRect(v, R(-5, 5, 6, 15)));
    SInt32 w = 0, h = 0;
    GetDims(R(-32768, -32768, 32767, 32767), &w, &h);
    EXPECT_EQ(std::pair(w, h), std::pair(65535, 65535));
}

TEST(CommonProcs, ColoursShortStringsAndTexts) {
    EXPECT_EQ(Channels(LongInt2RGBColor(0x00FF8000)), std::tuple(0xFF00, 0x8000, 0));
    EXPECT_EQ(RGBColor2LongInt(SetRGBColor(0xFFFF, 0x80FF, 0x00FF)), 0x00FF8000);
    EXPECT_EQ(Channels(LongInt2RGBColor(static_cast<SInt32>(0xAB123456u))), std::tuple(0x1200, 0x3400, 0x5600));
    const pixRec p = LongInt2PixRec(static_cast<SInt32>(0xFF010203u));
    EXPECT_EQ(std::tuple(p.alpha, p.red, p.green, p.blue), std::tuple(0, 1, 2, 3));
    EXPECT_EQ(PixRec2LongInt(pixRec{0xEE, 1, 2, 3}), 0x010203);

    Str255 s;
    Num2Text(-2147483647 - 1, s);
    EXPECT_EQ(PStrView(s), "-2147483648");
    CToPStr(std::string(300, 'x'), s);
    EXPECT_EQ(PStrView(s), std::string(255, 'x'));
    CToPStr("abc", s);
    PStrCat(s, std::string(400, 'y'));
    EXPECT_EQ(PStrView(s), "abc" + std::string(252, 'y'));
    CommandID2Str(PLATFORM_FOURCC('C', 'o', 'l', '1'), s);
    EXPECT_EQ(PStrView(s), "Col1");
    CommandID2Str(0, s);
    EXPECT_EQ(PStrView(s), std::string(4, '\0'));
    EXPECT_TRUE(CommandIDIs(PLATFORM_FOURCC('R', 's', 'e', 't'), "Rset"));
    EXPECT_FALSE(CommandIDIs(PLATFORM_FOURCC('R', 's', 'e', 't'), "Rse"));
}

TEST(CommonProcsDeathTest, AssertAndAMissingNibWindowEndTheHostWithTheStopAlert) {
    Assert(reinterpret_cast<const void *>(1), "never shown");
    EXPECT_EXIT(
        Assert(nullptr, "Unable to allocate theGW in theLineEffect"), testing::ExitedWithCode(1),
        "\\[Stop alert\\] Assertion Failure\n  Assertion failed in: Unable to allocate theGW in theLineEffect\n");
    // An over-long location is cut so the whole explanation is 255 bytes.
    EXPECT_EXIT(Assert(nullptr, std::string(300, 'z')), testing::ExitedWithCode(1),
                "Assertion failed in: " + std::string(255 - 21, 'z') + "\n");

    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8 *>(KELVARIN_TEST_BUNDLE), std::strlen(KELVARIN_TEST_BUNDLE), true);
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EXIT(OpenNibWindowFromCFBundle(cMyBundleID, "kelvarin", "configMissing"), testing::ExitedWithCode(1),
                "\\[Stop alert\\] OpenNibWindow Failed\n  Unable to CreateWindowFromNib for "
                "\"com.qmz.varnolex.kelvarin/kelvarin/configMissing\" as it returned errcode #-?[0-9]+\\.\n");
    CFRelease(bundle);
}

TEST(ConfigRecordDeathTest, DefaultsResetCopiesAndBlocksOfDifferentSizes) {
    pluginDataRec r;
    std::memset(&r, 0x5A, sizeof r);
    const RGBColor endColor = r.frameEndColor;
    CGImageRef marker = reinterpret_cast<CGImageRef>(&r);
    r.theRendered = marker;
    ResetConfig(&r, false);
    EXPECT_EQ(r.theRendered, marker);  // a partial reset keeps the images
    ResetConfig(&r, true);
    EXPECT_TRUE(r.theRendered == nullptr && r.theOriginalImage == nullptr);
    for (const relRect &q : {r.startRel, r.endRel}) EXPECT_TRUE(SameRel(q, SetRelRect(0, 0, 1, 1)));
    const SInt16 sliders[6] = {10, 50, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(r.sliders, sliders, sizeof sliders), 0);
    for (const RGBColor &c : r.colors) EXPECT_EQ(c.red | c.green | c.blue, 0);
    EXPECT_EQ(Channels(r.frameStartColor), std::tuple(65535, 0, 0));
    EXPECT_EQ(std::memcmp(&r.frameEndColor, &endColor, sizeof endColor), 0);  // never reset
    EXPECT_EQ(std::tuple(r.mediaType, r.outside, r.clipActive, r.keepProps, r.rota), std::tuple(1, 1, 0, 0, 1));
    r.mediaType = 2;
    ResetConfig(&r, false);
    EXPECT_EQ(r.mediaType, 1);

    // Copies: whole record, own rendered image, no original.
    void *a = nullptr, *b = nullptr;
    pNewConfig(&a);
    pNewConfig(&b);
    ASSERT_NE(a, nullptr);
    auto *src = static_cast<pluginDataPtr>(a);
    auto *dst = static_cast<pluginDataPtr>(b);
    ResetConfig(src, true);
    src->rota = 4;
    src->startRel = SetRelRect(0.1, 0.2, 0.7, 0.9);
    GWorldPtr gw = AllocateRectGWorld(R(0, 0, 4, 6));
    ASSERT_NE(gw, nullptr);
    src->theRendered = GWorld2CGImage(gw);
    src->theOriginalImage = src->theRendered;
    std::memset(b, 0x77, sizeof(pluginDataRec));
    pCopyConfig(nullptr, b);
    pCopyConfig(a, nullptr);
    EXPECT_EQ(static_cast<unsigned char *>(b)[0], 0x77);
    pCopyConfig(a, b);
    EXPECT_EQ(std::pair(dst->rota, dst->startRel.bottom), std::pair(SInt16(4), 0.9));
    EXPECT_EQ(dst->theOriginalImage, nullptr);
    ASSERT_NE(dst->theRendered, nullptr);
    EXPECT_NE(dst->theRendered, src->theRendered);
    EXPECT_EQ(CGImageGetWidth(dst->theRendered), 6u);
    pUncopyConfig(dst);
    EXPECT_EQ(dst->theRendered, nullptr);
    CGImageRelease(src->theRendered);
    DisposeGWorld(gw);
    pDestroyConfig(a);
    pDestroyConfig(b);
    pDestroyConfig(nullptr);

    // Blocks of different sizes, and no block, end the host.
    a = NewPtrClear(sizeof(pluginDataRec));
    b = NewPtrClear(sizeof(pluginDataRec) + 4);
    EXPECT_EXIT(pCopyConfig(a, b), testing::ExitedWithCode(1),
                "\\[Stop alert\\] Non-Matching Blocks\n  The Size of Source and Dest do not match\n");
    EXPECT_EXIT(pUncopyConfig(nullptr), testing::ExitedWithCode(1), "Nil data in pUncopyConfig");
    DisposePtr(static_cast<Ptr>(a));
    DisposePtr(static_cast<Ptr>(b));
}

TEST(SaveRecord, BytesFollowTheRecordTable) {
    pluginDataRec r{};
    ResetConfig(&r, true);
    r.startRel = SetRelRect(0.1, 0.2, 0.3, 0.4);
    r.endRel = SetRelRect(-1, 2, 3.5, 1e9);
    for (int i = 0; i < 6; ++i) {
        r.colors[i] =
            SetRGBColor(static_cast<UInt16>(1000 + i), static_cast<UInt16>(2000 + i), static_cast<UInt16>(3000 + i));
        r.sliders[i] = static_cast<SInt16>(-3 * i);
    }
    r.frameStartColor = SetRGBColor(1, 2, 3);
    r.frameEndColor = SetRGBColor(4, 5, 6);
    r.mediaType = 3;
    r.keepProps = 1;
    r.outside = 0;
    r.rota = 4;
    r.clipActive = 1;

    Handle h = NewHandleClear(396);
    ASSERT_TRUE(Config2Save(&r, h));
    const auto *b = reinterpret_cast<const unsigned char *>(*h);
    // Native byte order, offsets of the stored record (storage/prefsloader.cpp).
    auto at = [b](int off, auto v) {
        std::memcpy(&v, b + off, sizeof v);
        return v;
    };
    EXPECT_EQ(std::tuple(at(0, UInt32()), at(4, UInt32())), std::tuple(396u, 3u));  // size, version
    // startRel and endRel as left, right, top, bottom.
    EXPECT_EQ(std::tuple(at(8, 0.0), at(16, 0.0), at(24, 0.0), at(32, 0.0), at(40, 0.0), at(64, 0.0)),
              std::tuple(0.1, 0.3, 0.2, 0.4, -1.0, 1e9));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(std::tuple(at(72 + 6 * i, UInt16()), at(72 + 6 * i + 4, UInt16()), at(108 + 2 * i, SInt16())),
                  std::tuple(1000 + i, 3000 + i, -3 * i));
    // frameStartColor red and blue, frameEndColor.red, mediaType, keepProps, outside, rota, clipActive.
    EXPECT_EQ(std::tuple(at(120, UInt16()), at(124, UInt16()), at(126, UInt16()), at(132, UInt16()), int(b[134]),
                         int(b[135]), at(136, UInt16()), int(b[138])),
              std::tuple(1, 3, 4, 3, 1, 0, 4, 1));
    const char banner[] = "Config save for qmz iMovie plug-in";
    EXPECT_EQ(b[139], sizeof banner - 1);
    EXPECT_EQ(std::memcmp(b + 140, banner, sizeof banner - 1), 0);
    for (int i = 140 + int(sizeof banner) - 1; i < 396; ++i) EXPECT_EQ(b[i], 0) << "byte " << i;

    // Back into a record: every field (images: test_prefs.cpp).
    pluginDataRec back{};
    ASSERT_TRUE(Save2Config(&back, h));
    EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);
    // Damaged records are refused by the file's reader (test_prefs.cpp); here the missing pieces.
    SetHandleSize(h, 395);
    EXPECT_FALSE(Config2Save(&r, h) || Save2Config(nullptr, h) || Save2Config(&back, nullptr) ||
                 Config2Save(nullptr, h));
    DisposeHandle(h);
}
