// `hyhost render`: a clip through a plug-in into a new file. Frames travel
// decode -> plug-in -> encode on three threads with bounded queues; the
// plug-in gets one message at a time on the calling thread.
#pragma once

#include <cstdint>
#include <string>

// Smart render: copy the GOPs the selection leaves alone. Auto tries it and
// falls back silently; On says why when it cannot be done.
enum class SmartMode { Auto, On, Off };

struct RenderRequest {
    std::string input;
    int stream = -1;  // video stream by its index in the file; -1: the default one
    std::string output;
    std::string plugin = "Kelvarin";
    std::string from;      // FRAME or TIME; empty: 0
    std::string frames;    // number of frames; empty with duration empty: to the end
    std::string duration;  // TIME
    int32_t fadeIn = 0;
    int32_t fadeOut = 0;
    bool preview = false;       // proxyOnly: quick, no audio through the plug-in
    int width = 0, height = 0;  // 0: the clip's size
    std::string codec;
    std::string preset;
    bool lossless = false;
    bool quiet = false;
    bool stats = false;
    SmartMode smart = SmartMode::Auto;
};

struct RenderOutcome {
    int exitCode = 0;   // 0, 1 failure, 130 interrupted
    std::string error;  // one line when exitCode != 0
    int64_t framesWritten = 0;
    int64_t selectionStart = 0, selectionCount = 0;
    double wallSeconds = 0, pluginSeconds = 0;
};

RenderOutcome RunRender(const RenderRequest &request);

// "120" is a frame number; "4.8", "4.8s", "0:04.8", "1:02:03" are times,
// turned into frames at the clip's rate. False for anything else.
bool ParseFrameOrTime(const std::string &text, double framesPerSecond, bool plainIsFrames, int64_t &frames);
