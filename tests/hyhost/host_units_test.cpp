// The host's callbacks and pipeline pieces on their own.
#include "JobSettings.h"
#include "Options.h"
#include "PluginHost.h"
#include "Render.h"
#include "VideoSink.h"

#include "QuickDraw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A w x h picture whose pixel i (row by row) has its four bytes at values[i],
// or all at values[0] where only one value is given.
struct Picture {
    GWorldPtr world = nullptr;
    int w, h;
    Picture(int width, int height, const std::vector<int> &values) : w(width), h(height) {
        Rect r{0, 0, int16_t(h), int16_t(w)};
        EXPECT_EQ(NewGWorld(&world, 32, &r, nullptr, nullptr, 0), noErr);
        for (int i = 0; i < w * h; ++i) std::memset(At(i), values[values.size() == 1 ? 0 : i], 4);
    }
    ~Picture() { DisposeGWorld(world); }
    PixMapHandle Map() const { return GetGWorldPixMap(world); }
    uint8_t *At(int i) const {
        return reinterpret_cast<uint8_t *>(GetPixBaseAddr(Map())) + i / w * GetPixRowBytes(Map()) + 4 * (i % w);
    }
    // The value of each pixel, or -1 where its four bytes differ.
    std::vector<int> Values() const {
        std::vector<int> v;
        for (int i = 0; i < w * h; ++i) v.push_back(std::count(At(i), At(i) + 4, *At(i)) == 4 ? *At(i) : -1);
        return v;
    }
};

// Blit: the source rectangle over the destination's at an opacity, (s * op +
// d * (255 - op) + 127) / 255; sizes that differ take the nearest pixel; only
// the destination rectangle inside the picture changes.
TEST(HostCallbacks, BlitBlendsTheSourceRectangleOverTheDestination) {
    struct Case {
        int dw, dh;
        Rect src, dst;
        int opacity;
        std::vector<int> want;
    };
    const Case cases[] = {
        {2, 2, {0, 0, 2, 2}, {0, 0, 2, 2}, 255, {10, 20, 30, 40}},
        {2, 2, {0, 0, 2, 2}, {0, 0, 2, 2}, 127, {55, 60, 65, 70}},
        {2, 2, {0, 0, 2, 2}, {0, 0, 2, 2}, 300, {10, 20, 30, 40}},  // out of range: as 255
        {2, 2, {0, 0, 2, 2}, {0, 0, 2, 2}, 0, {100, 100, 100, 100}},
        {2, 2, {0, 0, 2, 2}, {0, 0, 0, 2}, 255, {100, 100, 100, 100}},                       // empty destination
        {2, 2, {1, 0, 2, 2}, {0, 0, 1, 2}, 255, {30, 40, 100, 100}},                         // the source's second row
        {3, 3, {0, 0, 2, 2}, {1, 1, 3, 3}, 255, {100, 100, 100, 100, 10, 20, 100, 30, 40}},  // moved
        {2, 2, {0, 0, 2, 2}, {1, 1, 3, 3}, 25, {100, 100, 100, 91}},  // reaching past the picture
        {4, 3, {0, 0, 2, 2}, {0, 0, 3, 4}, 255, {10, 10, 20, 20, 10, 10, 20, 20, 30, 30, 40, 40}},  // scaled
    };
    for (const Case &c : cases) {
        Picture src(2, 2, {10, 20, 30, 40}), dst(c.dw, c.dh, {100});
        ASSERT_EQ(HostBlit(src.Map(), dst.Map(), c.src, &c.dst, int16_t(c.opacity)), kPluginOK);
        EXPECT_EQ(dst.Values(), c.want) << "opacity " << c.opacity << " to " << c.dst.left << "," << c.dst.top;
    }
    Picture p(2, 2, {0});
    Rect r{0, 0, 2, 2};
    EXPECT_EQ(HostBlit(nullptr, p.Map(), r, &r, 255), kPluginBadParams);
    EXPECT_EQ(HostBlit(p.Map(), p.Map(), r, nullptr, 255), kPluginBadParams);
}

