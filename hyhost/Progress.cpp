#include "Progress.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <algorithm>

std::string ClockText(double seconds) {
    if (!(seconds >= 0)) return "-:--";
    const long s = std::lround(seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

std::string SizeText(int64_t bytes) {
    char buf[32];
    if (bytes >= 1000000)
        std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1e6);
    else if (bytes >= 1000)
        std::snprintf(buf, sizeof buf, "%.0f kB", bytes / 1e3);
    else
        std::snprintf(buf, sizeof buf, "%lld B", (long long)bytes);
    return buf;
}

std::string ProgressLine(const ProgressSnapshot &s) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "frame %lld/%lld  %.1f fps  %.2fx  size %s  elapsed %s  left %s",
                  (long long)s.frames, (long long)s.total, s.Fps(), s.Speed(), SizeText(s.bytes).c_str(),
                  ClockText(s.elapsed).c_str(), ClockText(s.SecondsLeft()).c_str());
    return buf;
}

std::string ProgressBlock(const ProgressSnapshot &s, bool end) {
    const int64_t outMicros = std::llround(s.OutSeconds() * 1e6);
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "frame=%lld\ntotal_frames=%lld\nfps=%.2f\ntotal_size=%lld\nout_time_us=%lld\n"
                  "out_time=%02lld:%02lld:%02lld.%06lld\nspeed=%.3gx\nelapsed=%.3f\nleft=%.3f\nprogress=%s\n",
                  (long long)s.frames, (long long)s.total, s.Fps(), (long long)s.bytes, (long long)outMicros,
                  (long long)(outMicros / 3600000000), (long long)(outMicros / 60000000 % 60),
                  (long long)(outMicros / 1000000 % 60), (long long)(outMicros % 1000000), s.Speed(), s.elapsed,
                  std::max(0.0, s.SecondsLeft()), end ? "end" : "continue");
    return buf;
}

bool ProgressReporter::Open(bool terminal, const std::string &target, int64_t total, double frameRate,
                            std::string &error) {
    terminal_ = terminal;
    total_ = total;
    frameRate_ = frameRate;
    start_ = last_ = Clock::now();
    if (target == "pipe:1" || target == "-") {
        file_ = stdout;
    } else if (target == "pipe:2") {
        file_ = stderr;
    } else if (!target.empty()) {
        file_ = std::fopen(target.c_str(), "w");
        if (!file_) return error = "--progress: cannot write '" + target + "': " + std::strerror(errno), false;
        ownFile_ = true;
    }
    return true;
}

ProgressReporter::~ProgressReporter() {
    if (ownFile_) std::fclose(file_);
}

void ProgressReporter::Report(int64_t frames, int64_t bytes, bool end) {
    ProgressSnapshot s;
    reported_ = std::max(reported_, frames);
    s.frames = frames;
    s.total = total_;
    s.elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    s.frameRate = frameRate_;
    s.bytes = bytes;
    if (terminal_) {
        // Padded so a shorter line covers the longer one before it.
        std::fprintf(stderr, "\r%-100s", ProgressLine(s).c_str());
        if (end) std::fputc('\n', stderr);
        std::fflush(stderr);
        drawn_ = true;
    }
    if (file_) {
        std::fputs(ProgressBlock(s, end).c_str(), file_);
        std::fflush(file_);
    }
}

void ProgressReporter::Finish(int64_t frames, int64_t bytes) { Report(frames, bytes, true); }
