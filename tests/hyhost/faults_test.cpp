// Faults a careful user's machine meets, on the real programs: signals and
// kills mid-render, too little memory, outputs of several files, settings
// files that are damaged or not files at all, and bad option values. Each
// ends with one line, a clear status and no stray file.
#include "CommandTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Result = CommandResult;

int Lines(const std::string &text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

class Faults : public ScratchHomeTest {
protected:
    Result Run(const std::string &cmd) { return RunCommand(cmd, 120); }
    Result Host(const std::string &args) { return Run(std::string(HYHOST_PATH) + " " + args); }
    Result Prefs(const std::string &args) { return Run(std::string(PREFS_PATH) + " " + args); }

    fs::path MakeClip(int frames, const std::string &size) {
        fs::path p = dir / "source.mkv";
        EXPECT_EQ(Run(std::string(FFMPEG_PATH) + " -v error -y -f lavfi -i testsrc2=size=" + size +
                      ":rate=25:duration=" + std::to_string(frames / 25.0) + " -c:v ffv1 " + Quote(p))
                      .status,
                  0);
        return p;
    }
    // Starts hyhost with args, its errors to a file; waits until a ".part" file exists.
    pid_t StartUntilPart(const std::vector<std::string> &args) {
        pid_t pid = fork();
        if (pid == 0) {
            dup2(open("/dev/null", O_WRONLY), 1);
            dup2(open((dir / "child-stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            std::vector<char *> argv{const_cast<char *>(HYHOST_PATH)};
            for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(HYHOST_PATH, argv.data());
            _exit(127);
        }
        bool sawPart = false;
        for (int i = 0; i < 2000 && !sawPart; ++i) {
            for (const auto &e : fs::directory_iterator(dir))
                sawPart |= e.path().filename().string().find(".part-") != std::string::npos;
            if (!sawPart) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(sawPart) << "the output is written under a temporary name";
        return pid;
    }
    // Waits for the child; its exit status, or 128 + the signal that ended it, and what it said.
    std::pair<int, std::string> Ended(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        std::string said = Slurp(dir / "child-stderr.txt");
        fs::remove(dir / "child-stderr.txt");
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), said};
    }
};

TEST_F(Faults, EverySignalEndsARenderCleanlyAndTheNextRunRemovesWhatAKilledOneLeft) {
    fs::path src = MakeClip(250, "320x240");
    const std::string out = (dir / "result.mp4").string();
    const std::vector<std::string> render{"render", src.string(), "-o", out, "--preset", "veryslow", "--quiet"};
    // A second Ctrl-C right after the first stops at once, cleaning up too.
    for (auto [sig, twice] :
         {std::pair{SIGHUP, false}, {SIGINT, false}, {SIGQUIT, false}, {SIGTERM, false}, {SIGINT, true}}) {
        SCOPED_TRACE(strsignal(sig) + std::string(twice ? " twice" : ""));
        pid_t pid = StartUntilPart(render);
        kill(pid, sig);
        if (twice) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (twice) kill(pid, sig);
        auto [status, said] = Ended(pid);
        EXPECT_EQ(status, 128 + sig);
        EXPECT_TRUE(twice || said.find("interrupted") != std::string::npos) << said;
        EXPECT_TRUE(Strays({"source.mkv"}).empty());
    }
    // The placeholder's picture too.
    pid_t pid = StartUntilPart({"placeholder", src.string(), "-o", (dir / "p.png").string(), "--size", "6000x6000"});
    kill(pid, SIGHUP);
    EXPECT_EQ(Ended(pid).first, 128 + SIGHUP);
    EXPECT_TRUE(Strays({"source.mkv"}).empty());

    // A killed run leaves its temporary file: the next run to that output
    // removes it, in one line; another output's leftover is not its business.
    pid = StartUntilPart(render);
    kill(pid, SIGKILL);
    Ended(pid);
    const auto left = Strays({"source.mkv"});
    ASSERT_EQ(left.size(), 1u);
    std::ofstream(dir / (".other.mp4.part-" + std::to_string(pid))) << "x";
    Result r = Host("render " + Quote(src) + " -o " + Quote(out) + " --frames 5 --quiet --preset ultrafast");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(left[0]), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(Strays({"source.mkv", "result.mp4"}), std::vector<std::string>{".other.mp4.part-" + std::to_string(pid)});
}

TEST_F(Faults, TooLittleMemoryEndsWithOneLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address limits and the address sanitizer do not mix";
#endif
    fs::path src = MakeClip(10, "64x48");
    Result r = Run("prlimit --as=2000000000 " + std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " +
                   Quote(dir / "b.mp4") + " --size 8192x8192 --quiet");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "hyhost: not enough memory for 8192x8192 frames; try a smaller --size\n");
    EXPECT_TRUE(Strays({"source.mkv"}).empty());
}

// Each refusal: its status, one line naming the fault (and for a bad option
// value an example of a good one), and no file left or touched.
TEST_F(Faults, BadRequestsAreRefusedWithOneLine) {
    fs::path src = MakeClip(10, "64x48");
    std::ofstream(dir / "notes.txt") << "this is not a video\n";
    const std::string damaged = Slurp(src).substr(0, 300);
    std::ofstream(dir / "damaged.mkv", std::ios::binary) << damaged;
    std::ofstream(dir / "init-stream0.m4s") << "someone's file";
    fs::create_directories(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    struct Row {
        std::string args, says;
        int status;
    };
    const std::string s = Quote(src) + " -o ", o = "render " + s + Quote(dir / "o.mp4");
    std::vector<Row> rows = {
        {"render " + Quote(dir / "missing.mkv") + " -o " + Quote(dir / "o.mkv"), "does not exist", 1},
        {"render " + Quote(dir / "notes.txt") + " -o " + Quote(dir / "o.mkv"), "not a video", 1},
        {"render " + Quote(dir / "damaged.mkv") + " -o " + Quote(dir / "o.mkv"), "damaged", 1},
        {"render " + s + Quote(src), "is the input", 1},
        {"render " + s + Quote(dir / "." / "source.mkv"), "is the input", 1},
        {"render " + s + Quote(dir / "nowhere" / "o.mkv"), "does not exist", 1},
        {"render " + s + Quote(dir / "locked"), "is a folder", 1},
        {"render " + s + "''", "no output file", 1},
        {"render " + s + Quote(dir / "x.mpd"), "several files", 2},
        {"render " + s + Quote(dir / "f%03d.png"), "several files", 2},
        {"render " + s + Quote(dir / "o.mp4") + " --lossless", ".mkv", 1},
        {o + " --from 10f", "outside the clip", 1},
        {o + " --from-frame 5 --frames 6", "past the end", 1},
        {o + " --frames 0", "empty", 1},
        {o + " --bogus", "bogus", 2},
        {o + " --plugin NoSuchPlugin", "not found", 1},
        {o + " --preset bogus", "--preset 'bogus'", 2},
        {o + " --from 4x", "--from '4x'", 2},
        {o + " --duration 1f", "--duration '1f'", 2},
        {o + " --frames 1.5", "--frames '1.5'", 2},
        {o + " --size 12by4", "--size '12by4'", 2},
        {o + " --codec nosuchcodec", "--codec 'nosuchcodec'", 2},
        {o + " --codec mpeg4 --crf 20", "--crf", 2},
        {o + " --bitrate fast", "--bitrate 'fast'", 2},
        {o + " --pix-fmt yuv999", "--pix-fmt 'yuv999'", 2},
        {o + " --audio-codec libx264", "--audio-codec 'libx264'", 2},
        {o + " --set rect=0:0:65:48", "--set 'rect=0:0:65:48'", 2},
        {o + " --set nokey=1", "--set: unknown key", 2},
        {"placeholder " + s + Quote(dir / "p.png") + " --at 99999999999999999999", "--at", 2},
    };
    if (access((dir / "locked").c_str(), W_OK) != 0)  // root writes anyway
        rows.push_back({"render " + s + Quote(dir / "locked" / "o.mkv"), "not writable", 1});
    for (const Row &row : rows) {
        Result r = Host(row.args);
        EXPECT_EQ(r.status, row.status) << row.args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("hyhost: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << row.args << ": " << r.err;
        bool example = row.status != 2;
        for (const char *hint : {"e.g.", "expected", "try ", "use ", "see "})
            example |= r.err.find(hint) != std::string::npos;
        EXPECT_TRUE(example) << "an example: " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_TRUE(Strays({"source.mkv", "notes.txt", "damaged.mkv", "init-stream0.m4s"}).empty()) << row.args;
    }
    EXPECT_EQ(Slurp(dir / "init-stream0.m4s"), "someone's file");
    EXPECT_EQ(Slurp(src).substr(0, 300), damaged) << "the input is never touched";
    fs::permissions(dir / "locked", fs::perms::owner_all);
}

TEST_F(Faults, SettingsFilesThatCannotBeUsedAreNamed) {
    fs::path src = MakeClip(5, "64x48");
    const fs::path prefs = dir / "config" / "qzvel-Prefs";

    // A FIFO is refused at once, never waited on.
    ASSERT_EQ(mkfifo(prefs.c_str(), 0644), 0);
    for (const std::string &cmd :
         {std::string(PREFS_PATH) + " show", std::string(PREFS_PATH) + " set rota=90",
          std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " + Quote(dir / "o.mp4") + " --quiet"}) {
        Result r = Run(cmd);
        EXPECT_EQ(r.status, 1) << cmd << ": " << r.err;
        EXPECT_NE(r.err.find("FIFO"), std::string::npos) << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
    }
    fs::remove(prefs);

    // A damaged file is kept beside it before anything replaces it; one line names both.
    std::ofstream(prefs) << "not a settings file";
    Result r = Prefs("show");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    r = Host("render " + Quote(src) + " -o " + Quote(dir / "o.mp4") + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<fs::path> kept;
    for (const auto &e : fs::directory_iterator(dir / "config"))
        if (e.path().filename().string().rfind("qzvel-Prefs.damaged-", 0) == 0) kept.push_back(e.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(Slurp(kept[0]), "not a settings file");
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_TRUE(r.err.find(kept[0].string()) != std::string::npos && r.err.find(prefs.string()) != std::string::npos)
        << r.err;
    EXPECT_EQ(Prefs("show").err, "");  // replaced by a valid file

    // A full disk is named as such.
    r = Run("PLATFORM_FILES_FAULT=1:ENOSPC " + std::string(PREFS_PATH) + " set rota=180");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no space left on the device"), std::string::npos) << r.err;
}

}  // namespace
