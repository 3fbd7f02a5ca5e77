// What `hyhost render` keeps of real footage, row by row: clips made with the
// ffmpeg command, rendered through Kelvarin, the output probed with ffprobe
// and decoded with ffmpeg. Each row names what it checks.
#include "CommandTest.h"
#include "VideoSource.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using Result = CommandResult;

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) lines.push_back(l);
    return lines;
}

struct Rgb {
    int r, g, b;
};

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
        return Run(std::string(FFMPEG_PATH) + " -v error -y -nostdin " + args);
    }
    static json Probe(const fs::path &file, const std::string &extra = "") {
        Result r =
            Run("ffprobe -v error " + extra + " -show_streams -show_format -show_chapters -of json " + Quote(file));
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status == 0 ? json::parse(r.out) : json::object();
    }
    static std::vector<double> FrameTimes(const fs::path &file) {
        Result r = Run("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 " + Quote(file));
        std::vector<double> t;
        for (const std::string &l : Lines(r.out)) t.push_back(std::stod(l));
        return t;
    }
    // Hash of every frame of the first video stream, as decoded.
    static std::vector<std::string> FrameHashes(const fs::path &file) {
        Result r = Ffmpeg("-i " + Quote(file) + " -map 0:v:0 -f framemd5 -");
        std::vector<std::string> hashes;
        for (const std::string &l : Lines(r.out))
            if (l[0] != '#') hashes.push_back(l.substr(l.rfind(',') + 1));
        return hashes;
    }
    // All frames as A,R,G,B bytes, converted by the stream's own colour tags.
    static std::string ArgbFrames(const fs::path &file) {
        fs::path raw = dir / "frames.raw";
        Result r = Ffmpeg("-i " + Quote(file) +
                          " -map 0:v:0 -fps_mode passthrough -sws_flags bicubic+accurate_rnd+full_chroma_int -f "
                          "rawvideo -pix_fmt argb " +
                          Quote(raw));
        EXPECT_EQ(r.status, 0) << r.err;
        std::string bytes = Slurp(raw);
        fs::remove(raw);
        return bytes;
    }
    static Rgb PixelAt(const std::string &frames, int w, int h, int frame, int x, int y) {
        std::size_t o = (std::size_t(frame) * w * h + std::size_t(y) * w + x) * 4;
        if (o + 3 >= frames.size()) return {-1, -1, -1};
        return {uint8_t(frames[o + 1]), uint8_t(frames[o + 2]), uint8_t(frames[o + 3])};
    }
};

::testing::AssertionResult Near(Rgb got, Rgb want, int tolerance) {
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << "," << got.g << "," << got.b << "), want (" << want.r
                                         << "," << want.g << "," << want.b << ")";
}

double Number(const json &j, const char *key) {
    return j.contains(key) && j[key].is_string() ? std::stod(j[key].get<std::string>()) : NAN;
}

