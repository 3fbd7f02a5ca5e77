// What `hyhost render` keeps of real footage, row by row: clips made with the
// ffmpeg command, rendered through Kelvarin, the output probed with ffprobe
// and decoded with ffmpeg. Each row names what it checks.
#include "CommandTest.h"
#include "VideoSource.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using Result = CommandResult;

class Passthrough : public ::testing::Test {
protected:
    static inline fs::path dir;

    static void SetUpTestSuite() {
        dir = MakeScratchHome("hyhost-pass");
        ASSERT_FALSE(dir.empty());
        std::ofstream(dir / "subs.srt") << "1\n00:00:00,100 --> 00:00:00,900\nHello\n\n";
        std::ofstream(dir / "meta.txt") << ";FFMETADATA1\ntitle=Harbour at dawn\n[CHAPTER]\nTIMEBASE=1/1000\n"
                                           "START=0\nEND=800\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=800\n"
                                           "END=1600\ntitle=Two\n";
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    static Result Run(const std::string &cmd) { return RunCommand(cmd); }
    static Result Ffmpeg(const std::string &args) {
        return Run("cd " + Quote(dir) + " && " + FFMPEG_PATH + " -v error -y -nostdin " + args);
    }
    static json Probe(const fs::path &file) {
        Result r = Run("ffprobe -v error -show_streams -show_format -show_chapters -of json " + Quote(file));
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status == 0 ? json::parse(r.out) : json::object();
    }
    static std::vector<double> FrameTimes(const fs::path &file) {
        std::istringstream in(
            Run("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 " + Quote(file)).out);
        return {std::istream_iterator<double>(in), {}};
    }
    // Hash of every frame of the first video stream, as decoded.
    static std::vector<std::string> FrameHashes(const fs::path &file) {
        std::istringstream in(Ffmpeg("-i " + Quote(file) + " -map 0:v:0 -f framemd5 -").out);
        std::vector<std::string> hashes;
        for (std::string l; std::getline(in, l);)
            if (!l.empty() && l[0] != '#') hashes.push_back(l.substr(l.rfind(',') + 1));
        return hashes;
    }
    // All frames as A,R,G,B bytes, converted by the stream's own colour tags.
    static std::string ArgbFrames(const fs::path &file) {
        Result r = Ffmpeg("-i " + Quote(file) +
                          " -map 0:v:0 -fps_mode passthrough -sws_flags bicubic+accurate_rnd+full_chroma_int -f "
                          "rawvideo -pix_fmt argb -");
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    // The loudest sample of the audio, mono at 8000 Hz, in [from, to) or all of it.
    static int Peak(const fs::path &file, std::size_t from = 0, std::size_t to = SIZE_MAX) {
        const std::string pcm = Ffmpeg("-i " + Quote(file) + " -map 0:a -ac 1 -ar 8000 -f s16le -").out;
        int top = 0;
        for (std::size_t i = from; i < std::min(to, pcm.size() / 2); ++i) {
            int16_t v;
            std::memcpy(&v, pcm.data() + 2 * i, 2);
            top = std::max(top, std::abs(int(v)));
        }
        return top;
    }
};

// Pixel `at`, counted over all the frames, within 3 of each of R, G and B.
::testing::AssertionResult Near(const std::string &frames, std::size_t at, std::vector<int> want) {
    for (std::size_t c = 0; c < 3; ++c)
        if (4 * at + 3 >= frames.size() || std::abs(uint8_t(frames[4 * at + 1 + c]) - want[c]) > 3)
            return ::testing::AssertionFailure() << "pixel " << at << " channel " << c;
    return ::testing::AssertionSuccess();
}

double Number(const json &j, const char *key) {
    return j.contains(key) && j[key].is_string() ? std::stod(j[key].get<std::string>()) : NAN;
}

struct Context {
    fs::path source, output;
    json in, out;  // ffprobe of the source and of the output
    Result render;
};

struct Row {
    const char *what;
    const char *source;  // made once, shared by the rows naming it
    std::string make;    // the ffmpeg command's arguments, run in the folder
    const char *output;
    std::string args;       // hyhost render options
    const char *expect;     // JSON: values in the output's ffprobe, by JSON pointer
    const char *says = "";  // in what the render said
    std::function<void(Context &)> check = nullptr;
};

const char *const kTagged =
    "-itsoffset 0.54 -f lavfi -i testsrc2=size=160x96:rate=25:duration=1.6 "
    "-itsoffset 1.018 -f lavfi -i sine=sample_rate=48000:duration=1.2 -i subs.srt -i meta.txt "
    "-map 0:v -map 1:a -map 2:s -map_metadata 3 -map_chapters 3 "
    "-vf scale=out_color_matrix=bt709:out_range=tv,setsar=40/33,format=yuv420p10le "
    "-c:v libx264 -preset ultrafast -flags +ildct+ilme -field_order tt "
    "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv -c:a aac -c:s srt tagged.mkv";

TEST_F(Passthrough, RenderKeepsWhatThePlugInDoesNotChange) {
    ASSERT_EQ(Run(std::string(PREFS_PATH) + " set rect=0.25,0.25,0.75,0.75 rota=180 color=#1E64C8 outside=on clip=off")
                  .status,
              0);
    const std::string probe = "--plugin " + Quote(PROBE_BUNDLE);
    const std::vector<Row> rows = {
        {"10-bit BT.709 interlaced anamorphic clip with title, chapters, subtitles and late audio", "tagged.mkv",
         kTagged, "tagged-out.mkv", "--from 10f --frames 10",
         R"({"/streams/0/codec_name": "h264", "/streams/0/pix_fmt": "yuv420p10le", "/streams/0/color_range": "tv",
             "/streams/0/color_space": "bt709", "/streams/0/color_primaries": "bt709", "/streams/0/field_order": "tt",
             "/streams/0/color_transfer": "bt709", "/streams/0/sample_aspect_ratio": "40:33",
             "/streams/2/codec_type": "subtitle", "/format/tags/title": "Harbour at dawn"})",
         "",
         [](Context &c) {
             EXPECT_EQ(c.out["chapters"].size(), 2u);
             // Video starts about 0.54 s in, audio about 0.48 s after it.
             const double v0 = Number(c.in["streams"][0], "start_time"), a0 = Number(c.in["streams"][1], "start_time");
             const double v1 = Number(c.out["streams"][0], "start_time"),
                          a1 = Number(c.out["streams"][1], "start_time");
             EXPECT_TRUE(v0 > 0.5 && a0 - v0 > 0.4) << v0 << ", " << a0;
             EXPECT_NEAR(v1, v0, 0.03);
             EXPECT_NEAR(a1 - v1, a0 - v0, 0.03);
         }},
        {"--lossless: FFV1 in the source's format, untouched frames equal the source's decode", "tagged.mkv", kTagged,
         "lossless.mkv", "--from 5f --frames 5 --lossless",
         R"({"/streams/0/codec_name": "ffv1", "/streams/0/pix_fmt": "yuv420p10le"})", "",
         [](Context &c) {
             std::vector<std::string> a = FrameHashes(c.source), b = FrameHashes(c.output);
             ASSERT_EQ(a.size(), 40u);
             ASSERT_EQ(b.size(), a.size());
             for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i] == b[i], i < 5 || i >= 10) << "frame " << i;
         }},
        {"BT.709 75% green and the sRGB fill colour decode to their RGB values", "green.mp4",
         "-f lavfi -i color=c=0x00BF00:size=160x90:rate=25:duration=1,format=rgb24 "
         "-vf scale=out_color_matrix=bt709:out_range=tv,format=yuv420p -colorspace bt709 -color_primaries bt709 "
         "-color_trc bt709 -color_range tv -c:v libx264 -preset ultrafast -qp 0 green.mp4",
         "green-out.mp4", "--from 10f --frames 10", R"({"/streams/0/color_space": "bt709"})", "",
         [](Context &c) {
             std::string frames = ArgbFrames(c.output);
             EXPECT_TRUE(Near(frames, 15 * 160 * 90 + 45 * 160 + 80, {0, 191, 0})) << "inside, turned";
             EXPECT_TRUE(Near(frames, 15 * 160 * 90 + 8 * 160 + 8, {0x1E, 0x64, 0xC8})) << "the fill";
             EXPECT_TRUE(Near(frames, 2 * 160 * 90 + 8 * 160 + 8, {0, 191, 0})) << "untouched";
         }},
        {"variable frame rate: the source's frame times; placeholder N is the render's frame N", "vfr.mkv",
         "-f lavfi -i testsrc2=size=64x48:rate=20:duration=4 -vf \"setpts='if(lt(N,40),N/30,N/15-40/30)/TB'\" "
         "-fps_mode passthrough -c:v ffv1 -pix_fmt bgr0 vfr.mkv",
         "vfr-out.mkv", "--lossless", "{}", "",
         [](Context &c) {
             std::vector<double> a = FrameTimes(c.source), b = FrameTimes(c.output);
             ASSERT_EQ(a.size(), 80u);
             ASSERT_EQ(b.size(), a.size());
             for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(b[i], a[i], 0.0011) << "frame " << i;
             std::string rendered = ArgbFrames(c.output);
             for (int n : {10, 41, 58, 79}) {
                 Result r = Run(std::string(HYHOST_PATH) + " placeholder " + Quote(c.source) + " -o " +
                                Quote(dir / "thumb.png") + " --at " + std::to_string(n) + "f");
                 ASSERT_EQ(r.status, 0) << r.err;
                 EXPECT_TRUE(ArgbFrames(dir / "thumb.png") == rendered.substr(64 * 48 * 4 * n, 64 * 48 * 4)) << n;
             }
         }},
        {"an MP4 cut with an edit list renders every shown frame", "cut.mp4",
         "-f lavfi -i testsrc2=size=160x90:rate=25:duration=3 -c:v libx264 -preset ultrafast -g 25 base.mp4 && "
         "ffmpeg -v error -nostdin -ss 1.3 -i base.mp4 -c copy cut.mp4",
         "cut-out.mp4", "", "{}", "",
         [](Context &c) {
             const std::size_t shown = FrameHashes(c.source).size();
             EXPECT_TRUE(shown > 30 && FrameHashes(c.output).size() == shown) << shown;
         }},
        {"long-GOP MPEG-2: frames fetched in random order equal the sequential decode", "long.ts",
         "-f lavfi -i testsrc2=size=160x90:rate=25:duration=2 -c:v mpeg2video -g 15 -bf 2 -q:v 4 long.ts",
         "long-out.mp4", "--from 45f", "{}", "",
         [](Context &c) {
             std::string error;
             ClipDecoderPtr seq = OpenClipDecoder(c.source.string(), error), random = OpenClipDecoder(c.source, error);
             ASSERT_TRUE(seq && random) << error;
             std::vector<std::string> order;
             AVFramePtr frame, audio;
             AVPacketPtr packet;
             int64_t index = 0;
             ArgbConverter scaler;
             ArgbPicture picture;
             auto bytes = [&] {
                 return std::string(reinterpret_cast<char *>(picture.pixels.get()), picture.ByteCount());
             };
             for (UnitKind k; (k = ReadNextUnit(*seq, frame, index, audio, packet, error)) != UnitKind::End;) {
                 ASSERT_NE(k, UnitKind::Error) << error;
                 if (k == UnitKind::Video && FrameToPicture(scaler, *frame, 160, 90, true, picture))
                     order.push_back(bytes());
             }
             ASSERT_EQ(order.size(), 50u);
             std::vector<int> indices{49, 48};  // the last ones first, then all in a shuffled order
             for (int i = 0; i < 50; ++i) indices.push_back(i);
             std::shuffle(indices.begin() + 2, indices.end(), std::mt19937(7));
             for (int i : indices) {
                 ASSERT_TRUE(FetchClipFrame(*random, i, 160, 90, true, picture, error)) << i << ": " << error;
                 EXPECT_TRUE(bytes() == order[i]) << "frame " << i;
             }
             EXPECT_EQ(FrameHashes(c.output).size(), 50u);
         }},
        {"odd frame sizes render by default, in 4:4:4, saying so", "odd.mkv",
         "-f lavfi -i testsrc2=size=66x50:rate=25:duration=0.4 -vf scale=65:49,format=yuv420p -c:v ffv1 odd.mkv",
         "odd-out.mp4", "", R"({"/streams/0/pix_fmt": "yuv444p", "/streams/0/width": 65})", "odd"},
        {"rotation is kept", "rotated.mp4",
         "-f lavfi -i testsrc2=size=160x90:rate=25:duration=0.6 -f lavfi -i sine=duration=0.6 -c:v libx264 "
         "-preset ultrafast -c:a aac plain.mp4 && "
         "ffmpeg -v error -nostdin -i plain.mp4 -c copy -metadata:s:v:0 rotate=90 rotated.mp4",
         "rotated-out.mp4", "", R"({"/streams/0/side_data_list/0/rotation": 90})"},
        {".ts takes H.264 and the source's AAC", "rotated.mp4", "", "out.ts", "",
         R"({"/streams/0/codec_name": "h264", "/streams/1/codec_name": "aac"})"},
        {"compressed audio is copied, unless the plug-in changes its level: then it is levelled and encoded",
         "rotated.mp4", "", "levelled.mp4", probe + " --from 3f --frames 9", R"({"/streams/1/codec_name": "aac"})",
         "again",
         [](Context &c) {
             // The loudest sample in the middle of each frame's 40 ms: frame 3 at
             // level 256, frame 4 not passed, frame 5 at 128.
             auto peak = [&](int frame) { return Peak(c.output, frame * 320 + 100, frame * 320 + 220); };
             EXPECT_GT(peak(3), 2000);
             EXPECT_LT(peak(4), peak(3) / 10);
             EXPECT_NEAR(peak(5), peak(3) / 2, peak(3) / 8);
         }},
        {"the encoder as asked: pixel format, audio codec and rate; the copied audio stays copied", "rotated.mp4", "",
         "asked.mkv", probe + " --crf 30 --pix-fmt yuv444p --audio-codec copy",
         R"({"/streams/0/pix_fmt": "yuv444p", "/streams/1/codec_name": "aac"})", "copied as asked",
         [](Context &c) { EXPECT_EQ(c.render.err.find("again"), std::string::npos) << c.render.err; }},
        {"a preview keeps the audio the plug-in passes none of", "rotated.mp4", "", "preview.mp4",
         probe + " --preview --audio-codec aac --audio-bitrate 96k", "{}", "",
         [](Context &c) {
             EXPECT_NEAR(Number(c.out["streams"][1], "bit_rate"), 96000, 20000);
             EXPECT_GT(Peak(c.source), 2000);
             EXPECT_GT(Peak(c.output), Peak(c.source) / 2) << "not silenced";
         }},
        {".webm gets VP9 and Opus; the rotation is named as not kept", "rotated.mp4", "", "out.webm", "",
         R"({"/streams/0/codec_name": "vp9", "/streams/1/codec_name": "opus"})", "rotation"},
        {"of two video streams the default one is rendered, and named; the other is kept as it was", "two.mkv",
         "-f lavfi -i testsrc2=size=160x90:rate=25:duration=0.4 -f lavfi -i "
         "testsrc2=size=64x48:rate=25:duration=0.4 "
         "-map 0 -map 1 -c:v ffv1 -disposition:v:0 0 -disposition:v:1 default two.mkv",
         "two-out.mkv", "", R"({"/streams/0/width": 64, "/streams/1/width": 160})", "video stream 1"},
        {"--stream chooses another", "two.mkv", "", "two-chosen.mkv", "--stream 0", R"({"/streams/0/width": 160})"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Context c{dir / row.source, dir / row.output, {}, {}, {}};
        if (!fs::exists(c.source)) {
            Result made = Ffmpeg(row.make);
            ASSERT_EQ(made.status, 0) << made.err;
        }
        c.render = Run(std::string(HYHOST_PATH) + " render " + Quote(c.source) + " -o " + Quote(c.output) + " " +
                       row.args + " --quiet");
        ASSERT_EQ(c.render.status, 0) << c.render.err;
        c.in = Probe(c.source);
        c.out = Probe(c.output);
        const json expect = json::parse(row.expect);
        for (const auto &[pointer, want] : expect.items())
            EXPECT_EQ(c.out.value(json::json_pointer(pointer), json()), want) << pointer;
        EXPECT_NE(c.render.err.find(row.says), std::string::npos) << c.render.err;
        if (row.check) row.check(c);
    }
}

}  // namespace