TEST(HostCallbacks, FramesAreLentUntilReleasedAndSliderFramesAreLeftToThePlugin) {
    ArgbPicture frame = MakePicture(5, 3);
    for (std::size_t i = 0; i < frame.ByteCount(); ++i) frame.pixels[i] = uint8_t(i * 3);
    HostSession s;
    s.clipFrames = 10;
    s.current = &frame;
    s.currentIndex = 4;
    GWorldPtr pic = nullptr;
    void *cookie = nullptr;
    int16_t volume = 0;
    EXPECT_EQ(HostGetFrame(&s, 4, &pic, 0, 3, kDVHighQuality, &volume, &cookie), kPluginBadParams);
    // No decoder for other frames: only the current one can be served.
    EXPECT_EQ(HostGetFrame(&s, 3, &pic, 5, 3, kDVHighQuality, &volume, &cookie), kPluginCantGetNeededFrame);
    EXPECT_TRUE(pic == nullptr && cookie == nullptr);

    ASSERT_EQ(HostGetFrame(&s, 4, &pic, 5, 3, kDVHighQuality, &volume, &cookie), kPluginOK);
    ArgbPicture lent = PictureFromGWorld(pic);
    ASSERT_EQ(std::tuple(lent.width, lent.height), std::tuple(5, 3));
    EXPECT_EQ(0, std::memcmp(lent.pixels.get(), frame.pixels.get(), frame.ByteCount()));
    EXPECT_EQ(HostMixAudio(&s, cookie, 128), kPluginOK);
    EXPECT_EQ(HostReleaseFrame(&s, cookie), kPluginOK);
    EXPECT_EQ(HostReleaseFrame(&s, cookie), kPluginBadParams) << "a second release is refused";
    EXPECT_EQ(HostMixAudio(&s, cookie, 256), kPluginBadParams);

    // In the button message the first frame is the button's; later ones are the clip
    // slider's, which disposes of them itself (the address sanitizer sees a double free).
    s.inButtonMessage = true;
    GWorldPtr buttonPic = nullptr, sliderPic = nullptr;
    void *buttonCookie = nullptr, *sliderCookie = nullptr;
    ASSERT_EQ(HostGetFrame(&s, 4, &buttonPic, 5, 3, kDVHighQuality, nullptr, &buttonCookie), kPluginOK);
    ASSERT_EQ(HostGetFrame(&s, 4, &sliderPic, 2, 2, kDVLowQuality, nullptr, &sliderCookie), kPluginOK);
    Rect bounds;
    GetPortBounds(sliderPic, &bounds);
    EXPECT_EQ(bounds.right - bounds.left, 2) << "scaled to the size asked";
    EXPECT_EQ(HostReleaseFrame(&s, sliderCookie), kPluginOK);
    DisposeGWorld(sliderPic);
    EXPECT_EQ(HostReleaseFrame(&s, buttonCookie), kPluginOK);
    // The first call is the button's even when it fails: what follows is still the slider's.
    s.buttonFetches = 0;
    EXPECT_EQ(HostGetFrame(&s, 3, &buttonPic, 5, 3, kDVHighQuality, nullptr, &buttonCookie), kPluginCantGetNeededFrame);
    ASSERT_EQ(HostGetFrame(&s, 4, &sliderPic, 5, 3, kDVLowQuality, nullptr, &sliderCookie), kPluginOK);
    EXPECT_FALSE(static_cast<FrameLoan *>(sliderCookie)->hostDisposes);
    EXPECT_EQ(HostReleaseFrame(&s, sliderCookie), kPluginOK);
    DisposeGWorld(sliderPic);
    s.inButtonMessage = false;

    // A frame lent over the decoded picture and still held when the frame ends keeps its pixels:
    // the render reuses its picture for the next frame.
    ASSERT_EQ(HostGetFrame(&s, 4, &pic, 5, 3, kDVHighQuality, nullptr, &cookie), kPluginOK);
    const ArgbPicture before = PictureFromGWorld(pic);
    EndCurrentFrame(s);
    frame = MakePicture(5, 3);
    std::memset(frame.pixels.get(), 0xFF, frame.ByteCount());
    ArgbPicture held = PictureFromGWorld(pic);
    EXPECT_EQ(0, std::memcmp(held.pixels.get(), before.pixels.get(), before.ByteCount()));
    EXPECT_EQ(HostReleaseFrame(&s, cookie), kPluginOK);
    s.current = &frame;

    // A frame the plug-in never gives back is disposed of with the session.
    ASSERT_EQ(HostGetFrame(&s, 4, &pic, 5, 3, kDVHighQuality, nullptr, &cookie), kPluginOK);
}

