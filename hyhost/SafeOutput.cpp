#include "SafeOutput.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Read by the signal handler and the exit handler: plain storage only.
char gPendingTemp[4096];
volatile std::sig_atomic_t gInterrupts = 0;
volatile std::sig_atomic_t gSignal = 0;
volatile std::sig_atomic_t gPolling = 0;

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

void RemovePendingTemp() {
    if (gPendingTemp[0]) unlink(gPendingTemp);
}

void OnExit() { RemovePendingTemp(); }

void Say(const char *text) {
    ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
    (void)ignored;
}

void OnSignal(int sig) {
    gSignal = sig;
    gInterrupts = gInterrupts + 1;
    if (gPolling && gInterrupts == 1) return;  // the render stops at the next frame
    RemovePendingTemp();
    if (gPolling) {
        Say("\nhyhost: interrupted again: stopped at once; nothing was written\n");
        _exit(128 + sig);
    }
    // End the way the signal ends a process, so the caller sees which.
    signal(sig, SIG_DFL);
    if (sig == SIGQUIT) _exit(128 + sig);  // without a core dump
    raise(sig);
}

void InstallHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals) sigaddset(&sa.sa_mask, s);  // one handler at a time
    for (int s : kSignals) sigaction(s, &sa, nullptr);
}

// The command name of a process, "" when it does not exist.
std::string CommandOf(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// ".NAME.part-PID" files of runs that died without cleaning up: no living
// process holds their lock, and their PID is gone (or now another program's).
void RemoveLeftovers(const fs::path &dir, const std::string &name) {
    const std::string prefix = "." + name + ".part-";
    const std::string self = CommandOf(getpid());
    DIR *d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    while (const dirent *e = readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        const char *digits = e->d_name + prefix.size();
        char *end = nullptr;
        const long pid = std::strtol(digits, &end, 10);
        if (!*digits || *end || pid <= 0 || pid == getpid()) continue;
        const std::string path = (dir / e->d_name).string();
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
        const std::string owner = CommandOf(pid);
        if (free && (owner.empty() || owner != self) && unlink(path.c_str()) == 0)
            std::fprintf(stderr, "hyhost: removed '%s', left unfinished by an earlier run that was killed\n",
                         path.c_str());
        close(fd);
    }
    closedir(d);
}

}  // namespace

bool CheckOutputPath(const std::string &input, const std::string &output, std::string &error) {
    std::error_code ec;
    if (output.empty()) {
        error = "no output file given; add -o OUTPUT";
        return false;
    }
    fs::path out(output);
    if (fs::is_directory(out, ec)) {
        error = "output '" + output + "' is a folder; give a file name";
        return false;
    }
    if (!input.empty() &&
        (fs::equivalent(input, out, ec) || fs::weakly_canonical(input, ec) == fs::weakly_canonical(out, ec))) {
        error = "output '" + output + "' is the input file; choose another output name";
        return false;
    }
    fs::path dir = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    if (!fs::is_directory(dir, ec)) {
        error = "output folder '" + dir.string() + "' does not exist";
        return false;
    }
    if (access(dir.c_str(), W_OK) != 0) {
        error = "output folder '" + dir.string() + "' is not writable; choose another output";
        return false;
    }
    if (fs::exists(out, ec) && access(out.c_str(), W_OK) != 0) {
        error = "output '" + output + "' exists and is not writable";
        return false;
    }
    return true;
}

bool CheckOneFileOutput(const std::string &output, std::string &error) {
    const std::string name = fs::path(output).filename().string();
    const AVOutputFormat *format = av_guess_format(nullptr, name.c_str(), nullptr);
    const std::string muxer = format ? format->name : "";
    static const char *const kSeveral[] = {
        "dash", "hls", "image2",     "segment",           "stream_segment", "ssegment", "smoothstreaming",
        "hds",  "tee", "webm_chunk", "webm_dash_manifest"};
    bool several = name.find('%') != std::string::npos;
    for (const char *m : kSeveral) several = several || muxer == m;
    if (several) {
        error = "'" + output + "' would be written as several files (" + (muxer.empty() ? "a numbered series" : muxer) +
                "); hyhost writes one video file: use .mp4, .mkv or .mov";
        return false;
    }
    return true;
}

PendingOutput::PendingOutput(const std::string &finalPath) : final_(finalPath) {
    fs::path p(finalPath);
    fs::path dir = p.parent_path();
    std::string name = ".";  // built by appending: GCC 12 misreports "literal" + string at -O3
    name.append(p.filename().string()).append(".part-").append(std::to_string(getpid()));
    temp_ = (dir / name).string();
    static bool exitHandler = (std::atexit(OnExit), true);
    (void)exitHandler;
    InstallHandlers();
    RemoveLeftovers(dir, p.filename().string());
    // Known to the signal handlers before it exists, so none can leave it;
    // they wait while the name is copied.
    sigset_t ours, before;
    sigemptyset(&ours);
    for (int sig : kSignals) sigaddset(&ours, sig);
    pthread_sigmask(SIG_BLOCK, &ours, &before);
    if (temp_.size() < sizeof gPendingTemp) {
        // Other threads may take a signal meanwhile: the name counts once its first byte is set.
        gPendingTemp[0] = 0;
        std::memcpy(gPendingTemp + 1, temp_.c_str() + 1, temp_.size());
        std::atomic_signal_fence(std::memory_order_seq_cst);
        gPendingTemp[0] = temp_[0];
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    // Made and locked now; the writer opens it again by name and fills it.
    lock_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (lock_ >= 0) flock(lock_, LOCK_EX | LOCK_NB);
}

PendingOutput::~PendingOutput() {
    if (!committed_) unlink(temp_.c_str());
    gPendingTemp[0] = 0;
    if (lock_ >= 0) close(lock_);
}

bool PendingOutput::Commit(std::string &error) {
    if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
        error = "cannot move the finished file to '" + final_ + "': " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    gPendingTemp[0] = 0;
    return true;
}

void InstallInterruptHandlers() {
    gPolling = 1;
    InstallHandlers();
}

bool InterruptRequested() { return gInterrupts > 0; }

int InterruptSignal() { return gSignal; }

bool MemoryShort(std::size_t frameBytes) {
    void *p = std::malloc(frameBytes * 8);
    std::free(p);
    return p == nullptr;
}

QuietStderr::QuietStderr(bool on) {
    if (!on) return;
    std::fflush(stderr);
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull < 0) return;
    saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ >= 0) dup2(devnull, STDERR_FILENO);
    close(devnull);
}

QuietStderr::~QuietStderr() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
}
