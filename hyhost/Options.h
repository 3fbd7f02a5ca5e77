// The values hyhost's options take, in the syntax the ffmpeg command uses
// (libavutil parses them), so video people can type what they are used to.
// Each parser returns false for anything it does not take; BadValue makes
// the one line that says so.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Exit status for a bad command line.
constexpr int kExitBadArguments = 2;

// "--opt 'value' is not <what>; e.g. --opt <example>"
std::string BadValue(std::string_view option, std::string_view value, std::string_view what, std::string_view example);

// A point in a clip: a frame number ("120f") or a time as ffmpeg takes a
// duration ("90", "1:30", "4.5", "4.5s", "00:01:02.040", "1500ms").
struct ClipPoint {
    bool isFrame = false;
    int64_t frame = 0;
    int64_t micros = 0;
};
bool ParseClipPoint(std::string_view text, ClipPoint &point);
// A time alone (no frame suffix), in microseconds, never negative.
bool ParseDuration(std::string_view text, int64_t &micros);

// "1280x720", "hd720", "vga"..., or one side -2: that side follows the
// source's aspect (rounded to even, as ffmpeg's scale does). 0x0: unset.
struct SizeRequest {
    int width = 0, height = 0;  // -2: from the other side and the aspect
};
bool ParseSizeRequest(std::string_view text, SizeRequest &size);
// The size for a clip of clipWidth x clipHeight; false when it is unusable.
bool ResolveSize(const SizeRequest &size, int clipWidth, int clipHeight, int &width, int &height);

// A colour by name ("red", "DarkBlue"), "#RRGGBB" or "0xRRGGBB", as "#RRGGBB".
bool ParseColourHex(std::string_view text, std::string &hex);

// "x:y:w:h" in pixels of a width x height frame, as LEFT,TOP,RIGHT,BOTTOM
// fractions of the frame (what kelvarin-prefs' rect= takes).
bool PixelRectToFractions(std::string_view text, int width, int height, std::string &fractions);

// A turn named with its direction as seen: "90" or "ccw90" is a quarter turn
// counter-clockwise, "cw90" (= "270") a quarter turn clockwise; degrees
// counter-clockwise, 0..270.
bool ParseTurn(std::string_view text, int &degrees);

// A bit rate: "2500000", "2500k", "2.5M".
bool ParseBitRate(std::string_view text, int64_t &bitsPerSecond);
