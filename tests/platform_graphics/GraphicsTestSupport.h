// Small helpers for the graphics tests: pictures, pixels and seeded noise.
#pragma once

#include "CoreGraphics.h"
#include "QuickDraw.h"
#include "quickdraw/GrafPortPrivate.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <random>
#include <vector>

// One pixel as its four bytes in memory: alpha, red, green, blue.
using Px = std::array<uint8_t, 4>;

inline Px Opaque(uint8_t r, uint8_t g, uint8_t b) { return {0xFF, r, g, b}; }

// An offscreen picture that disposes of itself.
struct Picture {
    GWorldPtr gw = nullptr;
    explicit Picture(const Rect &bounds) { EXPECT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr); }
    Picture(int width, int height) : Picture(Rect{0, 0, int16_t(height), int16_t(width)}) {}
    ~Picture() { DisposeGWorld(gw); }
    Picture(const Picture &) = delete;
    Picture &operator=(const Picture &) = delete;

    Rect Bounds() const {
        Rect b;
        GetPortBounds(gw, &b);
        return b;
    }
    int Width() const { return Bounds().right; }
    int Height() const { return Bounds().bottom; }
    uint8_t *At(int x, int y) const {
        PixMapHandle pm = GetGWorldPixMap(gw);
        return reinterpret_cast<uint8_t *>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4;
    }
    Px Get(int x, int y) const {
        Px v;
        std::memcpy(v.data(), At(x, y), 4);
        return v;
    }
    void Set(int x, int y, Px v) const { std::memcpy(At(x, y), v.data(), 4); }
    void Fill(const std::function<Px(int, int)> &f) const {
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x) Set(x, y, f(x, y));
    }
    std::vector<Px> Snapshot() const {
        std::vector<Px> all;
        for (int y = 0; y < Height(); ++y)
            for (int x = 0; x < Width(); ++x) all.push_back(Get(x, y));
        return all;
    }
    const BitMap *Bits() const { return GetPortBitMapForCopyBits(gw); }
};

// Distinct, unstructured opaque colours.
inline Px Noise(std::mt19937 &rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    return Opaque(uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)));
}

// Restores the current port and device when a test ends.
struct PortGuard {
    CGrafPtr port;
    GDHandle device;
    PortGuard() { GetGWorld(&port, &device); }
    ~PortGuard() { SetGWorld(port, device); }
};

// Collects the areas a picture reports changed.
inline void LogChanges(GWorldPtr gw, std::vector<Rect> *areas) {
    gw->onChanged = [](GrafPort *, const Rect *area, void *log) {
        static_cast<std::vector<Rect> *>(log)->push_back(*area);
    };
    gw->onChangedContext = areas;
}

// "top,left,bottom,right", to compare a rectangle in one expectation.
inline std::string Show(const Rect &r) {
    return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
           std::to_string(r.right);
}

// Compares a picture with a model pixel by pixel; reports the first miss.
inline ::testing::AssertionResult MatchesModel(const Picture &pic, const std::function<Px(int, int)> &model,
                                               int tolerance = 0) {
    for (int y = 0; y < pic.Height(); ++y)
        for (int x = 0; x < pic.Width(); ++x) {
            const Px got = pic.Get(x, y), want = model(x, y);
            for (int k = 0; k < 4; ++k)
                if (std::abs(got[k] - want[k]) > tolerance)
                    return ::testing::AssertionFailure()
                           << "pixel (" << x << "," << y << ") is " << ::testing::PrintToString(got) << ", model "
                           << ::testing::PrintToString(want);
        }
    return ::testing::AssertionSuccess();
}
