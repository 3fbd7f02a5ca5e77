// Picture builders and readers for tests, and a per-pixel model of the effect
// written from its rule, independent of the compositor's code:
//   background G = the source when `outside` is off, the fill colour when on;
//   outside A: G, or the turned picture where it spills (not with clipActive);
//   inside A: the picture turned about A's centre, the fill colour where it
//   does not reach. The picture is the part of A inside the frame; it is
//   sampled bilinearly at pixel centres (transparent outside it) and laid
//   source-over on what lies beneath.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "Carbon.h"
#include "config/pascalFX.h"

inline Rect R(int top, int left, int bottom, int right) {
    return Rect{static_cast<int16_t>(top), static_cast<int16_t>(left), static_cast<int16_t>(bottom),
                static_cast<int16_t>(right)};
}
inline Point P(int h, int v) { return Point{static_cast<int16_t>(v), static_cast<int16_t>(h)}; }
testing::AssertionResult SameRect(const Rect &got, const Rect &want);
// Exact: every field equal (left, top, right, bottom as SetRelRect takes them).
testing::AssertionResult SameRel(const relRect &got, const relRect &want);
inline std::tuple<int, int, int> Channels(const RGBColor &c) { return {c.red, c.green, c.blue}; }

// Plain bytes A, R, G, B, rows packed.
struct Picture {
    int W = 0, H = 0;
    std::vector<uint8_t> px;
    const uint8_t *At(int x, int y) const { return &px[(static_cast<size_t>(y) * W + x) * 4]; }
};
Picture RandomPicture(int W, int H, std::mt19937 &rng);  // opaque, random colours
GWorldPtr MakeGWorld(int W, int H);
void Load(GWorldPtr gw, const Picture &p);
Picture Read(GWorldPtr gw, Rect area);
uint32_t PixelARGB(GWorldPtr gw, int x, int y);  // 0xAARRGGBB

// One compositor run: frame size, active rectangle, turn, switches, fill colour.
struct Scene {
    int W = 0, H = 0;
    Rect A{};
    SInt16 rota = 1;
    bool outside = false, clipActive = false;
    uint8_t fill[3] = {0, 0, 0};
    std::string Describe() const;
};
struct Expected {
    Picture picture;
    bool exact = true;  // every sample on a pixel centre: no tolerance
};
Expected EffectModel(const Picture &src, const Scene &s);
// Quarter turns landing on whole pixels must match exactly; half-pixel
// cases within this many levels per channel.
constexpr int kHalfPixelTolerance = 2;
// Number of channels off the model; the first is reported as a failure.
int CountMismatches(const Picture &got, const Expected &want, const Scene &s);
// A configuration record for the scene (other colours set to ones the effect must not use).
pluginDataRec ConfigFor(const Scene &s);
