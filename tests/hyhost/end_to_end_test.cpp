// End-to-end runs of hyhost and kelvarin-prefs on small clips made with the
// ffmpeg command. Results are decoded by the ffmpeg command too and compared
// with a plain per-pixel model of the effect, written from its rules.
#include "CommandTest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Result = CommandResult;

constexpr int kW = 128, kH = 64, kFrames = 50;

class EndToEnd : public ScratchHomeTest {
protected:
    Result Run(const std::string &cmd) { return RunCommand(cmd); }
    Result Host(const std::string &args) { return Run(std::string(HYHOST_PATH) + " " + args); }
    Result Prefs(const std::string &args) { return Run(std::string(PREFS_PATH) + " " + args); }

    // A lossless clip: FFV1 in RGB and 16-bit PCM stereo, so decoded frames are exact.
    fs::path MakeClip(const std::string &name, int frames = kFrames, int w = kW, int h = kH) {
        fs::path p = dir / name;
        double seconds = frames / 25.0;
        std::ostringstream cmd;
        cmd << FFMPEG_PATH << " -v error -y -f lavfi -i testsrc2=size=" << w << "x" << h
            << ":rate=25:duration=" << seconds
            << " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" << seconds
            << " -c:v ffv1 -pix_fmt bgr0 -c:a pcm_s16le -ac 2 " << Quote(p.string());
        EXPECT_EQ(Run(cmd.str()).status, 0);
        return p;
    }
    // All frames as A,R,G,B bytes.
    std::string Frames(const fs::path &clip) {
        fs::path raw = dir / "frames.raw";
        EXPECT_EQ(Run(std::string(FFMPEG_PATH) + " -v error -y -i " + Quote(clip) + " -f rawvideo -pix_fmt argb " +
                      Quote(raw))
                      .status,
                  0);
        std::string bytes = Slurp(raw);
        fs::remove(raw);
        return bytes;
    }
    std::string Samples(const fs::path &clip) {
        fs::path raw = dir / "samples.raw";
        EXPECT_EQ(
            Run(std::string(FFMPEG_PATH) + " -v error -y -i " + Quote(clip) + " -vn -f s16le " + Quote(raw)).status, 0);
        std::string bytes = Slurp(raw);
        fs::remove(raw);
        return bytes;
    }
};

// The effect on one frame, from its rules: the active rectangle A
// [L,R) x [T,B) shows the source turned about A's centre; outside A the
// frame keeps the source or shows the fill colour.
struct Model {
    int L, T, R, B;
    int degrees;  // 180, or 90 counter-clockwise (square A only)
    bool outside;
    uint8_t fill[3];
};

std::string EffectOf(const std::string &src, const Model &m) {
    std::string out = src;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            std::size_t o = (std::size_t(y) * kW + x) * 4;
            bool inside = x >= m.L && x < m.R && y >= m.T && y < m.B;
            if (!inside) {
                if (m.outside) {
                    out[o] = char(0xFF);
                    for (int c = 0; c < 3; ++c) out[o + 1 + c] = char(m.fill[c]);
                }
                continue;
            }
            int sx, sy;
            if (m.degrees == 180) {
                sx = m.L + m.R - 1 - x;
                sy = m.T + m.B - 1 - y;
            } else {  // a quarter turn counter-clockwise: the right edge becomes the top
                int u = x - m.L, v = y - m.T, s = m.R - m.L;
                sx = m.L + (s - 1 - v);
                sy = m.T + u;
            }
            std::size_t so = (std::size_t(sy) * kW + sx) * 4;
            for (int c = 0; c < 4; ++c) out[o + c] = src[so + c];
        }
    return out;
}

// The untouched frame over the effect at the fade's opacity.
std::string Blend(const std::string &src, const std::string &effect, int opacity) {
    std::string out = effect;
    for (std::size_t i = 0; i < out.size(); ++i) {
        int s = uint8_t(src[i]), d = uint8_t(effect[i]);
        out[i] = char((s * opacity + d * (255 - opacity) + 127) / 255);
    }
    return out;
}

