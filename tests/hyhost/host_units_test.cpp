// The host's callbacks and pipeline pieces on their own.
#include "FrameQueue.h"
#include "JobSettings.h"
#include "Options.h"
#include "PluginHost.h"
#include "Render.h"
#include "SafeOutput.h"
#include "VideoSink.h"

#include "QuickDraw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Picture {
    GWorldPtr world = nullptr;
    Picture(int w, int h, uint32_t seed) {
        Rect r{0, 0, int16_t(h), int16_t(w)};
        EXPECT_EQ(NewGWorld(&world, 32, &r, nullptr, nullptr, 0), noErr);
        PixMapHandle pm = GetGWorldPixMap(world);
        auto *base = reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w * 4; ++x)
                base[y * GetPixRowBytes(pm) + x] = uint8_t((x * 7 + y * 13 + seed * 31) ^ (x * y));
    }
    ~Picture() { DisposeGWorld(world); }
    PixMapHandle Map() const { return GetGWorldPixMap(world); }
    uint8_t *At(int x, int y) const {
        return reinterpret_cast<uint8_t *>(GetPixBaseAddr(Map())) + y * GetPixRowBytes(Map()) + 4 * x;
    }
};

// Blit: src over dst at an opacity; only the destination rectangle inside
// the destination picture changes; sizes that differ sample the nearest pixel.
TEST(HostCallbacks, BlitBlendsTheSourceRectangleOverTheDestination) {
    struct Case {
        int sw, sh, dw, dh;
        Rect src, dst;
        int opacity;
    };
    const Case cases[] = {
        {7, 5, 7, 5, {0, 0, 5, 7}, {0, 0, 5, 7}, 255},  // odd sizes, whole picture
        {8, 6, 8, 6, {0, 0, 6, 8}, {0, 0, 6, 8}, 127},  {8, 6, 8, 6, {1, 2, 4, 5}, {2, 4, 5, 7}, 25},  // moved
        {8, 6, 9, 7, {0, 0, 6, 8}, {3, 4, 9, 12}, 200},  // reaching past the frame
        {8, 6, 8, 6, {0, 0, 6, 8}, {2, 2, 2, 5}, 255},   // empty destination
        {8, 6, 8, 6, {0, 0, 6, 8}, {0, 0, 6, 8}, 0},     // nothing
        {4, 4, 8, 8, {0, 0, 4, 4}, {0, 0, 8, 8}, 255},   // scaled up
        {6, 6, 6, 6, {0, 0, 6, 6}, {0, 0, 6, 6}, 300},   // out of range: as 255
    };
    for (const Case &c : cases) {
        Picture src(c.sw, c.sh, 1), dst(c.dw, c.dh, 2), before(c.dw, c.dh, 2);
        ASSERT_EQ(HostBlit(src.Map(), dst.Map(), c.src, &c.dst, int16_t(c.opacity)), kPluginOK);
        int op = std::min(c.opacity, 255);
        int srcW = c.src.right - c.src.left, srcH = c.src.bottom - c.src.top;
        int dstW = c.dst.right - c.dst.left, dstH = c.dst.bottom - c.dst.top;
        for (int y = 0; y < c.dh; ++y)
            for (int x = 0; x < c.dw; ++x) {
                const uint8_t *old = before.At(x, y);
                uint8_t want[4] = {old[0], old[1], old[2], old[3]};
                bool covered = x >= c.dst.left && x < c.dst.right && y >= c.dst.top && y < c.dst.bottom;
                if (covered && dstW > 0 && dstH > 0) {
                    int sx = c.src.left + (x - c.dst.left) * srcW / dstW;
                    int sy = c.src.top + (y - c.dst.top) * srcH / dstH;
                    const uint8_t *s = src.At(sx, sy);
                    for (int k = 0; k < 4; ++k) want[k] = uint8_t((s[k] * op + old[k] * (255 - op) + 127) / 255);
                }
                ASSERT_EQ(0, std::memcmp(dst.At(x, y), want, 4))
                    << "pixel " << x << "," << y << " opacity " << c.opacity << " dst " << c.dst.left << ","
                    << c.dst.top << "," << c.dst.right << "," << c.dst.bottom;
            }
    }
    Picture p(2, 2, 0);
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
    EXPECT_EQ(HostGetFrame(&s, 10, &pic, 5, 3, kDVHighQuality, &volume, &cookie), kPluginCantGetNeededFrame);
    EXPECT_EQ(HostGetFrame(&s, -1, &pic, 5, 3, kDVHighQuality, &volume, &cookie), kPluginCantGetNeededFrame);
    EXPECT_EQ(pic, nullptr);
    EXPECT_EQ(cookie, nullptr);
    EXPECT_EQ(HostGetFrame(&s, 4, &pic, 0, 3, kDVHighQuality, &volume, &cookie), kPluginBadParams);
    // No decoder for other frames: only the current one can be served.
    EXPECT_EQ(HostGetFrame(&s, 3, &pic, 5, 3, kDVHighQuality, &volume, &cookie), kPluginCantGetNeededFrame);

    ASSERT_EQ(HostGetFrame(&s, 4, &pic, 5, 3, kDVHighQuality, &volume, &cookie), kPluginOK);
    ArgbPicture lent = PictureFromGWorld(pic);
    ASSERT_EQ(lent.width, 5);
    ASSERT_EQ(lent.height, 3);
    EXPECT_EQ(0, std::memcmp(lent.pixels.get(), frame.pixels.get(), frame.ByteCount()));
    EXPECT_EQ(HostMixAudio(&s, cookie, 128), kPluginOK);
    EXPECT_TRUE(s.currentMixed);
    EXPECT_DOUBLE_EQ(s.currentGain, 0.5);
    EXPECT_EQ(HostReleaseFrame(&s, cookie), kPluginOK);
    EXPECT_EQ(HostReleaseFrame(&s, cookie), kPluginBadParams) << "a second release is refused";
    EXPECT_EQ(HostMixAudio(&s, cookie, 256), kPluginBadParams);

    // In the button message the first frame is the button's; later ones are
    // the clip slider's, which disposes of them itself after the release.
    // Under the address sanitizer a double free or leak here fails the test.
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

    // A frame the plug-in never gives back is disposed of with the session.
    ASSERT_EQ(HostGetFrame(&s, 4, &pic, 5, 3, kDVHighQuality, nullptr, &cookie), kPluginOK);
}

