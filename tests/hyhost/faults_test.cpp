// Faults a careful user's machine meets, on the real programs: signals and
// kills mid-render, too little memory, outputs of several files, settings
// files that are damaged or not files at all, and bad option values. Each
// ends with one line, a clear status and no stray file.
#include "CommandTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
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

    fs::path MakeClip(const std::string &name, int frames, int w, int h) {
        fs::path p = dir / name;
        std::ostringstream cmd;
        cmd << FFMPEG_PATH << " -v error -y -f lavfi -i testsrc2=size=" << w << "x" << h
            << ":rate=25:duration=" << frames / 25.0 << " -c:v ffv1 " << Quote(p.string());
        EXPECT_EQ(Run(cmd.str()).status, 0);
        return p;
    }
    // Starts hyhost with args, output to files; waits until a ".part" file exists.
    pid_t StartUntilPart(const std::vector<std::string> &args) {
        pid_t pid = fork();
        if (pid == 0) {
            int err = open((dir / "child-stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(err, 2);
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
        EXPECT_TRUE(sawPart);
        return pid;
    }
    std::string ChildErr() {
        std::string e = Slurp(dir / "child-stderr.txt");
        fs::remove(dir / "child-stderr.txt");
        return e;
    }
};

TEST_F(Faults, EverySignalEndsARenderCleanly) {
    fs::path src = MakeClip("source.mkv", 250, 320, 240);
    const std::string out = (dir / "result.mp4").string();
    const std::vector<std::string> render{"render", src.string(), "-o", out, "--preset", "veryslow", "--quiet"};
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
        pid_t pid = StartUntilPart(render);
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << strsignal(sig);
        EXPECT_EQ(WEXITSTATUS(status), 128 + sig) << strsignal(sig);
        EXPECT_NE(ChildErr().find("interrupted"), std::string::npos);
        EXPECT_TRUE(Strays({"source.mkv"}).empty()) << strsignal(sig);
    }
    // A second Ctrl-C right after the first stops at once, cleaning up too.
    pid_t pid = StartUntilPart(render);
    kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    ChildErr();
    EXPECT_TRUE(Strays({"source.mkv"}).empty());

    // The placeholder's picture too.
    pid = StartUntilPart({"placeholder", src.string(), "-o", (dir / "p.png").string(), "--size", "6000x6000"});
    kill(pid, SIGHUP);
    waitpid(pid, &status, 0);
    const std::string said = ChildErr();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status << ": " << said;
    EXPECT_TRUE(Strays({"source.mkv"}).empty());
}

TEST_F(Faults, TheNextRunRemovesWhatAKilledRunLeft) {
    fs::path src = MakeClip("source.mkv", 250, 320, 240);
    const std::string out = (dir / "result.mp4").string();
    pid_t pid = StartUntilPart({"render", src.string(), "-o", out, "--preset", "veryslow", "--quiet"});
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ChildErr();
    const auto left = Strays({"source.mkv"});
    ASSERT_EQ(left.size(), 1u);
    // Another output's leftover is not this run's business.
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
    fs::path src = MakeClip("source.mkv", 10, 64, 48);
    Result r = Run("prlimit --as=2000000000 " + std::string(HYHOST_PATH) + " render " + Quote(src) + " -o " +
                   Quote(dir / "b.mp4") + " --size 8192x8192 --quiet");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "hyhost: not enough memory for 8192x8192 frames; try a smaller --size\n");
    EXPECT_TRUE(Strays({"source.mkv"}).empty());
}

