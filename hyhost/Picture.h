// A plain 32-bit picture: bytes A,R,G,B per pixel, rows width*4 apart.
// This is how frames travel between the decoder, the plug-in and the encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct ArgbPicture {
    int width = 0;
    int height = 0;
    std::unique_ptr<uint8_t[]> pixels;  // width*height*4 bytes, uninitialised on creation

    std::size_t RowBytes() const { return std::size_t(width) * 4; }
    std::size_t ByteCount() const { return RowBytes() * std::size_t(height); }
    uint8_t *Row(int y) { return pixels.get() + RowBytes() * std::size_t(y); }
    const uint8_t *Row(int y) const { return pixels.get() + RowBytes() * std::size_t(y); }
};

// A picture of width x height whose pixels are not initialised.
inline ArgbPicture MakePicture(int width, int height) {
    ArgbPicture p;
    p.width = width;
    p.height = height;
    p.pixels.reset(new uint8_t[std::size_t(width) * std::size_t(height) * 4]);
    return p;
}
