// End-to-end runs of hyhost and kelvarin-prefs on small clips made with the
// ffmpeg command, the results decoded by the ffmpeg command too.
#include "CommandTest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Result = CommandResult;

constexpr int kW = 128, kH = 64, kFrames = 50;
constexpr std::size_t kFrameBytes = std::size_t(kW) * kH * 4;
const char *const kArgb = "-f rawvideo -pix_fmt argb", *const kPcm = "-vn -f s16le";

class EndToEnd : public ScratchHomeTest {
protected:
    Result Run(const std::string &cmd) { return RunCommand(cmd); }
    Result Host(const std::string &args) { return Run(std::string(HYHOST_PATH) + " " + args); }
    Result Prefs(const std::string &args) { return Run(std::string(PREFS_PATH) + " " + args); }

    // A lossless clip: FFV1 in RGB and 16-bit PCM stereo, so decoded frames are exact.
    fs::path MakeClip(int frames) {
        fs::path p = dir / "source.mkv";
        EXPECT_EQ(Run(std::string(FFMPEG_PATH) + " -v error -f lavfi -i testsrc2=size=128x64:rate=25 -f lavfi -i " +
                      "sine=frequency=440:sample_rate=48000 -t " + std::to_string(frames / 25.0) +
                      " -c:v ffv1 -pix_fmt bgr0 -c:a pcm_s16le -ac 2 " + Quote(p))
                      .status,
                  0);
        return p;
    }
    // The clip decoded by the ffmpeg command: kArgb for all frames, kPcm for the audio.
    std::string Decoded(const fs::path &clip, const char *as) {
        Result r = Run(std::string(FFMPEG_PATH) + " -v error -i " + Quote(clip) + " " + as + " -");
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
};

std::string FrameAt(const std::string &all, int i) { return all.substr(kFrameBytes * std::size_t(i), kFrameBytes); }
std::string Pixel(const std::string &all, int i, int x, int y) {
    return all.substr(kFrameBytes * std::size_t(i) + (std::size_t(y) * kW + x) * 4, 4);
}
int Sample(const std::string &pcm, std::size_t byte) {
    int16_t v;
    std::memcpy(&v, pcm.data() + byte, 2);
    return v;
}

// Per-job settings: three renders at once, each with its own, and none reads
// or changes the remembered settings.
TEST_F(EndToEnd, RendersAtOnceKeepToTheirOwnSettings) {
    fs::path src = MakeClip(kFrames);
    ASSERT_EQ(Prefs("set rota=270 color=#102030").status, 0);
    const std::string own = Slurp(dir / "config" / "qzvel-Prefs");
    const std::string half = " --set rect=0.25,0.25,0.5,0.75 --set rota=cw180 --set color=orange --set outside=on" +
                             std::string(" --from 10f --frames 30");
    const std::pair<const char *, std::string> jobs[] = {
        {"quarter.mkv", " --set rect=32:16:32:32 --set rota=ccw90 --set outside=off --set clip=on"},
        {"half.mkv", half},
        {"faded.mkv", half + " --fade-in 10 --fade-out 6"}};
    std::string all;
    for (const auto &[out, sets] : jobs)
        all += "(" + std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " + Quote(dir / out) +
               " --lossless --quiet" + sets + " 2>&1 || echo " + out + " failed) & ";
    ASSERT_EQ(Run(all + "wait").out, "");
    const std::string s = Decoded(src, kArgb), q = Decoded(dir / "quarter.mkv", kArgb);
    const std::string h = Decoded(dir / "half.mkv", kArgb), f = Decoded(dir / "faded.mkv", kArgb);
    ASSERT_EQ(s.size(), kFrameBytes * kFrames);
    ASSERT_TRUE(q.size() == s.size() && h.size() == s.size() && f.size() == s.size()) << "the whole clip is written";
    // Opacity of the untouched frame over the effect at frame r of the n = 30
    // selected, by FadeOpacity in the plug-in's glue: 255 * (1 - p) truncated,
    // p = r / 10 fading in, (n - r) / 6 fading out; the host's Blit blends.
    const int opacity[30] = {255, 229, 204, 178, 153, 127, 102, 76, 50, 25, 0,  0,  0,   0,   0,
                             0,   0,   0,   0,   0,   0,   0,   0,  0,  0,  42, 85, 127, 170, 212};
    const std::string orange("\xFF\xFF\xA5\x00", 4);
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        // A quarter turn counter-clockwise of [32,64) x [16,48): its right edge becomes the top.
        EXPECT_EQ(Pixel(q, i, 32, 16), Pixel(s, i, 63, 16));
        EXPECT_EQ(Pixel(q, i, 63, 47), Pixel(s, i, 32, 47));
        EXPECT_EQ(Pixel(q, i, 0, 0), Pixel(s, i, 0, 0));
        const bool selected = i >= 10 && i < 40;
        EXPECT_EQ(Pixel(h, i, 32, 16), selected ? Pixel(s, i, 63, 47) : Pixel(s, i, 32, 16));
        EXPECT_EQ(Pixel(h, i, 0, 0), selected ? orange : Pixel(s, i, 0, 0));
        const int op = selected ? opacity[i - 10] : 255;
        std::string want = FrameAt(h, i);
        for (std::size_t k = 0; k < kFrameBytes; ++k)
            want[k] = char((uint8_t(s[kFrameBytes * i + k]) * op + uint8_t(want[k]) * (255 - op) + 127) / 255);
        EXPECT_TRUE(FrameAt(f, i) == want) << "opacity " << op;
    }
    EXPECT_TRUE(Decoded(src, kPcm) == Decoded(dir / "faded.mkv", kPcm)) << "the audio is kept";

