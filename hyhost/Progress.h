// Progress of a render as the ffmpeg command reports it: frames encoded (not
// decoded, so the rate and the time left are not front-loaded), fps, speed,
// elapsed time, time left and output size; a line redrawn in place on a
// terminal, and key=value blocks for scripts (--progress FILE|pipe:1),
// each ending progress=continue, the last progress=end.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

struct ProgressSnapshot {
    int64_t frames = 0;     // encoded
    int64_t total = 0;      // frames the output will hold
    double elapsed = 0;     // seconds
    double frameRate = 25;  // of the clip, for the output's time
    int64_t bytes = 0;      // output size so far
    double Fps() const { return elapsed > 0 ? frames / elapsed : 0; }
    double OutSeconds() const { return frameRate > 0 ? frames / frameRate : 0; }
    double Speed() const { return elapsed > 0 ? OutSeconds() / elapsed : 0; }
    // From the encoding rate so far; negative before any frame is encoded.
    double SecondsLeft() const { return frames > 0 ? (total - frames) / Fps() : -1; }
};

// The terminal line (no line end) and the key=value block.
std::string ProgressLine(const ProgressSnapshot &s);
std::string ProgressBlock(const ProgressSnapshot &s, bool end);

class ProgressReporter {
public:
    // terminal: redraw a line on standard error; target: "", a file, or
    // pipe:1 / pipe:2. False with a one-line error when target cannot be opened.
    bool Open(bool terminal, const std::string &target, int64_t total, double frameRate, std::string &error);
    ~ProgressReporter();
    // A frame was encoded; reports at most twice a second. bytes() is asked
    // only when reporting.
    template <class Bytes>
    void Encoded(int64_t frames, Bytes bytes) {
        // A second pass over the clip (audio encoded after all) reports
        // only past the first one's frames, so frame= never goes back.
        auto now = Clock::now();
        if (frames <= reported_ || now - last_ < std::chrono::milliseconds(500)) return;
        last_ = now;
        Report(frames, bytes(), false);
    }
    // The last report; the terminal line is ended.
    void Finish(int64_t frames, int64_t bytes);

private:
    using Clock = std::chrono::steady_clock;
    void Report(int64_t frames, int64_t bytes, bool end);
    bool terminal_ = false;
    FILE *file_ = nullptr;
    bool ownFile_ = false;
    bool drawn_ = false;
    int64_t total_ = 0;
    int64_t reported_ = 0;
    double frameRate_ = 25;
    Clock::time_point start_ = Clock::now(), last_ = Clock::now();
};

// "1:02:03" / "2:03" for a number of seconds.
std::string ClockText(double seconds);
// "1.2 MB", "640 kB", "512 B".
std::string SizeText(int64_t bytes);
