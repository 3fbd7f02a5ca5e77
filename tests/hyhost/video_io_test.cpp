// Clips written by the encoder side and read back by the decoder side: a
// lossless clip must give back exactly the pictures and samples written.
#include "PluginHost.h"
#include "TestClip.h"
#include "VideoSink.h"
#include "VideoSource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        char pattern[] = "/tmp/hyhost-video-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path); }
};

bool SamePixels(const ArgbPicture &a, const ArgbPicture &b) {
    return a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels.get(), b.pixels.get(), a.ByteCount()) == 0;
}

TEST(VideoIO, LosslessClipReadsBackExactlyInOrderAndAtRandom) {
    TempDir tmp;
    TestClipSettings clipSettings;
    clipSettings.width = 37;  // odd sizes
    clipSettings.height = 21;
    clipSettings.frames = 40;
    clipSettings.lossless = true;
    std::string path = (tmp.path / "clip.mkv").string(), error;
    ASSERT_TRUE(WriteTestClip(path, clipSettings, error)) << error;

    ClipDecoderPtr d = OpenClipDecoder(path, error);
    ASSERT_TRUE(d) << error;
    const ClipInfo &info = GetClipInfo(*d);
    EXPECT_EQ(std::tuple(info.width, info.height, info.frameCount), std::tuple(37, 21, int64_t(40)));
    EXPECT_EQ(av_q2d(info.frameRate), 25.0);
    ASSERT_TRUE(info.hasAudio);
    ArgbPicture got, want = MakePicture(37, 21);
    AVFramePtr frame, audio;
    AVPacketPtr packet;
    ArgbConverter scaler;
    int64_t index = -1, expected = 0;
    for (UnitKind k; (k = ReadNextUnit(*d, frame, index, audio, packet, error)) != UnitKind::End;) {
        ASSERT_NE(k, UnitKind::Error) << error;
        if (k != UnitKind::Video) continue;
        EXPECT_EQ(index, expected++);
        ASSERT_TRUE(FrameToPicture(scaler, *frame, 37, 21, true, got));
        DrawTestFrame(want, index);
        EXPECT_TRUE(SamePixels(got, want)) << "frame " << index;
    }
    EXPECT_EQ(expected, 40);

    // Random access (long GOPs are the passthrough test's): the ends, then outside fails; scaled down.
    ClipDecoderPtr r = OpenClipDecoder(path, error);
    ASSERT_TRUE(r);
    for (int64_t i : {39, 0, 18, 18}) {
        ASSERT_TRUE(FetchClipFrame(*r, i, 37, 21, true, got, error)) << i << ": " << error;
        DrawTestFrame(want, i);
        EXPECT_TRUE(SamePixels(got, want)) << "frame " << i;
    }
    EXPECT_FALSE(FetchClipFrame(*r, 40, 37, 21, true, got, error));
    EXPECT_NE(error.find("outside"), std::string::npos);
    EXPECT_FALSE(FetchClipFrame(*r, -1, 37, 21, true, got, error));
    ASSERT_TRUE(FetchClipFrame(*r, 3, 18, 10, false, got, error)) << "scaled down";
    EXPECT_EQ(got.width, 18);
    EXPECT_EQ(got.height, 10);
}

TEST(VideoIO, UnreadableInputsAreExplained) {
    TempDir tmp;
    std::string error;
    EXPECT_FALSE(OpenClipDecoder((tmp.path / "none.mkv").string(), error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_FALSE(OpenClipDecoder(tmp.path.string(), error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    std::string junk = (tmp.path / "junk.mp4").string();
    FILE *f = std::fopen(junk.c_str(), "wb");
    for (int i = 0; i < 5000; ++i) std::fputc((i * 7919) & 0xFF, f);
    std::fclose(f);
    EXPECT_FALSE(OpenClipDecoder(junk, error));
    EXPECT_FALSE(error.empty());

    // Audio only: not a video.
    TestClipSettings clipSettings;
    clipSettings.width = 16;
    clipSettings.height = 16;
    clipSettings.frames = 2;
    clipSettings.lossless = true;
    std::string clip = (tmp.path / "c.mkv").string();
    ASSERT_TRUE(WriteTestClip(clip, clipSettings, error)) << error;
    std::string wav = (tmp.path / "a.wav").string();
    ASSERT_EQ(std::system(("ffmpeg -v error -y -i " + clip + " -vn " + wav).c_str()), 0);
    EXPECT_FALSE(OpenClipDecoder(wav, error));
    EXPECT_NE(error.find("no video"), std::string::npos) << error;
}

// The frame times read from the packets alone must be the decoder's, or the
// packets must decline and leave the list to the decoder: on every clip the
// list opening gives is the decoded one.
TEST(VideoIO, FrameTimesFromPacketsMatchTheDecodedOnes) {
    TempDir tmp;
    const std::string src = "ffmpeg -v error -y -f lavfi -i testsrc2=size=160x90:rate=25:duration=3 ";
    const std::string gop = (tmp.path / "gop.mp4").string();
    ASSERT_EQ(std::system((src + "-c:v libx264 -bf 3 -g 30 -pix_fmt yuv420p " + gop).c_str()), 0);
    const std::string ts = (tmp.path / "clip.ts").string();
    ASSERT_EQ(std::system((src + "-c:v libx264 -bf 2 -pix_fmt yuv420p " + ts).c_str()), 0);
    struct Row {
        const char *name;
        std::string make;  // command making the clip, empty: made above
        bool fromPackets;  // whether the packets can vouch for the frames
    } rows[] = {
        {"gop.mp4", "", true},  // B-frames: decode order is not presentation order
        {"cut.mp4", "ffmpeg -v error -y -ss 0.5 -i " + gop + " -c copy ", false},  // edit list drops pre-roll
        {"vfr.mkv", src + "-vf \"select='not(between(n,10,19))'\" -vsync vfr -c:v libx264 -bf 2 ", true},
        {"clip.ts", "", true},
        {"mjpeg.avi", src + "-c:v mjpeg ", true},
        {"damaged.ts", "", false},
    };
    // The damaged clip: a stretch of the transport stream overwritten.
    std::filesystem::copy_file(ts, tmp.path / "damaged.ts");
    {
        FILE *f = std::fopen((tmp.path / "damaged.ts").c_str(), "r+b");
        ASSERT_TRUE(f);
        std::fseek(f, long(fs::file_size(ts) / 2), SEEK_SET);
        for (int i = 0; i < 188 * 12; ++i) std::fputc(0x47 ^ (i * 31), f);
        std::fclose(f);
    }
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = (tmp.path / row.name).string();
        if (!row.make.empty()) {
            ASSERT_EQ(std::system((row.make + path).c_str()), 0);
        }
        std::string error;
        ClipDecoderPtr d = OpenClipDecoder(path, error);
        ASSERT_TRUE(d) << error;
        const int stream = GetClipInfo(*d).videoStream;
        std::vector<int64_t> decoded, fromPackets;
        ASSERT_TRUE(FrameTimesByDecoding(path, stream, GetClipInfo(*d).frameRate, decoded, error)) << error;
        EXPECT_GT(decoded.size(), 20u);
        EXPECT_EQ(FrameTimesFromPackets(path, stream, fromPackets), row.fromPackets);
        if (row.fromPackets) {
            EXPECT_EQ(fromPackets, decoded);
        }
        EXPECT_EQ(GetFrameTimes(*d), decoded);
    }
}

}  // namespace