// Opacity of the untouched frame at frame r of a selection of n frames.
int FadeOpacity(int r, int n, int fadeIn, int fadeOut) {
    if (!(fadeIn > 0 || fadeOut != 0) || !(r < fadeIn || r > n - fadeOut)) return 0;
    double percent = r < fadeIn ? double(r) / fadeIn : double(n - r) / fadeOut;
    return int(255 * (1 - percent));
}

std::string FrameAt(const std::string &all, int i) {
    std::size_t size = std::size_t(kW) * kH * 4;
    return all.substr(size * std::size_t(i), size);
}

int CountDiffering(const std::string &a, const std::string &b) {
    int n = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); i += 4) n += a.compare(i, 4, b, i, 4) != 0;
    return n;
}

// Per-job settings: two renders at once, each with its own, and neither
// reads nor changes the remembered settings. The half turn fades in and out
// over a part of the clip; everything else, the sound too, is kept.
TEST_F(EndToEnd, TwoRendersAtOnceKeepToTheirOwnSettings) {
    fs::path src = MakeClip("source.mkv");
    ASSERT_EQ(Prefs("set rota=270 color=#102030").status, 0);
    const std::string own = Slurp(dir / "config" / "qzvel-Prefs");
    const std::string quarter = " --set rect=32:16:32:32 --set rota=ccw90 --set outside=off --set clip=on";
    const std::string half = " --set rect=0.25,0.25,0.5,0.75 --set rota=cw180 --set color=orange --set outside=on" +
                             std::string(" --from 10f --frames 30 --fade-in 10 --fade-out 6");
    auto render = [&](const char *out, const std::string &sets) {
        return "(" + std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " + Quote(dir / out) +
               " --lossless --quiet" + sets + " 2>&1 || echo " + out + " failed)";
    };
    Result r = Run(render("quarter.mkv", quarter) + " & " + render("half.mkv", half) + " & wait");
    ASSERT_EQ(r.out, "");
    const std::string source = Frames(src), a = Frames(dir / "quarter.mkv"), b = Frames(dir / "half.mkv");
    ASSERT_EQ(a.size(), source.size());
    ASSERT_EQ(b.size(), source.size()) << "the whole clip is written";
    const Model turned{32, 16, 64, 48, 90, false, {0, 0, 0}}, halved{32, 16, 64, 48, 180, true, {0xFF, 0xA5, 0x00}};
    for (int i = 0; i < kFrames; ++i) {
        const std::string s = FrameAt(source, i);
        EXPECT_EQ(CountDiffering(FrameAt(a, i), EffectOf(s, turned)), 0) << "frame " << i;
        const int op = i < 10 || i >= 40 ? 255 : FadeOpacity(i - 10, 30, 10, 6);
        EXPECT_EQ(CountDiffering(FrameAt(b, i), Blend(s, EffectOf(s, halved), op)), 0) << "frame " << i;
    }
    EXPECT_TRUE(Samples(src) == Samples(dir / "half.mkv")) << "the audio is kept";
    EXPECT_EQ(Slurp(dir / "config" / "qzvel-Prefs"), own);

    // The same settings as JSON, and the placeholder of frame 7 is that frame's effect.
    r = Prefs("set rect=0.25,0.25,0.5,0.75 rota=ccw90 outside=off clip=on --file " + Quote(dir / "quarter.prefs"));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Run(std::string(PREFS_PATH) + " show --json --file " + Quote(dir / "quarter.prefs") + " > " +
                  Quote(dir / "quarter.json"))
                  .status,
              0);
    for (const char *file : {"quarter.prefs", "quarter.json"}) {
        fs::path png = dir / "thumb.png";
        r = Host("placeholder " + Quote(src) + " -o " + Quote(png) + " --at 7f --settings " + Quote(dir / file));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(CountDiffering(Frames(png), EffectOf(FrameAt(source, 7), turned)), 0) << file;
    }
    r = Host("placeholder " + Quote(src) + " -o " + Quote(dir / "late.png") + " --at 50f");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("outside the clip"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(dir / "config" / "qzvel-Prefs"), own);
}