TEST_F(Faults, BadOutputsAndOptionsAreRefusedWithOneLine) {
    fs::path src = MakeClip("source.mkv", 10, 64, 48);
    std::ofstream(dir / "init-stream0.m4s") << "someone's file";
    struct Row {
        std::string args, says;
        int status;
    };
    const std::string in = Quote(src.string()) + " ";
    const Row rows[] = {
        {"render " + in + "-o " + Quote(dir / "x.mpd"), "several files", 2},
        {"render " + in + "-o " + Quote(dir / "x.m3u8"), "several files", 2},
        {"render " + in + "-o " + Quote(dir / "f%03d.png"), "several files", 2},
        {"render " + in + "-o " + Quote(dir / "o.mp4") + " --preset bogus", "--preset 'bogus'", 2},
    };
    // A value of the wrong kind: one line naming the option, with an example of a good value.
    const std::string o = "render " + in + "-o " + Quote(dir / "o.mp4");
    const std::pair<std::string, std::string> values[] = {
        {o + " --from ''", "--from ''"},
        {o + " --from 4x", "--from '4x'"},
        {o + " --from -1", "--from '-1'"},
        {o + " --from 1.5ff", "--from '1.5ff'"},
        {o + " --duration 1f", "--duration '1f'"},
        {o + " --frames 1.5", "--frames '1.5'"},
        {o + " --size 12by4", "--size '12by4'"},
        {o + " --size -2x-2", "--size '-2x-2'"},
        {o + " --size 20000x10", "--size '20000x10'"},
        {o + " --codec nosuchcodec", "--codec 'nosuchcodec'"},
        {o + " --codec mpeg4 --crf 20", "--crf"},
        {o + " --bitrate fast", "--bitrate 'fast'"},
        {o + " --audio-bitrate -5k", "--audio-bitrate '-5k'"},
        {o + " --pix-fmt yuv999", "--pix-fmt 'yuv999'"},
        {o + " --audio-codec libx264", "--audio-codec 'libx264'"},
        {o + " --set color=blurple", "--set 'color=blurple'"},
        {o + " --set color=random", "--set 'color=random'"},
        {o + " --set rect=0:0:65:48", "--set 'rect=0:0:65:48'"},
        {o + " --set rect=0:0:64", "--set 'rect=0:0:64'"},
        {o + " --set rota=cw45", "--set 'rota=cw45'"},
        {o + " --set nokey=1", "--set: unknown key"},
        {"placeholder " + in + "-o " + Quote(dir / "p.png") + " --at 99999999999999999999", "--at"},
        {"placeholder " + in + "-o " + Quote(dir / "p.png") + " --at 3frames", "--at '3frames'"},
    };
    for (const auto &[args, says] : values) {
        Result r = Host(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("hyhost: " + says, 0), 0u) << args << ": " << r.err;
        bool example = false;
        for (const char *hint : {"e.g.", "expected", "try "}) example |= r.err.find(hint) != std::string::npos;
        EXPECT_TRUE(example) << "an example: " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
    }
    for (const Row &row : rows) {
        Result r = Host(row.args);
        EXPECT_EQ(r.status, row.status) << row.args << ": " << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << row.args << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
    }
    EXPECT_EQ(Slurp(dir / "init-stream0.m4s"), "someone's file");
    EXPECT_TRUE(Strays({"source.mkv", "init-stream0.m4s"}).empty());
}

TEST_F(Faults, SettingsFilesThatCannotBeUsedAreNamed) {
    fs::path src = MakeClip("source.mkv", 5, 64, 48);
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
    EXPECT_NE(r.err.find(kept[0].string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(prefs.string()), std::string::npos) << r.err;
    EXPECT_EQ(Prefs("show").err, "");  // replaced by a valid file

    // A full disk is named as such.
    r = Run("PLATFORM_FILES_FAULT=1:ENOSPC " + std::string(PREFS_PATH) + " set rota=180");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no space left on the device"), std::string::npos) << r.err;

    // A relative XDG_CONFIG_HOME is ignored by showing and writing alike.
    fs::remove_all(dir / "config");
    fs::create_directories(dir / ".config");
    r = Run("cd " + Quote(dir) + " && XDG_CONFIG_HOME=config " + PREFS_PATH + " set rota=90");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run("cd " + Quote(dir) + " && XDG_CONFIG_HOME=config " + PREFS_PATH + " show");
    EXPECT_NE(r.out.find((dir / ".config" / "qzvel-Prefs").string()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("rota       90"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(dir / "config"));
}

}  // namespace
