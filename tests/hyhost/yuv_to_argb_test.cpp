// The 4:2:0 to ARGB conversion against swscale set up exactly as hyhost sets
// it up: every kernel must give swscale's bytes, on random pictures whose
// seeds are printed so one case can be rerun alone.
#include "VideoSource.h"
#include "YuvToArgb.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}


namespace {

struct Case {
    int width, height, matrix;
    bool fullRange;
    uint32_t seed;
};

enum class Content { Noise, Extremes, Smooth };

// A frame with padded strides, filled by `content`.
AVFramePtr MakeFrame(const Case &c, Content content) {
    AVFramePtr f(av_frame_alloc());
    f->format = AV_PIX_FMT_YUV420P;
    f->width = c.width;
    f->height = c.height;
    f->color_range = c.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    f->colorspace = c.matrix == SWS_CS_ITU709 ? AVCOL_SPC_BT709
                    : c.matrix == SWS_CS_BT2020 ? AVCOL_SPC_BT2020_NCL
                                                : AVCOL_SPC_SMPTE170M;
    EXPECT_GE(av_frame_get_buffer(f.get(), 64), 0);
    std::mt19937 rng(c.seed);
    for (int p = 0; p < 3; p++) {
        int w = p ? (c.width + 1) / 2 : c.width, h = p ? (c.height + 1) / 2 : c.height;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                uint8_t v = uint8_t(rng());
                if (content == Content::Extremes) v = (v & 1) ? 255 : 0;
                if (content == Content::Smooth) v = uint8_t((x * 3 + y * 5 + p * 70) & 0xFF);
                f->data[p][y * f->linesize[p] + x] = v;
            }
    }
    return f;
}

std::vector<uint8_t> BySwscale(const AVFrame &f) {
    SwsPtr scaler;
    ArgbPicture out = MakePicture(f.width, f.height);
    EXPECT_TRUE(SwscaleToPicture(scaler, f, f.width, f.height, true, out));
    return {out.pixels.get(), out.pixels.get() + out.ByteCount()};
}

YuvColour ColourOf(const Case &c) {
    YuvColour colour;
    colour.table = sws_getCoefficients(c.matrix);
    colour.fullRange = c.fullRange;
    return colour;
}

// Converts with one kernel set into rows with canary bytes after them.
std::vector<uint8_t> ByPlan(const YuvArgbPlan &plan, const AVFrame &f, bool reference, bool &canariesKept) {
    const size_t row = size_t(f.width) * 4, stride = row + 12;
    std::vector<uint8_t> padded(stride * size_t(f.height), 0xA5), out;
    YuvPlanes planes{{f.data[0], f.data[1], f.data[2]}, {f.linesize[0], f.linesize[1], f.linesize[2]}};
    YuvToArgb(plan, planes, padded.data(), ptrdiff_t(stride), reference);
    canariesKept = true;
    for (size_t y = 0; y < size_t(f.height); y++) {
        out.insert(out.end(), padded.begin() + ptrdiff_t(y * stride), padded.begin() + ptrdiff_t(y * stride + row));
        for (size_t x = row; x < stride; x++) canariesKept = canariesKept && padded[y * stride + x] == 0xA5;
    }
    return out;
}

size_t FirstDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    return size_t(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
}

}  // namespace

TEST(YuvToArgb, EveryKernelGivesSwscalesBytes) {
    const Case cases[] = {
        {1920, 1080, SWS_CS_ITU709, false, 1}, {1280, 720, SWS_CS_ITU709, true, 2}, {640, 360, SWS_CS_ITU601, false, 3},
        {720, 576, SWS_CS_ITU601, true, 4},    {853, 481, SWS_CS_ITU601, false, 5}, {33, 17, SWS_CS_BT2020, false, 6},
        {100, 75, SWS_CS_ITU709, false, 7},    {18, 10, SWS_CS_ITU601, false, 8},   {1279, 719, SWS_CS_BT2020, true, 9},
    };
    for (const Case &c : cases)
        for (Content content : {Content::Noise, Content::Extremes, Content::Smooth}) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " matrix " << c.matrix << " full "
                                            << c.fullRange << " seed " << c.seed << " content " << int(content));
            AVFramePtr f = MakeFrame(c, content);
            std::vector<uint8_t> expected = BySwscale(*f);
            auto plan = MakeYuvArgbPlan(c.width, c.height, ColourOf(c));
            ASSERT_TRUE(plan.has_value());
            for (bool reference : {true, false}) {
                bool canaries = false;
                std::vector<uint8_t> got = ByPlan(*plan, *f, reference, canaries);
                size_t at = FirstDifference(expected, got);
                EXPECT_EQ(at, expected.size()) << (reference ? "reference" : "fastest kernel") << " differs at pixel "
                                               << at / 4 % size_t(c.width) << "," << at / 4 / size_t(c.width);
                EXPECT_TRUE(canaries);
            }
        }
}

// The plan is used only after its first frame matched swscale's bytes; one
// that disagrees is never used again, and the reference switch keeps swscale.
TEST(YuvToArgb, FramesUseThePlanOnlyOnceItMatchedSwscale) {
    if (YuvRowKernelSets().size() < 2) GTEST_SKIP() << "no vector kernels on this CPU: swscale converts";
    const Case c{64, 48, SWS_CS_ITU709, false, 11};
    AVFramePtr f = MakeFrame(c, Content::Noise);
    const std::vector<uint8_t> expected = BySwscale(*f);
    auto converted = [&](ArgbConverter &conv) {
        ArgbPicture out;
        EXPECT_TRUE(FrameToPicture(conv, *f, c.width, c.height, true, out));
        return std::vector<uint8_t>(out.pixels.get(), out.pixels.get() + out.ByteCount());
    };

    ArgbConverter good;
    EXPECT_EQ(converted(good), expected);
    EXPECT_EQ(good.trust, PlanTrust::Matched);
    EXPECT_EQ(converted(good), expected);

    ArgbConverter bad;
    converted(bad);
    bad.plan->k.yCoeff += 1;  // a plan that no longer gives swscale's bytes
    bad.trust = PlanTrust::Unchecked;
    EXPECT_EQ(converted(bad), expected);
    EXPECT_EQ(bad.trust, PlanTrust::Refused);
    EXPECT_EQ(converted(bad), expected);

    setenv("KELVARIN_REFERENCE", "1", 1);
    ArgbConverter reference;
    EXPECT_EQ(converted(reference), expected);
    EXPECT_FALSE(reference.plan.has_value());
    unsetenv("KELVARIN_REFERENCE");
}
