// Smart render on H.264 clips made with the ffmpeg command: what is copied
// stays byte for byte, what is re-encoded matches the exact render, and the
// result decodes as one stream. Clips that cannot be copied are re-encoded
// whole, with the reason said when smart render was asked for.
#include "CommandTest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr int kW = 320, kH = 240, kFrames = 100;  // four GOPs of 25 frames at 25 fps

class SmartRender : public ScratchHomeTest {
protected:
    CommandResult Run(const std::string &cmd) { return RunCommand(cmd, 300); }

    fs::path MakeClip(const std::string &name, const std::string &x264Params) {
        fs::path p = dir / name;
        CommandResult r =
            Run(std::string(FFMPEG_PATH) + " -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=4 " +
                "-f lavfi -i sine=sample_rate=48000:duration=4 -c:v libx264 -preset veryfast -g 25 " +
                "-bf 2 -pix_fmt yuv420p -x264-params " + x264Params + " -c:a aac " + Quote(p));
        EXPECT_EQ(r.status, 0) << r.err;
        return p;
    }
    json Probe(const fs::path &file, const std::string &what) {
        CommandResult r = Run("ffprobe -v error -of json " + what + " " + Quote(file));
        EXPECT_EQ(r.status, 0) << r.err;
        return json::parse(r.out, nullptr, false);
    }
    // Every frame in one pixel format, as the ffmpeg command decodes it.
    std::string Raw(const fs::path &file) {
        CommandResult r = Run(std::string(FFMPEG_PATH) + " -v error -i " + Quote(file) +
                              " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -");
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
};

double Psnr(const std::string &a, const std::string &b, std::size_t offset, std::size_t size) {
    double sum = 0;
    for (std::size_t i = offset; i < offset + size; ++i) {
        double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / (sum / double(size)));
}

TEST_F(SmartRender, CopiesTheGopsOutsideTheSelectionAndReencodesTheRest) {
    ASSERT_EQ(Run(std::string(PREFS_PATH) + " set rect=0.25,0.25,0.75,0.75 rota=180 color=#1E64C8 outside=on").status,
              0);
    fs::path src = MakeClip("source.mp4", "open-gop=0");
    for (const char *out : {"smart.mp4", "smart.mkv"}) {
        SCOPED_TRACE(out);
        // Frames 30..39 lie in the second GOP (25..49): only it is re-encoded.
        CommandResult r = Run(std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " + Quote(dir / out) +
                              " --from 30f --frames 10 --fade-in 3 --smart --progress pipe:1");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("75 frames copied, 25 re-encoded"), std::string::npos) << r.err;
        // Scripts following --progress learn that a smart render ended, and how far.
        EXPECT_TRUE(r.out.find("frame=100\n") != std::string::npos && r.out.find("progress=end\n") != std::string::npos)
            << r.out;

        // Every packet outside the re-encoded GOP, video and audio, is the source's.
        const std::string packets =
            "-show_packets -show_data_hash CRC32 -show_entries packet=codec_type,pts_time,data_hash";
        json a = Probe(src, packets)["packets"], b = Probe(dir / out, packets)["packets"];
        auto split = [](const json &list, const std::string &type) {
            std::vector<std::pair<double, std::string>> v;
            for (const json &p : list)
                if (p["codec_type"] == type)
                    v.emplace_back(type == "video" ? std::stod(p["pts_time"].get<std::string>()) : 0.0, p["data_hash"]);
            return v;
        };
        auto av = split(a, "video"), bv = split(b, "video");
        ASSERT_EQ(av.size(), std::size_t(kFrames));
        ASSERT_EQ(bv.size(), av.size());
        int same = 0;
        for (std::size_t i = 0; i < av.size(); ++i) {
            const double t = av[i].first - av[0].first;
            const bool copied = t < 1.0 - 1e-6 || t >= 2.0 - 1e-6;
            EXPECT_TRUE(!copied || bv[i].second == av[i].second) << "packet " << i;
            same += bv[i].second == av[i].second;
        }
        EXPECT_EQ(same, 75);
        EXPECT_FALSE(split(a, "audio").empty());
        EXPECT_EQ(split(b, "audio"), split(a, "audio"));
        // Every frame is shown at the source's time, counted from the first frame's:
        // Matroska cannot start before 0 and moves everything by the audio's lead.
        std::sort(av.begin(), av.end());
        std::sort(bv.begin(), bv.end());
        for (std::size_t i = 0; i < av.size(); ++i)
            EXPECT_NEAR(bv[i].first - bv[0].first, av[i].first - av[0].first, 0.0011) << "frame " << i;
        // It decodes as one stream.
        CommandResult play = Run(std::string(FFMPEG_PATH) + " -v error -xerror -i " + Quote(dir / out) + " -f null -");
        EXPECT_EQ(play.status, 0);
        EXPECT_EQ(play.err, "");
    }