TEST(HostCallbacks, FilterInfoCarriesTheFadeCountsAndTheTableIsComplete) {
    HostSession s;
    s.fadeIn = 12;
    s.fadeOut = 7;
    HYPluginFilterInfo *info = nullptr;
    ASSERT_EQ(HostGetFilterInfo(&s, &info), kPluginOK);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->fadeInFrames, 12);
    EXPECT_EQ(info->fadeOutFrames, 7);
    EXPECT_EQ(HostReleaseFilterInfo(&s, info), kPluginOK);
    EXPECT_EQ(HostGetFilterInfo(&s, nullptr), kPluginBadParams);

    HYProcs *procs = HostProcs();
    auto **slots = reinterpret_cast<void (**)(void)>(procs);
    for (std::size_t i = 0; i < sizeof(HYProcs) / sizeof(void (*)(void)); ++i) EXPECT_NE(slots[i], nullptr) << i;
    using Untyped = HYPluginResult (*)();
    EXPECT_EQ(reinterpret_cast<Untyped>(procs->GetMovieInfo)(), kPluginUnimplemented);
    void *block = procs->NewPtrClear(64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<uint8_t *>(block)[63], 0);
    procs->DisposePtr(block);
    EXPECT_EQ(procs->NewPtr(-1), nullptr);
    HYPluginParams params;
    InitParams(params, s);
    EXPECT_GE(params.interfaceVersion, 4);
    EXPECT_EQ(params.instance, &s);
    EXPECT_EQ(params.clientData, nullptr);
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
    ASSERT_TRUE(ResolveSize({640, -2}, 1920, 1080, w, h));
    EXPECT_EQ(h, 360);
    ASSERT_TRUE(ResolveSize({-2, 100}, 720, 576, w, h));
    EXPECT_EQ(w, 126);
}

