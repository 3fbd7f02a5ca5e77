#include "FrameBytes.h"

#include "PlatformRaster.h"

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
    if constexpr (std::endian::native == std::endian::little)
        return std::rotl(v, 8);
    else
        return std::rotr(v, 8);
}
inline uint32_t ToRGBA(uint32_t v) {
    if constexpr (std::endian::native == std::endian::little)
        return std::rotr(v, 8);
    else
        return std::rotl(v, 8);
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
        // frame, which `out` may be), the untouched frame blended over it with
        // the host's fade rule, and the row put in place.
        for (unsigned x = 0; x < width; ++x) scratchRow[x] = ToRGBA(Load(row + 4 * std::size_t(x)));
        const auto *s = reinterpret_cast<const uint8_t *>(source + std::size_t(y) * width);
        auto *e = reinterpret_cast<uint8_t *>(scratchRow);
        PlatformBlend(s, 0, e, 0, int32_t(width), 1, op);
        std::memcpy(o, scratchRow, 4 * std::size_t(width));
    }
}

int OpacityForAmount(double amount) {
    if (std::isnan(amount)) return 0;
    const double a = std::clamp(amount, 0.0, 1.0);
    return static_cast<int>(255.0 * (1.0 - a));
}
