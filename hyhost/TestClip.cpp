#include "TestClip.h"

#include "SafeOutput.h"
#include "VideoSink.h"

#include <cmath>
#include <numbers>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

// 3x5 digits, one row of three bits per line, top line first.
constexpr uint16_t kDigits[10] = {
    0b111'101'101'101'111, 0b010'110'010'010'111, 0b111'001'111'100'111, 0b111'001'111'001'111, 0b101'101'111'001'001,
    0b111'100'111'001'111, 0b111'100'111'101'111, 0b111'001'010'010'010, 0b111'101'111'101'111, 0b111'101'111'001'111};

void FillBox(ArgbPicture &p, int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    for (int y = std::max(0, y0); y < std::min(p.height, y0 + h); ++y)
        for (int x = std::max(0, x0); x < std::min(p.width, x0 + w); ++x) {
            uint8_t *px = p.Row(y) + 4 * x;
            px[0] = 0xFF;
            px[1] = r;
            px[2] = g;
            px[3] = b;
        }
}

}  // namespace

void DrawTestFrame(ArgbPicture &p, int64_t index) {
    int t = int(index);
    for (int y = 0; y < p.height; ++y) {
        uint8_t *row = p.Row(y);
        for (int x = 0; x < p.width; ++x) {
            row[4 * x] = 0xFF;
            row[4 * x + 1] = uint8_t(x * 255 / std::max(1, p.width - 1) + 3 * t);
            row[4 * x + 2] = uint8_t(y * 255 / std::max(1, p.height - 1) + 5 * t);
            row[4 * x + 3] = uint8_t(((x / 16 + y / 16 + t / 4) % 2) ? 200 : 60);
        }
    }
    // A white bar sweeping across, so motion is obvious.
    FillBox(p, (t * 7) % std::max(1, p.width), 0, std::max(2, p.width / 80), p.height, 255, 255, 255);
    // The frame number, black digits on white.
    std::string digits = std::to_string(index);
    int scale = std::max(2, p.height / 60);
    int boxW = int(digits.size()) * 4 * scale + scale, boxH = 7 * scale;
    FillBox(p, 0, 0, boxW, boxH, 255, 255, 255);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        uint16_t glyph = kDigits[digits[i] - '0'];
        for (int gy = 0; gy < 5; ++gy)
            for (int gx = 0; gx < 3; ++gx)
                if (glyph & (1 << (14 - (gy * 3 + gx))))
                    FillBox(p, scale + int(i) * 4 * scale + gx * scale, scale + gy * scale, scale, scale, 0, 0, 0);
    }
}

namespace {

bool FillTone(AVFrame &f, int64_t firstSample, int sampleRate) {
    int channels = f.ch_layout.nb_channels;
    for (int i = 0; i < f.nb_samples; ++i) {
        int64_t s = firstSample + i;
        double seconds = double(s) / sampleRate;
        double pitch = 330.0 + 110.0 * double((s / sampleRate) % 4);
        double v = 0.3 * std::sin(2 * std::numbers::pi * pitch * seconds);
        for (int c = 0; c < channels; ++c) {
            double cv = c % 2 ? v * 0.5 : v;
            switch (AVSampleFormat(f.format)) {
                case AV_SAMPLE_FMT_S16:
                    reinterpret_cast<int16_t *>(f.data[0])[i * channels + c] = int16_t(std::lround(cv * 32767));
                    break;
                case AV_SAMPLE_FMT_S32:
                    reinterpret_cast<int32_t *>(f.data[0])[i * channels + c] = int32_t(std::lround(cv * 2147483647.0));
                    break;
                case AV_SAMPLE_FMT_FLT:
                    reinterpret_cast<float *>(f.data[0])[i * channels + c] = float(cv);
                    break;
                case AV_SAMPLE_FMT_FLTP:
                    reinterpret_cast<float *>(f.extended_data[c])[i] = float(cv);
                    break;
                case AV_SAMPLE_FMT_S16P:
                    reinterpret_cast<int16_t *>(f.extended_data[c])[i] = int16_t(std::lround(cv * 32767));
                    break;
                default:
                    return false;
            }
        }
    }
    return true;
}

}  // namespace

bool WriteTestClip(const std::string &path, const TestClipSettings &clipSettings, std::string &error) {
    PendingOutput pending(path);
    SinkSettings s;
    s.width = clipSettings.width;
    s.height = clipSettings.height;
    s.frameRate = AVRational{clipSettings.framesPerSecond, 1};
    s.lossless = clipSettings.lossless;
    s.withAudio = clipSettings.withAudio;
    s.sampleRate = clipSettings.sampleRate;
    s.layout = AV_CHANNEL_LAYOUT_STEREO;
    s.sourceSampleFormat = AV_SAMPLE_FMT_S16;
    ClipEncoderPtr encoder = OpenClipEncoder(path, pending.TempPath(), s, error);
    if (!encoder) return false;
    ArgbPicture picture = MakePicture(clipSettings.width, clipSettings.height);
    AudioTarget audio = GetAudioInput(*encoder);
    int64_t samplesWritten = 0;
    for (int i = 0; i < clipSettings.frames; ++i) {
        DrawTestFrame(picture, i);
        if (!WriteVideo(*encoder, picture, nullptr, error)) return false;
        if (!clipSettings.withAudio) continue;
        int64_t until = av_rescale(i + 1, audio.sampleRate, clipSettings.framesPerSecond);
        AVFramePtr block(av_frame_alloc());
        block->nb_samples = int(until - samplesWritten);
        block->pts = samplesWritten;
        block->format = audio.format;
        block->sample_rate = audio.sampleRate;
        av_channel_layout_copy(&block->ch_layout, &audio.layout);
        if (av_frame_get_buffer(block.get(), 0) < 0) {
            error = "out of memory for audio";
            return false;
        }
        if (!FillTone(*block, samplesWritten, audio.sampleRate)) {
            error = "the audio encoder wants a sample format the test tone cannot make";
            return false;
        }
        if (!WriteAudio(*encoder, *block, error)) return false;
        samplesWritten = until;
    }
    return FinishClip(*encoder, error) && pending.Commit(error);
}
