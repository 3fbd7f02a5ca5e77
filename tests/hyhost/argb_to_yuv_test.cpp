// The ARGB to 4:2:0 conversion for the encoder against swscale set up as
// hyhost sets it up: every kernel must give swscale's bytes, on random
// pictures whose seeds are printed so one case can be rerun alone.
#include "ArgbToYuv.h"
#include "VideoSource.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

struct Case {
    int width, height, matrix;
    uint32_t seed;
};

enum class Content { Noise, Extremes, Smooth };

ArgbPicture MakeArgb(const Case &c, Content content) {
    ArgbPicture p = MakePicture(c.width, c.height);
    std::mt19937 rng(c.seed);
    for (size_t i = 0; i < p.ByteCount(); i++) {
        uint8_t v = uint8_t(rng());
        if (content == Content::Extremes) v = (v & 1) ? 255 : 0;
        if (content == Content::Smooth) v = uint8_t((i % 4) * 60 + (i / 4) % size_t(c.width) + (i / p.RowBytes()) * 3);
        p.pixels[i] = v;
    }
    return p;
}

// Planes with padded strides, as an encoder's frame has them.
AVFramePtr YuvFrame(int width, int height) {
    AVFramePtr f(av_frame_alloc());
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    EXPECT_GE(av_frame_get_buffer(f.get(), 64), 0);
    return f;
}

std::vector<uint8_t> Planes(const AVFrame &f) {
    std::vector<uint8_t> bytes;
    for (int p = 0; p < 3; p++) {
        int w = p ? (f.width + 1) / 2 : f.width, h = p ? (f.height + 1) / 2 : f.height;
        for (int y = 0; y < h; y++) bytes.insert(bytes.end(), f.data[p] + y * f.linesize[p], f.data[p] + y * f.linesize[p] + w);
    }
    return bytes;
}

std::vector<uint8_t> BySwscale(const ArgbPicture &argb, int matrix) {
    SwsPtr held;
    SwsContext *s = SlicedScaler(held, argb.width, argb.height, AV_PIX_FMT_ARGB, argb.width, argb.height,
                                 AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP);
    ColourModel to;
    to.matrix = matrix;
    SetConversionColour(s, ColourModel{}, to);
    AVFramePtr in = LendPicture(argb), out = YuvFrame(argb.width, argb.height);
    EXPECT_GE(sws_scale_frame(s, out.get(), in.get()), 0);
    return Planes(*out);
}

}  // namespace

TEST(ArgbToYuv, EveryKernelGivesSwscalesBytes) {
    const Case cases[] = {
        {1920, 1080, SWS_CS_ITU709, 1}, {1280, 720, SWS_CS_ITU601, 2}, {640, 360, SWS_CS_BT2020, 3},
        {853, 481, SWS_CS_ITU709, 4},   {33, 17, SWS_CS_ITU601, 5},    {100, 76, SWS_CS_FCC, 6},
        {1279, 719, SWS_CS_SMPTE240M, 7}, {16, 16, SWS_CS_ITU709, 8},
    };
    for (const Case &c : cases)
        for (Content content : {Content::Noise, Content::Extremes, Content::Smooth}) {
            SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " matrix " << c.matrix << " seed "
                                            << c.seed << " content " << int(content));
            ArgbPicture argb = MakeArgb(c, content);
            const std::vector<uint8_t> expected = BySwscale(argb, c.matrix);
            auto plan = MakeArgbYuvPlan(c.width, c.height, sws_getCoefficients(c.matrix), false);
            ASSERT_TRUE(plan.has_value());
            for (bool reference : {true, false}) {
                AVFramePtr out = YuvFrame(c.width, c.height);
                YuvOutPlanes planes{{out->data[0], out->data[1], out->data[2]},
                                    {out->linesize[0], out->linesize[1], out->linesize[2]}};
                ArgbToYuv(*plan, argb.pixels.get(), ptrdiff_t(argb.RowBytes()), planes, reference);
                const std::vector<uint8_t> got = Planes(*out);
                size_t at = size_t(std::mismatch(expected.begin(), expected.end(), got.begin()).first - expected.begin());
                EXPECT_EQ(at, expected.size()) << (reference ? "reference" : "fastest kernel") << " differs at byte " << at
                                               << " of " << expected.size();
            }
        }
}
