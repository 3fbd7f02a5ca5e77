#include "Options.h"

extern "C" {
#include <libavutil/parseutils.h>
}

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

std::string BadValue(std::string_view option, std::string_view value, std::string_view what, std::string_view example) {
    std::string line(option);
    line.append(" '").append(value).append("' is not ").append(what).append("; e.g. ");
    line.append(option).append(" ").append(example);
    return line;
}

namespace {

bool ParseInt(std::string_view text, int64_t &v) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseDuration(std::string_view text, int64_t &micros) {
    // libavutil takes a leading minus and spaces; a selection has neither.
    if (text.empty() || text.front() == '-' || text.find(' ') != std::string_view::npos) return false;
    const std::string t(text);
    int64_t v = 0;
    if (av_parse_time(&v, t.c_str(), 1) < 0 || v < 0) return false;
    micros = v;
    return true;
}

bool ParseClipPoint(std::string_view text, ClipPoint &point) {
    if (text.size() > 1 && text.back() == 'f') {
        int64_t frame = 0;
        if (!ParseInt(text.substr(0, text.size() - 1), frame) || frame < 0) return false;
        point = ClipPoint{true, frame, 0};
        return true;
    }
    int64_t micros = 0;
    if (!ParseDuration(text, micros)) return false;
    point = ClipPoint{false, 0, micros};
    return true;
}

bool ParseSizeRequest(std::string_view text, SizeRequest &size) {
    const std::size_t x = text.find('x');
    if (x != std::string_view::npos && (text.substr(0, x) == "-2" || text.substr(x + 1) == "-2")) {
        int64_t other = 0;
        const bool widthKept = text.substr(0, x) == "-2";
        if (!ParseInt(widthKept ? text.substr(x + 1) : text.substr(0, x), other) || other <= 0 || other > 16384)
            return false;
        size = widthKept ? SizeRequest{-2, int(other)} : SizeRequest{int(other), -2};
        return true;
    }
    const std::string t(text);
    int w = 0, h = 0;
    if (t.empty() || av_parse_video_size(&w, &h, t.c_str()) < 0 || w > 16384 || h > 16384) return false;
    size = SizeRequest{w, h};
    return true;
}

bool ResolveSize(const SizeRequest &size, int clipWidth, int clipHeight, int &width, int &height) {
    auto even = [](double v) { return std::max(2, int(std::lround(v / 2)) * 2); };
    width = size.width == 0 ? clipWidth : size.width;
    height = size.height == 0 ? clipHeight : size.height;
    if (size.width == -2 && clipHeight > 0) width = even(double(height) * clipWidth / clipHeight);
    if (size.height == -2 && clipWidth > 0) height = even(double(width) * clipHeight / clipWidth);
    return width > 0 && height > 0 && width <= 16384 && height <= 16384;
}

bool ParseColourHex(std::string_view text, std::string &hex) {
    // "random" would make two runs of one command differ.
    if (text.empty() || strncasecmp(text.data(), "random", text.size()) == 0) return false;
    uint8_t rgba[4] = {};
    if (av_parse_color(rgba, std::string(text).c_str(), -1, nullptr) < 0) return false;
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", rgba[0], rgba[1], rgba[2]);
    hex = buf;
    return true;
}

bool PixelRectToFractions(std::string_view text, int width, int height, std::string &fractions) {
    int64_t v[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t colon = i < 3 ? text.find(':') : text.size();
        if (colon == std::string_view::npos || !ParseInt(text.substr(0, colon), v[i])) return false;
        text.remove_prefix(std::min(text.size(), colon + 1));
    }
    // Inside the frame and not empty: outside it the fractions would mean
    // a rectangle the user never drew.
    if (width <= 0 || height <= 0 || v[0] < 0 || v[1] < 0 || v[2] <= 0 || v[3] <= 0 || v[0] + v[2] > width ||
        v[1] + v[3] > height)
        return false;
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.17g,%.17g,%.17g,%.17g", double(v[0]) / width, double(v[1]) / height,
                  double(v[0] + v[2]) / width, double(v[1] + v[3]) / height);
    fractions = buf;
    return true;
}

bool ParseTurn(std::string_view text, int &degrees) {
    bool clockwise = false;
    if (text.rfind("ccw", 0) == 0)
        text.remove_prefix(3);
    else if (text.rfind("cw", 0) == 0) {
        clockwise = true;
        text.remove_prefix(2);
    }
    int64_t v = 0;
    if (!ParseInt(text, v) || v < 0 || v > 270 || v % 90 != 0) return false;
    degrees = clockwise ? int((360 - v) % 360) : int(v);
    return true;
}

bool ParseBitRate(std::string_view text, int64_t &bitsPerSecond) {
    if (text.empty()) return false;
    double scale = 1;
    switch (text.back()) {
        case 'k':
        case 'K':
            scale = 1e3;
            break;
        case 'M':
            scale = 1e6;
            break;
        case 'G':
            scale = 1e9;
            break;
        default:
            break;
    }
    if (scale != 1) text.remove_suffix(1);
    const std::string t(text);
    char *end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (t.empty() || *end || !std::isfinite(v) || v <= 0 || v * scale > 1e12 || v * scale < 1) return false;
    bitsPerSecond = int64_t(std::llround(v * scale));
    return true;
}
