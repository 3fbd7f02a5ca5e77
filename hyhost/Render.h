// `hyhost render`: a clip through a plug-in into a new file. Frames travel
// decode -> plug-in -> encode on three threads with bounded queues; the
// plug-in gets one message at a time on the calling thread.
#pragma once

#include "JobSettings.h"
#include "Options.h"

#include <cstdint>
#include <string>

// Smart render: copy the GOPs the selection leaves alone. Auto tries it and
// falls back silently; On says why when it cannot be done.
enum class SmartMode { Auto, On, Off };

// What to do when the output exists already.
enum class Replace { Ask, Yes, No };

// Encoder choices beyond the codec; empty / 0 / -1: the defaults.
struct EncoderOptions {
    std::string codec;
    std::string preset;
    int crf = -1;
    int64_t bitRate = 0;
    std::string pixelFormat;
    std::string audioCodec;  // "copy": the source's audio packets as they are
    int64_t audioBitRate = 0;
};

struct RenderRequest {
    std::string input;
    int stream = -1;  // video stream by its index in the file; -1: the default one
    std::string output;
    std::string plugin = "Kelvarin";
    std::string from;      // a time, or a frame as "120f"; empty: 0
    std::string frames;    // number of frames; empty with duration empty: to the end
    std::string duration;  // a time
    int32_t fadeIn = 0;
    int32_t fadeOut = 0;
    bool preview = false;      // proxyOnly: the plug-in may take low-quality frames and passes no audio
    bool previewMute = false;  // in preview, silence the selection's audio as the plug-in passes it
    SizeRequest size;          // 0x0: the clip's size
    EncoderOptions encoder;
    bool lossless = false;
    Replace replace = Replace::Ask;
    SettingsRequest settings;
    std::string progress;  // key=value progress to a file or pipe:1
    bool quiet = false;
    bool stats = false;
    SmartMode smart = SmartMode::Auto;
};

struct RenderOutcome {
    int exitCode = 0;   // 0, 1 failure, 2 bad arguments, 128+N interrupted by signal N
    std::string error;  // one line when exitCode != 0
    int64_t framesWritten = 0;
    int64_t selectionStart = 0, selectionCount = 0;
    int64_t outputBytes = 0;
    double wallSeconds = 0, pluginSeconds = 0, frameRate = 0;
};

RenderOutcome RunRender(const RenderRequest &request);

// Whether an existing output may be replaced: -y, -n, or the user's answer
// on a terminal ("File 'x' already exists. Overwrite? [y/N]"). False with
// the one line that says why not.
bool MayReplaceOutput(const std::string &output, Replace replace, std::string &error);

struct ClipDecoder;
// A time ("4.5", "0:04.5") or a frame ("120f") of the clip as a frame index;
// false when the text is neither.
bool ClipPointToFrame(const std::string &text, ClipDecoder &clip, int64_t &frame);