// The plug-in's memory comes from the host: cleared when asked, none for a negative size.
TEST(HostCallbacks, MemoryIsClearedWhenAsked) {
    void *block = HostProcs()->NewPtrClear(64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<uint8_t *>(block)[63], 0);
    HostProcs()->DisposePtr(block);
    EXPECT_EQ(HostProcs()->NewPtr(-1), nullptr);
}

// One parser's result as text: p a clip point, s a size, c a colour, t a
// turn, b a bit rate; "" when the parser refuses the value.
std::string Parsed(char kind, const char *text) {
    ClipPoint p;
    SizeRequest r;
    std::string hex;
    int degrees = 0;
    int64_t rate = 0;
    switch (kind) {
        case 'p':
            if (!ParseClipPoint(text, p)) return "";
            return p.isFrame ? "f" + std::to_string(p.frame) : "t" + std::to_string(p.micros);
        case 's':
            return ParseSizeRequest(text, r) ? std::to_string(r.width) + "x" + std::to_string(r.height) : "";
        case 'c':
            return ParseColourHex(text, hex) ? hex : "";
        case 't':
            return ParseTurn(text, degrees) ? std::to_string(degrees) : "";
        default:
            return ParseBitRate(text, rate) ? std::to_string(rate) : "";
    }
}

// Option values in the ffmpeg command's syntax.
TEST(OptionValues, ParseAsTheFfmpegCommandTakesThem) {
    // clang-format off
    const std::tuple<char, const char *, const char *> rows[] = {
        {'p', "90", "t90000000"}, {'p', "1:30", "t90000000"}, {'p', "4.5", "t4500000"}, {'p', "4.5s", "t4500000"},
        {'p', "00:01:02.040", "t62040000"}, {'p', "1500ms", "t1500000"}, {'p', "120f", "f120"}, {'p', "0f", "f0"},
        {'p', "", ""}, {'p', "f", ""}, {'p', "-1", ""}, {'p', "-3f", ""}, {'p', "1.5f", ""}, {'p', "4x", ""},
        {'p', "1:2:3:4", ""}, {'p', "1 0", ""},
        {'s', "1280x720", "1280x720"}, {'s', "hd720", "1280x720"}, {'s', "vga", "640x480"}, {'s', "640x-2", "640x-2"},
        {'s', "-2x360", "-2x360"}, {'s', "12by4", ""}, {'s', "-2x-2", ""}, {'s', "0x10", ""}, {'s', "20000x10", ""},
        {'s', "", ""},
        {'c', "red", "#FF0000"}, {'c', "DarkBlue", "#00008B"}, {'c', "#1E64C8", "#1E64C8"}, {'c', "0x1E64C8", "#1E64C8"},
        {'c', "blurple", ""}, {'c', "random", ""}, {'c', "#12345", ""}, {'c', "", ""},
        {'t', "0", "0"}, {'t', "90", "90"}, {'t', "ccw90", "90"}, {'t', "cw90", "270"}, {'t', "270", "270"},
        {'t', "cw270", "90"}, {'t', "cw180", "180"}, {'t', "45", ""}, {'t', "360", ""}, {'t', "cw", ""}, {'t', "up", ""},
        {'b', "2500000", "2500000"}, {'b', "2500k", "2500000"}, {'b', "2.5M", "2500000"}, {'b', "0", ""},
        {'b', "-5k", ""}, {'b', "fast", ""}, {'b', "k", ""}};
    // clang-format on
    for (auto [kind, text, want] : rows) EXPECT_EQ(Parsed(kind, text), want) << kind << " " << text;
    // -2 keeps the clip's aspect, rounded to even.
    int w = 0, h = 0;
    EXPECT_TRUE(ResolveSize({640, -2}, 1920, 1080, w, h) && h == 360) << h;
    EXPECT_TRUE(ResolveSize({-2, 100}, 720, 576, w, h) && w == 126) << w;
}

