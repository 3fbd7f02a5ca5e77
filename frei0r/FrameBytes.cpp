#include "FrameBytes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

// A pixel's four bytes as one native word, so that moving a byte is a
// rotation (which compilers vectorise) on either byte order.
inline uint32_t Load(const void *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store(void *p, uint32_t v) { std::memcpy(p, &v, 4); }

// R,G,B,A in memory to A,R,G,B: the last byte moves to the front.
inline uint32_t ToARGB(uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) return std::rotl(v, 8);
    else return std::rotr(v, 8);
}
inline uint32_t ToRGBA(uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) return std::rotr(v, 8);
    else return std::rotl(v, 8);
}

// The host's fade mix of `count` bytes: (s * op + e * (255 - op) + 127) / 255,
// with v / 255 for v < 65535 computed as (v + 1 + (v >> 8)) >> 8.
// The bytes go through local blocks: `m` may be `s`, and the compiler need
// not prove they are apart.
template <std::size_t count>
inline void MixBytes(const uint8_t *s, const uint8_t *e, uint8_t *m, int op) {
    const auto us = uint16_t(op), ue = uint16_t(255 - op);
    uint8_t a[count], b[count], r[count];
    std::memcpy(a, s, count);
    std::memcpy(b, e, count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = uint16_t(a[i] * us + b[i] * ue + 127);
        r[i] = uint8_t((v + 1 + (v >> 8)) >> 8);
    }
    std::memcpy(m, r, count);
}

}  // namespace

void RGBAToPicture(const uint32_t *frame, unsigned width, unsigned height, PictureRows picture) {
    for (unsigned y = 0; y < height; ++y) {
        const uint32_t *in = frame + std::size_t(y) * width;
        uint8_t *row = picture.base + ptrdiff_t(y) * picture.rowBytes;
        for (unsigned x = 0; x < width; ++x) Store(row + 4 * std::size_t(x), ToARGB(Load(in + x)));
    }
}

void PictureToRGBA(PictureRows picture, const uint32_t *source, int opacity, unsigned width, unsigned height,
                   uint32_t *out, uint32_t *scratchRow) {
    const int op = std::clamp(opacity, 0, 255);
    for (unsigned y = 0; y < height; ++y) {
        const uint8_t *row = picture.base + ptrdiff_t(y) * picture.rowBytes;
        uint32_t *o = out + std::size_t(y) * width;
        if (op == 0) {
            for (unsigned x = 0; x < width; ++x) o[x] = ToRGBA(Load(row + 4 * std::size_t(x)));
            continue;
        }
        // The mix treats every channel alike, so it runs on the bytes in the
        // frame's order: the effect's row is turned into it first (beside the
        // frame, which `out` may be), then mixed byte by byte.
        for (unsigned x = 0; x < width; ++x) scratchRow[x] = ToRGBA(Load(row + 4 * std::size_t(x)));
        const auto *s = reinterpret_cast<const uint8_t *>(source + std::size_t(y) * width);
        const auto *e = reinterpret_cast<const uint8_t *>(scratchRow);
        auto *m = reinterpret_cast<uint8_t *>(o);
        const std::size_t n = 4 * std::size_t(width);
        std::size_t i = 0;
        // Blocks of a fixed length, which compilers turn into vector code
        // even where they vectorise only loops of known trip count.
        for (; i + 32 <= n; i += 32) MixBytes<32>(s + i, e + i, m + i, op);
        for (; i < n; ++i) MixBytes<1>(s + i, e + i, m + i, op);
    }
}

int OpacityForAmount(double amount) {
    if (std::isnan(amount)) return 0;
    const double a = std::clamp(amount, 0.0, 1.0);
    return static_cast<int>(255.0 * (1.0 - a));
}