    // The same settings in a file, as written and as JSON; the placeholder of frame 7 is the render's.
    const std::string file = Quote(dir / "quarter.prefs");
    ASSERT_EQ(Prefs("set rect=0.25,0.25,0.5,0.75 rota=ccw90 outside=off clip=on --file " + file).status, 0);
    ASSERT_EQ(Run(std::string(PREFS_PATH) + " show --json --file " + file + " > " + Quote(dir / "quarter.json")).status,
              0);
    for (const char *name : {"quarter.prefs", "quarter.json"}) {
        Result r = Host("placeholder " + Quote(src) + " -o " + Quote(dir / "thumb.png") + " --at 7f --settings " +
                        Quote(dir / name));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Decoded(dir / "thumb.png", kArgb) == FrameAt(q, 7)) << name;
    }
    Result r = Host("placeholder " + Quote(src) + " -o " + Quote(dir / "late.png") + " --at 50f");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("outside the clip"), std::string::npos) << r.err;
    // A refused change writes nothing; a reset writes the defaults.
    const std::string before = Slurp(dir / "quarter.prefs");
    r = Prefs("set rota=45 --file " + file);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("rota"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(dir / "quarter.prefs"), before);
    ASSERT_EQ(Prefs("reset --file " + file).status, 0);
    auto j = nlohmann::json::parse(Prefs("show --json --file " + file).out);
    EXPECT_EQ(j["rotaCode"], 1);
    EXPECT_TRUE(j["outside"].get<bool>());
    EXPECT_EQ(Slurp(dir / "config" / "qzvel-Prefs"), own);
}

