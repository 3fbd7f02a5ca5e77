// Writing clips with FFmpeg: video from decoded frames (passed on in their
// own pixel format where the encoder takes it) or from ARGB pictures,
// audio copied or encoded, the source's other streams, chapters and
// metadata copied, muxed into the container the output's file name asks for.
#pragma once

#include "Picture.h"
#include "VideoSource.h"

#include <memory>
#include <string>
#include <vector>

struct SinkSettings {
    int width = 0;
    int height = 0;
    AVRational frameRate{25, 1};
    AVRational timeBase{0, 1};  // unit of the frames' pts; {0,1}: one frame

    // The clip the frames come from (nil for made-up pictures): the output
    // follows its pixel format, colour, aspect, field order and rotation,
    // and takes its other streams, chapters and metadata.
    const AVFormatContext *source = nullptr;
    int sourceVideo = -1;
    int sourceAudio = -1;          // the audio carried through the plug-in's levels
    bool audioMayBeCopied = true;  // false: always decoded, levelled and encoded

    std::string videoCodec;   // encoder name; empty: libx264 where the container takes it
    std::string preset;       // encoder speed preset where the encoder has one
    bool lossless = false;    // FFV1 in the source's pixel format, PCM audio
    int crf = -1;             // constant quality where the encoder has it; -1: the encoder's default
    int64_t bitRate = 0;      // video bits per second; 0: quality-based
    std::string pixelFormat;  // empty: the source's where the encoder takes it
    std::string audioCodec;   // audio encoder name; empty: AAC where the container takes it
    int64_t audioBitRate = 0;

    // Audio to encode, from made-up samples or the decoded source.
    bool withAudio = false;
    int sampleRate = 0;        // kept when the encoder allows it
    AVChannelLayout layout{};  // (not owned)
    AVSampleFormat sourceSampleFormat = AV_SAMPLE_FMT_NONE;
};

struct ClipEncoder;
struct ClipEncoderDelete {
    void operator()(ClipEncoder *e) const;
};
using ClipEncoderPtr = std::unique_ptr<ClipEncoder, ClipEncoderDelete>;

// Prepares an output whose format comes from formatPath's extension and whose
// bytes go to writePath (a temporary name next to it). Nil and a one-line
// reason on failure.
ClipEncoderPtr OpenClipEncoder(const std::string &formatPath, const std::string &writePath,
                               const SinkSettings &settings, std::string &error);

// Source streams whose packets WritePacket takes as they are.
const std::vector<int> &GetCopiedStreams(const ClipEncoder &encoder);
// Whether the source's audio (sourceAudio) is copied rather than encoded.
bool AudioIsCopied(const ClipEncoder &encoder);
// One line each: what was chosen for the output, what could not be kept and why.
const std::vector<std::string> &GetSinkNotes(const ClipEncoder &encoder);

// What the audio blocks given to WriteAudio must look like.
AudioTarget GetAudioInput(const ClipEncoder &encoder);

// A decoded frame, pts in the settings' time base; converted only when the
// encoder cannot take its pixel format or size.
bool WriteVideoFrame(ClipEncoder &encoder, AVFrame &frame, std::string &error);
// An ARGB picture; times and frame properties from `like` (nil: the next frame).
bool WriteVideo(ClipEncoder &encoder, const ArgbPicture &picture, const AVFrame *like, std::string &error);
// Samples in GetAudioInput's format; any block length. The first block's
// pts (in samples) sets the audio's start.
bool WriteAudio(ClipEncoder &encoder, const AVFrame &samples, std::string &error);
// A packet of a copied source stream, in that stream's time base.
bool WritePacket(ClipEncoder &encoder, AVPacket &packet, std::string &error);
// Flushes the encoders and writes the trailer.
bool FinishClip(ClipEncoder &encoder, std::string &error);

// Multiplies samples [first, first+count) of a block by gain (0..1): the
// audio level the plug-in passed for the frame they belong to.
void ScaleSamples(AVFrame &samples, int first, int count, double gain);
