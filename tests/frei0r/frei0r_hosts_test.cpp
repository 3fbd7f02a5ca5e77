// The frei0r filter in its real hosts, the ffmpeg command and melt (MLT's
// editors load it the same way), against
// the HY plug-in rendered by hyhost with the same settings: the two faces of
// the effect must give the same pixels. Clips are tiny lossless RGB files
// made here.
#include "CommandTest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kW = 64, kH = 48;
constexpr size_t kFrameBytes = size_t(kW) * kH * 4;

int CountDiffering(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return -1;
    int n = 0;
    for (size_t i = 0; i < a.size(); i += 4) n += a.compare(i, 4, b, i, 4) != 0;
    return n;
}

std::string FrameAt(const std::string &all, int i) { return all.substr(kFrameBytes * size_t(i), kFrameBytes); }

class Frei0rHosts : public ScratchHomeTest {
protected:
    void SetUp() override {
        ScratchHomeTest::SetUp();
        setenv("FREI0R_PATH", FREI0R_DIR, 1);
    }

    void Run(const std::string &cmd) {
        const CommandResult r = RunCommand(cmd);
        EXPECT_EQ(r.status, 0) << cmd << "\n" << r.err;
    }
    fs::path MakeClip(int frames) {
        const fs::path p = dir / "source.mkv";
        Run(std::string(FFMPEG_PATH) + " -v error -y -f lavfi -i testsrc2=size=" + std::to_string(kW) + "x" +
            std::to_string(kH) + ":rate=25 -frames:v " + std::to_string(frames) + " -c:v ffv1 -pix_fmt bgr0 " +
            Quote(p.string()));
        return p;
    }
    // Every frame ffmpeg makes from these input options, as R,G,B,A bytes.
    std::string Raw(const std::string &input) {
        const fs::path raw = dir / "frames.raw";
        Run(std::string(FFMPEG_PATH) + " -v error -y -i " + input + " -f rawvideo -pix_fmt rgba " + Quote(raw));
        std::string bytes = Slurp(raw);
        fs::remove(raw);
        return bytes;
    }
    std::string Frames(const fs::path &clip) { return Raw(Quote(clip) + " -map 0:v"); }
    // The ffmpeg command's frei0r filter with these parameters.
    std::string Filter(const fs::path &src, const std::string &params) {
        return Raw(Quote(src) + " -vf " + Quote("frei0r=kelvarin:" + params));
    }
    // The HY plug-in through hyhost, configured with kelvarin-prefs.
    std::string Host(const fs::path &src, const std::string &prefs, const std::string &renderArgs = "") {
        Run(std::string(PREFS_PATH) + " set " + prefs);
        const fs::path out = dir / "hy.mkv";
        Run(std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " + Quote(out) + " --lossless --quiet " +
            renderArgs);
        std::string bytes = Frames(out);
        fs::remove(out);
        return bytes;
    }
};

// Every turn, fill and clip switch at least once, on whole and half pixels
// (32 x 29: odd against even), an inverted rectangle and one past the frame.
TEST_F(Frei0rHosts, FfmpegFilterEqualsTheHyPathForTurnsFillsClipsAndRectangles) {
    const fs::path src = MakeClip(2);
    const struct {
        const char *frei0r;  // left|top|right|bottom|turn|fill|clip
        const char *record;
    } rows[] = {
        {"0.25|0.25|0.75|0.75|0|y|n", "startRel=0.25,0.75,0.25,0.75 rota=0 outside=on clip=off"},
        {"0.25|0.2|0.75|0.8|0.25|y|y", "startRel=0.25,0.75,0.2,0.8 rota=90 outside=on clip=on"},
        {"0.25|0.25|0.75|0.75|0.5|n|n", "startRel=0.25,0.75,0.25,0.75 rota=180 outside=off clip=off"},
        {"0.25|0.2|0.75|0.8|0.75|n|y", "startRel=0.25,0.75,0.2,0.8 rota=270 outside=off clip=on"},
        {"0.25|0.2|0.75|0.8|0.25|n|n", "startRel=0.25,0.75,0.2,0.8 rota=90 outside=off clip=off"},
        {"0.25|0.25|0.75|0.75|0.75|y|y", "startRel=0.25,0.75,0.25,0.75 rota=270 outside=on clip=on"},
        {"0.8|0.2|0.3|0.9|0.25|y|n", "startRel=0.8,0.3,0.2,0.9 rota=90 outside=on clip=off"},
        {"-0.25|0.5|1.5|1.25|0.75|y|n", "startRel=-0.25,1.5,0.5,1.25 rota=270 outside=on clip=off"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.frei0r);
        const std::string filtered = Filter(src, std::string(row.frei0r) + "|#FF8000");
        const std::string hy = Host(src, std::string(row.record) + " color=#FF8000");
        ASSERT_EQ(hy.size(), 2 * kFrameBytes);
        EXPECT_EQ(CountDiffering(filtered, hy), 0);
    }
}

// amount 0.5 leaves the untouched frame an opacity of 255 x (1 - 0.5),
// truncated: 127, which is what the host gives frame 5 of a 10-frame fade-in.
TEST_F(Frei0rHosts, HalfAmountEqualsTheHostsFadeAtOpacity127) {
    const fs::path src = MakeClip(10);  // the fade is not shortened to the selection
    const std::string filtered = Filter(src, "0.25|0.2|0.75|0.8|0.25|n|n|#204060|0.5");
    const std::string effectOnly = Filter(src, "0.25|0.2|0.75|0.8|0.25|n|n|#204060|1");
    const std::string hy =
        Host(src, "startRel=0.25,0.75,0.2,0.8 rota=90 outside=off clip=off color=#204060", "--fade-in 10");
    ASSERT_EQ(hy.size(), 10 * kFrameBytes);
    EXPECT_EQ(CountDiffering(FrameAt(filtered, 5), FrameAt(hy, 5)), 0);
    EXPECT_GT(CountDiffering(FrameAt(filtered, 5), FrameAt(effectOnly, 5)), 0) << "the mix shows";
}

// melt animates `left` from 0.1 at frame 0 to 0.4 at frame 24; linear
// interpolation puts frame 12 at 0.25.
TEST_F(Frei0rHosts, MeltKeyframesGiveTheFilterOutputForTheInterpolatedValue) {
    const fs::path src = MakeClip(25);
    const fs::path out = dir / "melt.mkv";
    Run(std::string(MELT_PATH) + " -silent -quiet " + Quote(src) +
        " -filter frei0r.kelvarin 'left=0=0.1;24=0.4' top=0.2 right=0.75 bottom=0.8 turn=0.25 fill=0"
        " -consumer avformat:" +
        Quote(out) + " vcodec=ffv1 pix_fmt=bgr0 an=1");
    const std::string melted = Frames(out);
    ASSERT_EQ(melted.size(), 25 * kFrameBytes);
    const struct {
        int frame;
        const char *left;
    } rows[] = {{0, "0.1"}, {12, "0.25"}, {24, "0.4"}};
    for (const auto &row : rows) {
        const std::string filtered = Filter(src, std::string(row.left) + "|0.2|0.75|0.8|0.25|n");
        EXPECT_EQ(CountDiffering(FrameAt(melted, row.frame), FrameAt(filtered, row.frame)), 0) << "frame " << row.frame;
    }
    EXPECT_GT(CountDiffering(FrameAt(melted, 0), FrameAt(melted, 24)), 0) << "the keyframes move the rectangle";
}

}  // namespace