TEST_F(EndToEnd, InfoDescribesTheFilter) {
    Result r = Host("info --json");
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    // The plug-in's own answers are its tests'; these are where hyhost puts them.
    EXPECT_EQ(j["type"], "filter");
    EXPECT_EQ(j["typeCode"], 105);
    EXPECT_EQ(j["baseMemoryNeeded"], 50000);
    EXPECT_EQ(j["sliders"].size(), 3u);
    r = Host("info " + Quote(dir / "Nothing.plugin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
}

// A stand-in plug-in checks the messages and callbacks it gets, inverts the
// frames and passes each frame's audio at 256, not at all, or at 128.
TEST_F(EndToEnd, HostKeepsTheProtocolAndCarriesOnlyTheAudioThePluginPasses) {
    fs::path src = MakeClip(30), out = dir / "result.mkv", log = dir / "probe.log";
    const std::string probe = std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " + Quote(out) + " --plugin " +
                              Quote(PROBE_BUNDLE) + " --from 5f";
    Result r = Run("HYHOST_PROBE_LOG=" + Quote(log) + " " + probe + " --frames 12 --fade-in 3 --fade-out 2 --lossless");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = "info version 4 selected 12 unimplemented 8\nbegin start 5 count 12 fades 3,2\n";
    for (int i = 0; i < 12; ++i) expected += "frame " + std::to_string(i) + " start 5 count 12 get 0 outside 7,7\n";
    EXPECT_EQ(Slurp(log), expected + "end\n");

    const std::string source = Decoded(src, kArgb), result = Decoded(out, kArgb);
    ASSERT_EQ(result.size(), source.size());
    for (int i = 0; i < 30; ++i) {
        std::string want = FrameAt(source, i);
        for (std::size_t k = 0; k < want.size() && i >= 5 && i < 17; ++k)
            if (k % 4) want[k] = char(255 - uint8_t(want[k]));
        EXPECT_TRUE(FrameAt(result, i) == want) << "frame " << i;
    }
    // Frame f of the selection passes its audio at 256, not at all, or at 128 as f % 3 is 0, 1 or 2.
    const std::string a = Decoded(src, kPcm), b = Decoded(out, kPcm);
    ASSERT_EQ(a.size(), b.size()) << "the audio keeps its length";
    const std::size_t perFrame = 48000 / 25 * 4;  // bytes of 16-bit stereo
    int wrong = 0;
    for (std::size_t i = 0; i < a.size(); i += 2) {
        const long f = long(i / perFrame) - 5;
        const int in = Sample(a, i);
        const int want = f < 0 || f >= 12 || f % 3 == 0 ? in : f % 3 == 1 ? 0 : int(std::lround(in * 0.5));
        wrong += Sample(b, i) != want;
    }
    EXPECT_EQ(wrong, 0);

    // A failing frame names the code; an ended process leaves nothing.
    fs::remove(out);
    r = Run("HYHOST_PROBE=fail " + probe);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("frame 7: kPluginOutOfMemory (4)"), std::string::npos) << r.err;
    EXPECT_EQ(Run("HYHOST_PROBE=exit " + probe).status, 1);
    EXPECT_TRUE(Strays({"source.mkv", "probe.log"}).empty());
}

TEST_F(EndToEnd, DefaultOutputIsH264WithAacAndDemoKeepsToItsFolder) {
    fs::path src = MakeClip(20), out = dir / "result.mp4", progress = dir / "progress.txt";
    Result r = Host("render " + Quote(src) + " -o " + Quote(out) + " --from 0:00.2 --duration 0.4 --size 64x-2" +
                    " --progress " + Quote(progress));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("20 frames, 10 through the plug-in (from frame 5)"), std::string::npos) << r.out;
    // Frames encoded, never going back, and the last block says it is the end.
    const std::string report = Slurp(progress);
    std::istringstream blocks(report);
    std::vector<long> frames;
    for (std::string line; std::getline(blocks, line);)
        if (line.starts_with("frame=")) frames.push_back(std::stol(line.substr(6)));
    EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
    EXPECT_EQ(frames.empty() ? 0 : frames.back(), 20);
    EXPECT_TRUE(report.ends_with("progress=end\n")) << report;

    // An existing output is replaced only when asked: -n and no terminal keep it, -y replaces.
    const std::string first = Slurp(out);
    for (const char *keep : {" -n", ""}) {
        r = Host("render " + Quote(src) + " -o " + Quote(out) + keep + " --set rota=180 < /dev/null");
        EXPECT_EQ(r.status, 1) << keep;
        EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(Slurp(out) == first) << "left untouched";
    r = Host("render " + Quote(src) + " -o " + Quote(out) + " -y --quiet --set rota=180 --from 0.2 --frames 10" +
             " --size 64x-2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Slurp(out) == first) << "replaced";
    r = Run("ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames -of json " +
            Quote(out));
    auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["streams"].size(), 2u) << r.err;
    const nlohmann::json video = {{"codec_name", "h264"}, {"width", 64}, {"height", 32}, {"nb_read_frames", "20"}};
    EXPECT_EQ(j["streams"][0], video);
    EXPECT_EQ(j["streams"][1]["codec_name"], "aac");

    // The demonstration never touches the user's Preferences folder (the
    // render above made the file there, with the plug-in's defaults).
    ASSERT_EQ(Prefs("set rota=180 color=#010203").status, 0);
    const std::string own = Slurp(dir / "config" / "qzvel-Prefs");
    ASSERT_EQ(Host("demo -o " + Quote(dir / "demo")).status, 0);
    EXPECT_EQ(Slurp(dir / "config" / "qzvel-Prefs"), own);
    EXPECT_NE(Slurp(dir / "demo" / "Preferences" / "qzvel-Prefs"), own);
}

}  // namespace