TEST(OptionValues, SetValuesInHyhostsUnitsBecomeThePrefsToolsSyntax) {
    // Pixels of a 128x64 frame become shares of it.
    // clang-format off
    const std::pair<const char *, const char *> rows[] = {
        {"rect=32:16:32:32", "rect=0.25,0.25,0.5,0.75"}, {"rect=0:0:128:64", "rect=0,0,1,1"},
        {"rect=0.1,0.2,0.9,0.8", "rect=0.1,0.2,0.9,0.8"}, {"color=orange", "color=#FFA500"},
        {"colors.2=0x102030", "colors.2=#102030"}, {"frameStartColor=1,2,3", "frameStartColor=1,2,3"},
        {"rota=cw90", "rota=270"}, {"outside=off", "outside=off"}, {"rect=0:0:129:64", ""}, {"rect=-1:0:8:8", ""},
        {"rect=0:0:0:8", ""}, {"rect=0:0:64", ""}, {"color=nocolour", ""}, {"rota=ccw45", ""}, {"rota", ""}};
    // clang-format on
    for (auto [text, want] : rows) {
        std::string got, error;
        bool ok = TranslateSetting(text, 128, 64, got, error);
        EXPECT_EQ(ok ? got : "", want) << text << ": " << error;
        EXPECT_TRUE(ok || error.find("e.g.") != std::string::npos) << error;
    }
}

TEST(RenderPieces, AudioLevelsApplyToTheirSampleRangeOnly) {
    for (AVSampleFormat fmt : {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S32}) {
        AVFramePtr f(av_frame_alloc());
        f->format = fmt;
        f->nb_samples = 10;
        f->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
        ASSERT_EQ(av_frame_get_buffer(f.get(), 0), 0);
        // Sample i of channel c, planar or interleaved.
        auto at = [&](int i, int c) {
            return fmt == AV_SAMPLE_FMT_FLTP ? f->extended_data[c] + 4 * i
                                             : f->data[0] + av_get_bytes_per_sample(fmt) * (2 * i + c);
        };
        auto value = [&](int i, int c) -> double {
            if (fmt == AV_SAMPLE_FMT_S16) return *reinterpret_cast<int16_t *>(at(i, c));
            return fmt == AV_SAMPLE_FMT_S32 ? *reinterpret_cast<int32_t *>(at(i, c))
                                            : *reinterpret_cast<float *>(at(i, c));
        };
        for (int i = 0; i < 10; ++i)
            for (int c = 0; c < 2; ++c) {
                if (fmt == AV_SAMPLE_FMT_S16) *reinterpret_cast<int16_t *>(at(i, c)) = int16_t(1000 + 10 * i + c);
                if (fmt == AV_SAMPLE_FMT_S32) *reinterpret_cast<int32_t *>(at(i, c)) = 1000 + 10 * i + c;
                if (fmt == AV_SAMPLE_FMT_FLTP) *reinterpret_cast<float *>(at(i, c)) = float(1000 + 10 * i + c);
            }
        ScaleSamples(*f, 3, 4, 0.0);
        ScaleSamples(*f, 8, 5, 0.5);  // runs past the end: clamped
        ScaleSamples(*f, 0, 2, 1.0);
        for (int i = 0; i < 10; ++i)
            for (int c = 0; c < 2; ++c) {
                const double v = 1000 + 10 * i + c, want = i >= 3 && i < 7 ? 0 : (i >= 8 ? 0.5 : 1) * v;
                EXPECT_NEAR(value(i, c), want, 0.5) << av_get_sample_fmt_name(fmt) << " sample " << i;
            }
    }
}

// A plug-in named without a path is looked for in the user's data folder.
TEST(PluginLoading, NamesResolveOrExplain) {
    const fs::path data = fs::temp_directory_path() / ("hyhost-data-" + std::to_string(getpid()));
    const fs::path mine = data / "hyhost" / "Plug-ins" / "Mine.plugin";
    fs::create_directories(mine);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    std::string bundle, error;
    EXPECT_TRUE(FindPluginBundle("Mine", bundle, error)) << error;
    EXPECT_EQ(bundle, mine.string());
    LoadedPlugin p;
    EXPECT_FALSE(LoadPlugin(bundle, p, error)) << "a bundle without its binary";
    EXPECT_FALSE(error.empty());
    fs::remove_all(data);
}

}  // namespace
