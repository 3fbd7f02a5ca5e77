// Writing clips with FFmpeg: video from ARGB pictures, audio from blocks in
// the encoder's own sample format, muxed into the container the output's
// file name asks for.
#pragma once

#include "Picture.h"
#include "VideoSource.h"

#include <memory>
#include <string>

struct SinkSettings {
    int width = 0;
    int height = 0;
    AVRational frameRate{25, 1};
    std::string videoCodec;   // encoder name; empty: libx264 if present, else mpeg4
    std::string preset;       // encoder speed preset where the encoder has one
    bool lossless = false;    // FFV1 in RGB and PCM audio: decoded frames equal the pictures
    bool withAudio = false;
    int sampleRate = 0;       // of the source; kept when the encoder allows it
    AVChannelLayout layout{}; // of the source (not owned)
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

// What the audio blocks given to WriteAudio must look like.
AudioTarget GetAudioInput(const ClipEncoder &encoder);

bool WriteVideo(ClipEncoder &encoder, const ArgbPicture &picture, std::string &error);
// Samples in GetAudioInput's format; any block length.
bool WriteAudio(ClipEncoder &encoder, const AVFrame &samples, std::string &error);
// Flushes the encoders and writes the trailer.
bool FinishClip(ClipEncoder &encoder, std::string &error);

// Multiplies samples [first, first+count) of a block by gain (0..1): the
// audio level the plug-in passed for the frame they belong to.
void ScaleSamples(AVFrame &samples, int first, int count, double gain);
