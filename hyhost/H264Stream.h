// H.264 as MP4, MOV and Matroska carry it: NAL units with a length before
// each, the parameter sets in the stream's avcC configuration. And an encoder
// whose stream a decoder takes as the continuation of a source's, so that
// re-encoded GOPs can stand between copied ones.
#pragma once

#include "Render.h"
#include "VideoSource.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;

struct AvcConfig {
    uint8_t header[4] = {};  // version, profile, compatibility, level
    int lengthSize = 4;      // bytes before each NAL unit of a packet
    std::vector<std::string> sps, pps;
    std::string tail;  // what follows the picture parameter sets (the High profiles' chroma and depth)
};

bool ParseAvcC(std::span<const uint8_t> d, AvcConfig &c);

// Whether a length-prefixed packet holds an IDR slice: the only kind of
// key frame after which no frame refers to one before it.
bool HoldsIdr(std::span<const uint8_t> d, int lengthSize);

// A parameter set id (1 to 31) the source's sets do not use; -1 when there
// is none or the source's ids cannot be read.
int FreeParameterSetId(const AvcConfig &source);

// An encoder whose stream the source's decoder takes as a continuation of
// its own: same profile, level, pixel format, size, aspect and colour, its
// parameter sets under ids of their own (`setId`) and independent of the
// pictures (stitchable), no B-frames, so each GOP re-encoded can be joined
// to the copied ones by timestamps alone.
CodecPtr OpenMatchingEncoder(const AVStream *in, int setId, const EncoderOptions &enc, std::string &error);

// The output's video configuration: the source's parameter sets, which the
// copied packets refer to, and the re-encoded ones beside them.
bool MergeParameterSets(const AvcConfig &source, const AVCodecContext *encoder, std::string &merged,
                        std::string &error);

// Annex B packets from the encoder into the container's length-prefixed
// form; the parameter sets are in the output's configuration already.
void ToLengthPrefixed(AVPacket &pkt, int lengthSize);