// Copies a clip, its video stream marked to be shown turned by `degrees`
// (the ffmpeg command of this FFmpeg version has no option for it).
bool CopyTurned(const fs::path &from, const fs::path &to, double degrees) {
    AVFormatContext *in = nullptr, *out = nullptr;
    if (avformat_open_input(&in, from.c_str(), nullptr, nullptr) < 0) return false;
    bool ok = avformat_find_stream_info(in, nullptr) >= 0 &&
              avformat_alloc_output_context2(&out, nullptr, nullptr, to.c_str()) >= 0;
    for (unsigned i = 0; ok && i < in->nb_streams; ++i) {
        AVStream *s = avformat_new_stream(out, nullptr);
        ok = s && avcodec_parameters_copy(s->codecpar, in->streams[i]->codecpar) >= 0;
        if (!ok) break;
        s->codecpar->codec_tag = 0;
        s->time_base = in->streams[i]->time_base;
        if (in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            auto *matrix =
                reinterpret_cast<int32_t *>(av_stream_new_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
            ok = matrix != nullptr;
            if (ok) av_display_rotation_set(matrix, degrees);
        }
    }
    ok = ok && avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
    AVPacket *p = av_packet_alloc();
    while (ok && av_read_frame(in, p) >= 0) {
        av_packet_rescale_ts(p, in->streams[p->stream_index]->time_base, out->streams[p->stream_index]->time_base);
        ok = av_interleaved_write_frame(out, p) >= 0;
    }
    av_packet_free(&p);
    ok = ok && av_write_trailer(out) >= 0;
    if (out && out->pb) avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
    return ok;
}

struct Context {
    fs::path source, output;
    json in, out;  // ffprobe of the source and of the output
    Result render;
};

struct Row {
    const char *what;
    const char *source;             // made once, shared by the rows naming it
    std::vector<std::string> make;  // ffmpeg arguments; SRC is the file, DIR the folder
    const char *output;
    std::string args;  // hyhost render options
    std::function<void(Context &)> check;
    double turn = 0;  // made with the video marked turned by this many degrees
};

std::string Expand(std::string text, const fs::path &source) {
    for (auto [key, value] :
         {std::pair<std::string, std::string>{"SRC", Quote(source)}, {"DIR", Quote(source.parent_path())}})
        for (std::size_t p; (p = text.find(key)) != std::string::npos;) text.replace(p, key.size(), value);
    return text;
}

const char *const kTagged =
    "-itsoffset 0.54 -f lavfi -i testsrc2=size=160x96:rate=25:duration=1.6 "
    "-itsoffset 1.018 -f lavfi -i sine=sample_rate=48000:duration=1.2 -i DIR/subs.srt -i DIR/meta.txt "
    "-map 0:v -map 1:a -map 2:s -map_metadata 3 -map_chapters 3 "
    "-vf scale=out_color_matrix=bt709:out_range=tv,setsar=40/33,format=yuv420p10le "
    "-c:v libx264 -preset ultrafast -flags +ildct+ilme -field_order tt "
    "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv -c:a aac -c:s srt SRC";

TEST_F(Passthrough, RenderKeepsWhatThePlugInDoesNotChange) {
    ASSERT_EQ(Run(std::string(PREFS_PATH) + " set rect=0.25,0.25,0.75,0.75 rota=180 color=#1E64C8 outside=on clip=off")
                  .status,
              0);
    const std::vector<Row> rows = {
        {"10-bit BT.709 interlaced anamorphic clip with title, chapters, subtitles and late audio",
         "tagged.mkv",
         {kTagged},
         "tagged-out.mkv",
         "--from 10f --frames 10",
         [](Context &c) {
             const json &v = c.out["streams"][0];
             EXPECT_EQ(v["codec_name"], "h264");
             EXPECT_EQ(v["pix_fmt"], "yuv420p10le");
             for (const char *tag : {"color_space", "color_primaries", "color_transfer"}) EXPECT_EQ(v[tag], "bt709");
             EXPECT_EQ(v["color_range"], "tv");
             EXPECT_EQ(v["sample_aspect_ratio"], "40:33");
             EXPECT_EQ(v["field_order"], "tt");
             EXPECT_EQ(c.out["format"]["tags"]["title"], "Harbour at dawn");
             EXPECT_EQ(c.out["chapters"].size(), 2u);
             std::vector<std::string> kinds;
             for (const json &s : c.out["streams"]) kinds.push_back(s["codec_type"]);
             EXPECT_EQ(kinds, (std::vector<std::string>{"video", "audio", "subtitle"}));
             // Video starts about 0.54 s in, audio about 0.48 s after it.
             double video = Number(v, "start_time"), audio = Number(c.out["streams"][1], "start_time");
             double sourceVideo = Number(c.in["streams"][0], "start_time");
             double sourceAudio = Number(c.in["streams"][1], "start_time");
             EXPECT_GT(sourceVideo, 0.5);
             EXPECT_GT(sourceAudio - sourceVideo, 0.4);
             EXPECT_NEAR(video, sourceVideo, 0.03);
             EXPECT_NEAR(audio - video, sourceAudio - sourceVideo, 0.03);
             EXPECT_EQ(c.out["streams"][1]["codec_name"], "aac");
         }},
        {"--lossless: FFV1 in the source's format, untouched frames equal the source's decode",
         "tagged.mkv",
         {kTagged},
         "lossless.mkv",
         "--from 5f --frames 5 --lossless",
         [](Context &c) {
             EXPECT_EQ(c.out["streams"][0]["codec_name"], "ffv1");
             EXPECT_EQ(c.out["streams"][0]["pix_fmt"], "yuv420p10le");
             std::vector<std::string> a = FrameHashes(c.source), b = FrameHashes(c.output);
             ASSERT_EQ(a.size(), b.size());
             ASSERT_EQ(a.size(), 40u);
             for (std::size_t i = 0; i < a.size(); ++i) {
                 if (i < 5 || i >= 10) {
                     EXPECT_EQ(a[i], b[i]) << "frame " << i;
                 } else {
                     EXPECT_NE(a[i], b[i]) << "frame " << i << " went through the effect";
                 }
             }
         }},
        {"BT.709 75% green and the sRGB fill colour decode to their RGB values",
         "green.mp4",
         {"-f lavfi -i color=c=0x00BF00:size=160x90:rate=25:duration=1,format=rgb24 "
          "-vf scale=out_color_matrix=bt709:out_range=tv,format=yuv420p -colorspace bt709 -color_primaries bt709 "
          "-color_trc bt709 -color_range tv -c:v libx264 -preset ultrafast -qp 0 SRC"},
         "green-out.mp4",
         "--from 10f --frames 10",
         [](Context &c) {
             std::string frames = ArgbFrames(c.output);
             EXPECT_TRUE(Near(PixelAt(frames, 160, 90, 15, 80, 45), {0, 191, 0}, 3)) << "inside, turned";
             EXPECT_TRUE(Near(PixelAt(frames, 160, 90, 15, 8, 8), {0x1E, 0x64, 0xC8}, 3)) << "the fill";
             EXPECT_TRUE(Near(PixelAt(frames, 160, 90, 2, 8, 8), {0, 191, 0}, 3)) << "untouched";
             EXPECT_EQ(c.out["streams"][0]["color_space"], "bt709");
         }},
        {"variable frame rate: the source's frame times; placeholder N is the render's frame N",
         "vfr.mkv",
         {"-f lavfi -i testsrc2=size=64x48:rate=20:duration=4 -vf \"setpts='if(lt(N,40),N/30,N/15-40/30)/TB'\" "
          "-fps_mode passthrough -c:v ffv1 -pix_fmt bgr0 SRC"},
         "vfr-out.mkv",
         "--lossless",
         [](Context &c) {
             std::vector<double> a = FrameTimes(c.source), b = FrameTimes(c.output);
             ASSERT_EQ(a.size(), 80u);
             ASSERT_EQ(b.size(), a.size());
             for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(b[i], a[i], 0.0011) << "frame " << i;
             std::string rendered = ArgbFrames(c.output);
             const std::size_t size = 64 * 48 * 4;
             for (int n : {10, 41, 58, 79}) {
                 fs::path png = dir / "thumb.png";
                 Result r = Run(std::string(HYHOST_PATH) + " placeholder " + Quote(c.source) + " -o " + Quote(png) +
                                " --at " + std::to_string(n) + "f");
                 ASSERT_EQ(r.status, 0) << r.err;
                 EXPECT_TRUE(ArgbFrames(png) == rendered.substr(size * n, size)) << "frame " << n;
             }
         }},
        {"an MP4 cut with an edit list renders every shown frame",
         "cut.mp4",
         {"-f lavfi -i testsrc2=size=160x90:rate=25:duration=3 -c:v libx264 -preset ultrafast -g 25 DIR/base.mp4",
          "-ss 1.3 -i DIR/base.mp4 -c copy SRC"},
         "cut-out.mp4",
         "",
         [](Context &c) {
             std::size_t shown = FrameHashes(c.source).size();
             EXPECT_GT(shown, 30u);
             EXPECT_EQ(FrameHashes(c.output).size(), shown);
         }},
        {"long-GOP MPEG-2: every frame fetched in random order equals the sequential decode",
         "long.ts",
         {"-f lavfi -i testsrc2=size=160x90:rate=25:duration=2 -c:v mpeg2video -g 15 -bf 2 -q:v 4 SRC"},
         "long-out.mp4",
         "--from 45f",
         [](Context &c) {
             std::string error;
             ClipDecoderPtr seq = OpenClipDecoder(c.source.string(), error);
             ASSERT_TRUE(seq) << error;
             ASSERT_EQ(GetClipInfo(*seq).frameCount, 50);
             std::vector<std::string> order;
             AVFramePtr frame, audio;
             AVPacketPtr packet;
             int64_t index = 0;
             SwsPtr scaler;
             ArgbPicture picture;
             for (UnitKind k; (k = ReadNextUnit(*seq, frame, index, audio, packet, error)) != UnitKind::End;) {
                 ASSERT_NE(k, UnitKind::Error) << error;
                 if (k != UnitKind::Video) continue;
                 ASSERT_TRUE(FrameToPicture(scaler, *frame, 160, 90, true, picture));
                 order.emplace_back(reinterpret_cast<char *>(picture.pixels.get()), picture.ByteCount());
             }
             ASSERT_EQ(order.size(), 50u);
             ClipDecoderPtr random = OpenClipDecoder(c.source.string(), error);
             ASSERT_TRUE(random) << error;
             std::vector<int> indices(50);
             for (int i = 0; i < 50; ++i) indices[i] = i;
             std::shuffle(indices.begin(), indices.end(), std::mt19937(7));
             indices.insert(indices.begin(), {49, 48});
             for (int i : indices) {
                 ASSERT_TRUE(FetchClipFrame(*random, i, 160, 90, true, picture, error)) << i << ": " << error;
                 EXPECT_TRUE(std::string(reinterpret_cast<char *>(picture.pixels.get()), picture.ByteCount()) ==
                             order[i])
                     << "frame " << i;
             }
             EXPECT_EQ(FrameHashes(c.output).size(), 50u);
         }},
        {"odd frame sizes render by default, in 4:4:4, saying so",
         "odd.mkv",
         {"-f lavfi -i testsrc2=size=66x50:rate=25:duration=0.4 -vf scale=65:49,format=yuv420p -c:v ffv1 SRC"},
         "odd-out.mp4",
         "",
         [](Context &c) {
             EXPECT_EQ(c.out["streams"][0]["pix_fmt"], "yuv444p");
             EXPECT_EQ(c.out["streams"][0]["width"], 65);
             EXPECT_NE(c.render.err.find("odd"), std::string::npos) << c.render.err;
         }},
        {"rotation is kept",
         "rotated.mp4",
         {"-f lavfi -i testsrc2=size=160x90:rate=25:duration=0.6 -f lavfi -i sine=duration=0.6 -c:v libx264 "
          "-preset ultrafast -c:a aac DIR/plain.mp4"},
         "rotated-out.mp4",
         "",
         [](Context &c) {
             const json &v = c.out["streams"][0];
             ASSERT_TRUE(v.contains("side_data_list")) << v.dump();
             EXPECT_EQ(std::abs(v["side_data_list"][0]["rotation"].get<int>()), 90);
         },
         90},
        {".ts takes H.264 and the source's AAC",
         "rotated.mp4",
         {},
         "out.ts",
         "",
         [](Context &c) {
             EXPECT_EQ(c.out["streams"][0]["codec_name"], "h264");
             EXPECT_EQ(c.out["streams"][1]["codec_name"], "aac");
         }},
        {"compressed audio is copied, unless the plug-in changes its level: then it is levelled and encoded",
         "rotated.mp4",
         {},
         "levelled.mp4",
         "--plugin " + Quote(PROBE_BUNDLE) + " --from 3f --frames 9",
         [](Context &c) {
             EXPECT_NE(c.render.err.find("again"), std::string::npos) << c.render.err;
             EXPECT_EQ(c.out["streams"][1]["codec_name"], "aac");
             Result r = Ffmpeg("-i " + Quote(c.output) + " -map 0:a -ac 1 -ar 8000 -f s16le -");
             // The loudest sample in the middle of each frame's 40 ms: frame 3 at
             // level 256, frame 4 not passed, frame 5 at 128.
             auto peak = [&](int frame) {
                 int top = 0;
                 for (int i = frame * 320 + 100; i < frame * 320 + 220; ++i)
                     top = std::max(top, std::abs(int(int16_t(uint16_t(uint8_t(r.out[2 * i])) |
                                                              uint16_t(uint8_t(r.out[2 * i + 1])) << 8))));
                 return top;
             };
             ASSERT_GT(r.out.size(), 2u * 320 * 8);
             EXPECT_GT(peak(3), 2000);
             EXPECT_LT(peak(4), peak(3) / 10);
             EXPECT_NEAR(peak(5), peak(3) / 2, peak(3) / 8);
         }},
        {"the encoder as asked: pixel format, audio codec and rate; the copied audio stays copied",
         "rotated.mp4",
         {},
         "asked.mkv",
         "--plugin " + Quote(PROBE_BUNDLE) + " --crf 30 --pix-fmt yuv444p --audio-codec copy",
         [](Context &c) {
             EXPECT_EQ(c.out["streams"][0]["pix_fmt"], "yuv444p");
             EXPECT_EQ(c.out["streams"][1]["codec_name"], "aac");
             EXPECT_EQ(c.render.err.find("again"), std::string::npos) << c.render.err;
             EXPECT_NE(c.render.err.find("copied as asked"), std::string::npos) << c.render.err;
         }},
        {"a preview keeps the audio the plug-in passes none of",
         "rotated.mp4",
         {},
         "preview.mp4",
         "--plugin " + Quote(PROBE_BUNDLE) + " --preview --audio-codec aac --audio-bitrate 96k",
         [](Context &c) {
             EXPECT_NEAR(Number(c.out["streams"][1], "bit_rate"), 96000, 20000);
             Result in = Ffmpeg("-i " + Quote(c.source) + " -map 0:a -ac 1 -ar 8000 -f s16le -");
             Result out = Ffmpeg("-i " + Quote(c.output) + " -map 0:a -ac 1 -ar 8000 -f s16le -");
             auto peak = [](const std::string &pcm) {
                 int top = 0;
                 for (std::size_t i = 0; i + 1 < pcm.size(); i += 2)
                     top = std::max(
                         top, std::abs(int(int16_t(uint16_t(uint8_t(pcm[i])) | uint16_t(uint8_t(pcm[i + 1])) << 8))));
                 return top;
             };
             EXPECT_GT(peak(in.out), 2000);
             EXPECT_GT(peak(out.out), peak(in.out) / 2) << "not silenced";
         }},
        {".webm gets VP9 and Opus",
         "rotated.mp4",
         {},
         "out.webm",
         "",
         [](Context &c) {
             EXPECT_EQ(c.out["streams"][0]["codec_name"], "vp9");
             EXPECT_EQ(c.out["streams"][1]["codec_name"], "opus");
             EXPECT_NE(c.render.err.find("rotation"), std::string::npos) << "named as not kept: " << c.render.err;
         }},
        {"of two video streams the default one is rendered, and named",
         "two.mkv",
         {"-f lavfi -i testsrc2=size=160x90:rate=25:duration=0.4 -f lavfi -i testsrc2=size=64x48:rate=25:duration=0.4 "
          "-map 0 -map 1 -c:v ffv1 -disposition:v:0 0 -disposition:v:1 default SRC"},
         "two-out.mkv",
         "",
         [](Context &c) {
             EXPECT_EQ(c.out["streams"][0]["width"], 64);
             EXPECT_EQ(c.out["streams"][1]["width"], 160) << "the other stream is kept as it was";
             EXPECT_NE(c.render.err.find("video stream 1"), std::string::npos) << c.render.err;
         }},
        {"--stream chooses another",
         "two.mkv",
         {},
         "two-chosen.mkv",
         "--stream 0",
         [](Context &c) { EXPECT_EQ(c.out["streams"][0]["width"], 160); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Context c;
        c.source = dir / row.source;
        c.output = dir / row.output;
        if (!fs::exists(c.source)) {
            for (const std::string &args : row.make) {
                Result made = Ffmpeg(Expand(args, c.source));
                ASSERT_EQ(made.status, 0) << made.err;
            }
            if (row.turn != 0) {
                ASSERT_TRUE(CopyTurned(dir / "plain.mp4", c.source, row.turn));
            }
        }
        c.render = Run(std::string(HYHOST_PATH) + " render " + Quote(c.source) + " -o " + Quote(c.output) + " " +
                       row.args + " --quiet");
        ASSERT_EQ(c.render.status, 0) << c.render.err;
        c.in = Probe(c.source);
        c.out = Probe(c.output);
        row.check(c);
    }
}

}  // namespace