TEST_F(EndToEnd, BadRequestsSayWhatIsWrongAndLeaveNoFile) {
    fs::path src = MakeClip("source.mkv", 10);
    std::ofstream(dir / "notes.txt") << "this is not a video\n";
    std::string damaged = Slurp(src).substr(0, 300);
    std::ofstream(dir / "damaged.mkv", std::ios::binary) << damaged;
    fs::create_directories(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    bool lockedWorks = access((dir / "locked").c_str(), W_OK) != 0;  // root writes anyway

    struct Case {
        std::string args, expect;
        int status;
    };
    std::string s = Quote(src);
    std::string o = Quote(dir / "out.mkv");
    std::vector<Case> cases = {
        {"render " + Quote(dir / "missing.mkv") + " -o " + o, "does not exist", 1},
        {"render " + Quote(dir / "notes.txt") + " -o " + o, "not a video", 1},
        {"render " + Quote(dir / "damaged.mkv") + " -o " + o, "damaged", 1},
        {"render " + s + " -o " + s, "is the input", 1},
        {"render " + s + " -o " + Quote(dir / "." / "source.mkv"), "is the input", 1},
        {"render " + s + " -o " + Quote(dir / "nowhere" / "out.mkv"), "does not exist", 1},
        {"render " + s + " -o " + o + " --from 10f", "outside the clip", 1},
        {"render " + s + " -o " + o + " --from 0.4", "outside the clip", 1},
        {"render " + s + " -o " + o + " --from-frame 5 --frames 6", "past the end", 1},
        {"render " + s + " -o " + o + " --frames 0", "empty", 1},
        {"render " + s + " -o " + o + " --bogus", "bogus", 2},
        {"render " + s + " -o " + o + " --plugin NoSuchPlugin", "not found", 1},
        {"render " + s + " -o " + Quote(dir / "out.mp4") + " --lossless", ".mkv", 1},
    };
    if (lockedWorks) cases.push_back({"render " + s + " -o " + Quote(dir / "locked" / "out.mkv"), "not writable", 1});
    for (const Case &c : cases) {
        Result r = Host(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.expect), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("hyhost: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        EXPECT_TRUE(Strays({"source.mkv", "notes.txt", "damaged.mkv"}).empty()) << c.args;
    }
    Result r =
        Run("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(HYHOST_PATH) + " configure " + s);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(src).substr(0, 300), damaged) << "the input is never touched";
    fs::permissions(dir / "locked", fs::perms::owner_all);
}

TEST_F(EndToEnd, AnInterruptedRenderLeavesNothingBehind) {
    fs::path src = MakeClip("source.mkv", 250, 320, 240);
    fs::path out = dir / "result.mp4";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execl(HYHOST_PATH, HYHOST_PATH, "render", src.c_str(), "-o", out.c_str(), "--preset", "veryslow", "--quiet",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    // Wait until the unfinished file exists, then interrupt.
    bool sawPart = false;
    for (int i = 0; i < 400 && !sawPart; ++i) {
        for (const auto &e : fs::directory_iterator(dir))
            sawPart |= e.path().filename().string().find(".part") != std::string::npos;
        if (!sawPart) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(sawPart) << "the render writes under a temporary name";
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_TRUE(Strays({"source.mkv"}).empty());
}

TEST_F(EndToEnd, InfoDescribesTheFilter) {
    Result r = Host("info --json");
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["type"], "filter");
    EXPECT_EQ(j["typeCode"], 105);
    EXPECT_EQ(j["flags"].get<uint32_t>() & 0x1380u, 0x1380u);
    ASSERT_EQ(j["sliders"].size(), 3u);
    for (const auto &s : j["sliders"]) EXPECT_FLOAT_EQ(s["default"].get<float>(), 0.5f);
    EXPECT_FALSE(j["group"].get<std::string>().empty());
    EXPECT_FALSE(j["buttonTitle"].get<std::string>().empty());
    EXPECT_EQ(j["baseMemoryNeeded"], 50000);
    r = Host("info " + Quote(dir / "Nothing.plugin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
}

TEST_F(EndToEnd, PrefsToolChangesOnlyTheFileItIsGiven) {
    ASSERT_EQ(Prefs("set color=#102030 rota=270").status, 0);
    std::string own = Slurp(dir / "config" / "qzvel-Prefs");
    ASSERT_FALSE(own.empty());
    fs::path other = dir / "preset.prefs";
    Result r = Prefs("set rect=0.1,0.2,0.9,0.8 standard=pal outside=off --file " + Quote(other));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(dir / "config" / "qzvel-Prefs"), own) << "the user's file stays as it was";
    auto j = nlohmann::json::parse(Prefs("show --json --file " + Quote(other)).out);
    EXPECT_TRUE(j["stored"].get<bool>());
    EXPECT_EQ(j["mediaType"], 2);
    EXPECT_EQ(j["rotaCode"], 1) << "a new file starts from the defaults";

    std::string before = Slurp(other);
    r = Prefs("set rota=45 --file " + Quote(other));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("rota"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(other), before) << "a refused change writes nothing";
    ASSERT_EQ(Prefs("reset --file " + Quote(other)).status, 0);
    j = nlohmann::json::parse(Prefs("show --json --file " + Quote(other)).out);
    EXPECT_EQ(j["mediaType"], 1);
    EXPECT_TRUE(j["outside"].get<bool>());
}

// A stand-in plug-in checks the messages and callbacks it gets, inverts the
// frames and passes each frame's audio at 256, not at all, or at 128.
TEST_F(EndToEnd, HostKeepsTheProtocolAndCarriesOnlyTheAudioThePluginPasses) {
    fs::path src = MakeClip("source.mkv", 30);
    fs::path out = dir / "result.mkv", log = dir / "probe.log";
    setenv("HYHOST_PROBE_LOG", log.c_str(), 1);
    Result r = Host("render " + Quote(src) + " -o " + Quote(out) + " --plugin " + Quote(PROBE_BUNDLE) +
                    " --from 5f --frames 12 --fade-in 3 --fade-out 2 --lossless --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = "info version 4 selected 12 unimplemented 8\nbegin start 5 count 12 fades 3,2\n";
    for (int i = 0; i < 12; ++i) expected += "frame " + std::to_string(i) + " start 5 count 12 get 0 outside 7,7\n";
    expected += "end\n";
    EXPECT_EQ(Slurp(log), expected);

    std::string source = Frames(src), result = Frames(out);
    ASSERT_EQ(result.size(), source.size());
    for (int i = 0; i < 30; ++i) {
        std::string want = FrameAt(source, i);
        if (i >= 5 && i < 17)
            for (std::size_t k = 0; k < want.size(); ++k)
                if (k % 4) want[k] = char(255 - uint8_t(want[k]));
        EXPECT_EQ(CountDiffering(FrameAt(result, i), want), 0) << "frame " << i;
    }
    std::string a = Samples(src), b = Samples(out);
    ASSERT_EQ(a.size(), b.size()) << "the audio keeps its length";
    const std::size_t perFrame = 48000 / 25 * 2;  // 16-bit stereo values
    auto value = [](const std::string &s, std::size_t i) {
        return int16_t(uint16_t(uint8_t(s[2 * i])) | uint16_t(uint8_t(s[2 * i + 1])) << 8);
    };
    int wrong = 0;
    for (std::size_t i = 0; i < a.size() / 2; ++i) {
        long f = long(i / perFrame);
        int16_t in = value(a, i), want = in;
        if (f >= 5 && f < 17) {
            int rf = int(f - 5) % 3;
            want = rf == 0 ? in : rf == 1 ? int16_t(0) : int16_t(std::lround(in * 0.5));
        }
        if (value(b, i) != want && ++wrong < 5) ADD_FAILURE() << "sample " << i << " of frame " << f;
    }
    EXPECT_EQ(wrong, 0);

    // A failing frame names the code; an ended process leaves nothing.
    fs::remove(out);
    setenv("HYHOST_PROBE", "fail", 1);
    r = Host("render " + Quote(src) + " -o " + Quote(out) + " --plugin " + Quote(PROBE_BUNDLE) + " --from 5f");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("frame 7: kPluginOutOfMemory (4)"), std::string::npos) << r.err;
    setenv("HYHOST_PROBE", "exit", 1);
    r = Host("render " + Quote(src) + " -o " + Quote(out) + " --plugin " + Quote(PROBE_BUNDLE) + " --from 5f");
    EXPECT_EQ(r.status, 1);
    unsetenv("HYHOST_PROBE");
    unsetenv("HYHOST_PROBE_LOG");
    EXPECT_TRUE(Strays({"source.mkv", "probe.log"}).empty());
}

TEST_F(EndToEnd, DefaultOutputIsH264WithAacAndDemoKeepsToItsFolder) {
    fs::path src = MakeClip("source.mkv", 20);
    fs::path out = dir / "result.mp4";
    fs::path progress = dir / "progress.txt";
    Result r = Host("render " + Quote(src) + " -o " + Quote(out) + " --from 0:00.2 --duration 0.4 --size 64x-2" +
                    " --progress " + Quote(progress));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("20 frames, 10 through the plug-in (from frame 5)"), std::string::npos) << r.out;
    // Frames encoded, never going back, and the last block says it is the end.
    const std::string report = Slurp(progress);
    std::istringstream blocks(report);
    std::vector<long> frames;
    std::string line, last;
    while (std::getline(blocks, line)) {
        if (line.rfind("frame=", 0) == 0) frames.push_back(std::stol(line.substr(6)));
        if (line.rfind("progress=", 0) == 0) last = line;
    }
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
    EXPECT_EQ(frames.back(), 20);
    EXPECT_EQ(last, "progress=end");
    EXPECT_EQ(report.substr(report.size() - 13), "progress=end\n");

    // An existing output is replaced only when asked: -n and no terminal keep it, -y replaces.
    const std::string first = Slurp(out);
    for (const char *keep : {" -n", ""}) {
        r = Host("render " + Quote(src) + " -o " + Quote(out) + keep + " --set rota=180 < /dev/null");
        EXPECT_EQ(r.status, 1) << keep;
        EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_TRUE(Slurp(out) == first) << "left untouched";
    r = Host("render " + Quote(src) + " -o " + Quote(out) + " -y --quiet --set rota=180 --from 0.2 --frames 10" +
             " --size 64x-2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Slurp(out) == first) << "replaced";
    r = Run("ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames -of json " +
            Quote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["streams"].size(), 2u);
    EXPECT_EQ(j["streams"][0]["codec_name"], "h264");
    EXPECT_EQ(j["streams"][0]["width"], 64);
    EXPECT_EQ(j["streams"][0]["height"], 32);
    EXPECT_EQ(j["streams"][0]["nb_read_frames"], "20");
    EXPECT_EQ(j["streams"][1]["codec_name"], "aac");

    // The demonstration never touches the user's Preferences folder (the
    // render above made the file there, with the plug-in's defaults).
    ASSERT_EQ(Prefs("set rota=180 color=#010203").status, 0);
    std::string own = Slurp(dir / "config" / "qzvel-Prefs");
    r = Host("demo -o " + Quote(dir / "demo"));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *name : {"demo-source.mp4", "demo-result.mp4", "demo-contact-sheet.png", "Preferences/qzvel-Prefs"})
        EXPECT_TRUE(fs::exists(dir / "demo" / name)) << name;
    EXPECT_NE(r.out.find("demo-contact-sheet.png"), std::string::npos);
    EXPECT_EQ(Slurp(dir / "config" / "qzvel-Prefs"), own);
    EXPECT_NE(Slurp(dir / "demo" / "Preferences" / "qzvel-Prefs"), own);
}

}  // namespace
