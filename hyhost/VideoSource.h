// Reading clips with FFmpeg: what a clip holds, its frames in order together
// with its audio (for a render), and single frames at any index (for the
// plug-in's frame requests outside the render order, and the dialog).
#pragma once

#include "Picture.h"

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

struct ClipInfo {
    int width = 0;
    int height = 0;
    AVRational frameRate{25, 1};   // frames per second
    int64_t frameCount = 0;        // counted from the file's packets, not guessed from the duration
    bool hasAudio = false;
    int sampleRate = 0;
    int channels = 0;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;   // as decoded
};

struct AVFrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameFree>;

// Owners of the codec and scaler contexts that reading and writing both use.
struct AVCodecContext;
struct SwsContext;
struct CodecFree {
    void operator()(AVCodecContext *c) const;
};
struct SwsFree {
    void operator()(SwsContext *s) const;
};

// The audio a render wants: samples converted to this format on reading.
struct AudioTarget {
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    int sampleRate = 0;
    AVChannelLayout layout{};
};

struct ClipDecoder;   // one open file with its decoders
struct ClipDecoderDelete {
    void operator()(ClipDecoder *d) const;
};
using ClipDecoderPtr = std::unique_ptr<ClipDecoder, ClipDecoderDelete>;

// Opens a clip and counts its frames. On failure returns nil and a one-line
// reason in error (missing, unreadable, not a video, damaged).
ClipDecoderPtr OpenClipDecoder(const std::string &path, std::string &error);
const ClipInfo &GetClipInfo(const ClipDecoder &decoder);

// Makes ReadNextUnit also deliver the audio, converted to target.
bool SetAudioTarget(ClipDecoder &decoder, const AudioTarget &target, std::string &error);

enum class UnitKind { Video, Audio, End, Error };

// The next unit of the clip in file order: a video frame (converted to ARGB,
// scaled to width x height with good quality, numbered from 0) or a block of
// audio samples in the audio target's format. Audio blocks are only
// delivered after SetAudioTarget.
UnitKind ReadNextUnit(ClipDecoder &decoder, int width, int height, ArgbPicture &video,
                      int64_t &videoIndex, AVFramePtr &audio, std::string &error);

// Frame `index` of the clip scaled to width x height. Sequential requests
// decode forward; others seek to the nearest earlier key frame. False with a
// reason when the index is outside the clip or the frame cannot be decoded.
bool FetchClipFrame(ClipDecoder &decoder, int64_t index, int width, int height,
                    bool highQuality, ArgbPicture &picture, std::string &error);

// Scales an ARGB picture into another size (used when the plug-in asks for a
// frame at another size than the render's).
bool ScalePicture(const ArgbPicture &source, int width, int height, bool highQuality,
                  ArgbPicture &result);

// Text of an FFmpeg error code.
std::string AVErrorText(int code);