TEST(OptionValues, SetValuesInHyhostsUnitsBecomeThePrefsToolsSyntax) {
    const std::pair<const char *, const char *> rows[] = {
        {"rect=32:16:32:32", "rect=0.25,0.25,0.5,0.75"},  // pixels of a 128x64 frame
        {"rect=0:0:128:64", "rect=0,0,1,1"},
        {"rect=0.1,0.2,0.9,0.8", "rect=0.1,0.2,0.9,0.8"},
        {"color=orange", "color=#FFA500"},
        {"colors.2=0x102030", "colors.2=#102030"},
        {"frameStartColor=1,2,3", "frameStartColor=1,2,3"},
        {"rota=cw90", "rota=270"},
        {"outside=off", "outside=off"},
        {"rect=0:0:129:64", ""},  // past the right edge
        {"rect=-1:0:8:8", ""},
        {"rect=0:0:0:8", ""},
        {"color=nocolour", ""},
        {"rota=ccw45", ""},
        {"rota", ""}};
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
        auto value = [&](int i, int c) -> double {
            if (fmt == AV_SAMPLE_FMT_S16) return reinterpret_cast<int16_t *>(f->data[0])[2 * i + c];
            if (fmt == AV_SAMPLE_FMT_S32) return reinterpret_cast<int32_t *>(f->data[0])[2 * i + c];
            return reinterpret_cast<float *>(f->extended_data[c])[i];
        };
        auto set = [&](int i, int c, double v) {
            if (fmt == AV_SAMPLE_FMT_S16)
                reinterpret_cast<int16_t *>(f->data[0])[2 * i + c] = int16_t(v);
            else if (fmt == AV_SAMPLE_FMT_S32)
                reinterpret_cast<int32_t *>(f->data[0])[2 * i + c] = int32_t(v);
            else
                reinterpret_cast<float *>(f->extended_data[c])[i] = float(v);
        };
        for (int i = 0; i < 10; ++i)
            for (int c = 0; c < 2; ++c) set(i, c, 1000 + 10 * i + c);
        ScaleSamples(*f, 3, 4, 0.0);
        ScaleSamples(*f, 8, 5, 0.5);  // runs past the end: clamped
        ScaleSamples(*f, 0, 2, 1.0);
        for (int i = 0; i < 10; ++i)
            for (int c = 0; c < 2; ++c) {
                double v = 1000 + 10 * i + c;
                double want = i >= 3 && i < 7 ? 0 : i >= 8 ? v * 0.5 : v;
                EXPECT_NEAR(value(i, c), want, 0.5) << av_get_sample_fmt_name(fmt) << " sample " << i;
            }
    }
}

TEST(RenderPieces, QueueHandsItemsOverInOrderAndStopsOnClose) {
    FrameQueue<int> q(2);
    std::vector<int> got;
    std::thread consumer([&] {
        int v = 0;
        while (q.Pop(v)) got.push_back(v);
    });
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(q.Push(i));
    q.Close();
    consumer.join();
    ASSERT_EQ(got.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(got[i], i);
    EXPECT_FALSE(q.Push(1)) << "a closed queue refuses items";

    FrameQueue<int> full(1);
    ASSERT_TRUE(full.Push(1));
    std::thread blocked([&] { EXPECT_FALSE(full.Push(2)); });  // waits for room until aborted
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    full.Abort();
    blocked.join();
    int dropped = 0;
    EXPECT_FALSE(full.Pop(dropped)) << "an abort drops what was queued";
}

TEST(SafeOutputTest, TemporaryFileIsRemovedUnlessCommitted) {
    char pattern[] = "/tmp/hyhost-out-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path dir = pattern;
    fs::path in = dir / "in.mkv", out = dir / "out.mkv";
    std::ofstream(in) << "x";
    std::string error;
    EXPECT_FALSE(CheckOutputPath(in, in, error));
    EXPECT_NE(error.find("input"), std::string::npos);
    EXPECT_FALSE(CheckOutputPath(in, (dir / "." / "in.mkv").string(), error));
    EXPECT_FALSE(CheckOutputPath(in, dir.string(), error));
    EXPECT_FALSE(CheckOutputPath(in, (dir / "no" / "out.mkv").string(), error));
    EXPECT_FALSE(CheckOutputPath(in, "", error));
    EXPECT_TRUE(CheckOutputPath(in, out, error)) << error;
    {
        PendingOutput p(out);
        EXPECT_EQ(fs::path(p.TempPath()).parent_path(), dir) << "same folder, so the rename is atomic";
        std::ofstream(p.TempPath()) << "partial";
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    {
        PendingOutput p(out);
        std::ofstream(p.TempPath()) << "done";
        EXPECT_TRUE(p.Commit(error)) << error;
    }
    EXPECT_TRUE(fs::exists(out));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    fs::remove_all(dir);
}

TEST(PluginLoading, NamesAndPathsResolveOrExplain) {
    std::string bundle, error;
    EXPECT_FALSE(FindPluginBundle("/nonexistent/Thing.plugin", bundle, error));
    EXPECT_NE(error.find("does not exist"), std::string::npos);
    char pattern[] = "/tmp/hyhost-data-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path data = pattern;
    fs::create_directories(data / "hyhost" / "Plug-ins" / "Mine.plugin");
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    EXPECT_TRUE(FindPluginBundle("Mine", bundle, error)) << error;
    EXPECT_EQ(bundle, (data / "hyhost" / "Plug-ins" / "Mine.plugin").string());
    EXPECT_FALSE(FindPluginBundle("Other", bundle, error));
    EXPECT_NE(error.find("not found"), std::string::npos);
    LoadedPlugin p;
    EXPECT_FALSE(LoadPlugin((data / "hyhost" / "Plug-ins" / "Mine.plugin").string(), p, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ResultName(4), "kPluginOutOfMemory (4)");
    EXPECT_EQ(ResultName(7), "kPluginCantGetNeededFrame (7)");
    fs::remove_all(data);
}

}  // namespace