    // The re-encoded GOP matches the exact render within the encoder's loss;
    // the plug-in changed the selection's frames (else the check proves nothing).
    fs::path exact = dir / "exact.mkv";
    CommandResult r = Run(std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " + Quote(exact) +
                          " --from 30f --frames 10 --fade-in 3 --lossless --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string s = Raw(dir / "smart.mp4"), x = Raw(exact), o = Raw(src);
    const std::size_t frame = kW * kH * 3 / 2;
    ASSERT_EQ(s.size(), frame * kFrames);
    ASSERT_EQ(x.size(), s.size());
    for (std::size_t f = 25; f < 50; ++f) EXPECT_GE(Psnr(s, x, f * frame, frame), 45.0) << "frame " << f;
    EXPECT_LT(Psnr(o, x, 35 * frame, frame), 30.0);
}

TEST_F(SmartRender, IsTheDefaultWherePossibleAndSaysWhyNotWhenAsked) {
    fs::path closed = MakeClip("closed.mp4", "open-gop=0");
    fs::path open = MakeClip("open.mp4", "open-gop=1:scenecut=0");
    fs::path matroska = MakeClip("closed.mkv", "open-gop=0");  // showing times only
    struct Row {
        fs::path source;
        std::string options, output, reason;  // reason empty: none is said
        bool copies = false;
    };
    const std::vector<Row> rows = {
        {open, "--smart --from 60f --frames 5", "a.mp4", "open GOPs"},
        {closed, "--smart --from 60f --frames 5 --codec mpeg4", "b.mp4", "--codec mpeg4"},
        {closed, "--smart --from 60f --frames 5 --lossless", "c.mkv", "--lossless"},
        {closed, "--smart --from 60f --frames 5 --size 160x120", "d.mp4", "--size"},
        {closed, "--smart --from 20f --frames 60", "e.mp4", "touches every GOP"},
        {open, "--from 60f --frames 5", "f.mp4", ""},
        {closed, "--no-smart --from 60f --frames 5", "g.mp4", ""},
        {closed, "--from 60f --frames 5", "h.mp4", "", true},
        {matroska, "--smart --from 60f --frames 5", "i.mp4", "", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.options + " " + row.source.filename().string());
        CommandResult r = Run(std::string(HYHOST_PATH) + " render " + Quote(row.source) + " -o " +
                              Quote(dir / row.output) + " " + row.options);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("75 frames copied, 25 re-encoded") != std::string::npos, row.copies) << r.err;
        EXPECT_EQ(r.err.find("--smart: ") != std::string::npos, !row.reason.empty()) << r.err;
        EXPECT_NE(r.err.find(row.reason), std::string::npos) << r.err;
        json j = Probe(dir / row.output, "-count_frames -select_streams v -show_entries stream=nb_read_frames");
        EXPECT_EQ(j["streams"][0]["nb_read_frames"], std::to_string(kFrames));
    }
}

}  // namespace
