// CopyBits: any rectangle of one picture onto any rectangle of another.
//
// Destination pixel x of dstRect takes source column
//   srcRect.left + floor((2 (x - dstRect.left) + 1) * srcWidth / (2 * dstWidth)),
// the source pixel under the destination pixel's centre (nearest neighbour),
// and likewise for rows; equal sizes copy exactly. Destination pixels whose
// source pixel lies outside the source picture are left as they are. All
// transfer modes copy the pixels unchanged (alpha included).
#include "QuickDraw.h"
#include "quickdraw/QDInternal.h"

#include <vector>

namespace {

int32_t SourceIndex(int32_t i, int32_t srcStart, int32_t srcLen, int32_t dstLen) {
    return srcStart + static_cast<int32_t>((2 * int64_t(i) + 1) * srcLen / (2 * int64_t(dstLen)));
}

bool SameBuffer(const BitMap &a, const BitMap &b) { return a.baseAddr == b.baseAddr; }

}  // namespace

extern "C" {

PLATFORM_API void CopyBits(const BitMap *src, const BitMap *dst, const Rect *srcRect, const Rect *dstRect,
                           short /*mode*/, RgnHandle maskRgn) {
    if (!src || !dst || !srcRect || !dstRect || !src->baseAddr || !dst->baseAddr) return;
    const QDBox sr = QDBoxOf(*srcRect), dr = QDBoxOf(*dstRect);
    if (sr.Empty() || dr.Empty()) return;

    // Where the destination may change: the picture, the current port's clip
    // when the destination is the current port, and the mask.
    QDBox clip = QDIntersect(dr, QDBoxOf(dst->bounds));
    GrafPort *current = QDCurrentPort();
    if (current && (dst == &current->pixMap || (dst->port && dst->port == current)))
        clip = QDIntersect(clip, QDBoxOf(current->clipRect));
    if (maskRgn) clip = QDIntersect(clip, QDRegionBox(maskRgn));
    if (clip.Empty()) return;

    // Source index of every destination column and row in the clip; keep the
    // run whose sources lie inside the source picture (the maps are monotonic).
    const QDBox sb = QDBoxOf(src->bounds);
    std::vector<int32_t> cols(static_cast<size_t>(clip.Width()));
    std::vector<int32_t> rows(static_cast<size_t>(clip.Height()));
    QDBox out{clip.right, clip.bottom, clip.left, clip.top};
    for (int32_t x = clip.left; x < clip.right; ++x) {
        const int32_t s = SourceIndex(x - dr.left, sr.left, sr.Width(), dr.Width());
        cols[size_t(x - clip.left)] = s;
        if (s >= sb.left && s < sb.right) {
            out.left = std::min(out.left, x);
            out.right = std::max(out.right, x + 1);
        }
    }
    for (int32_t y = clip.top; y < clip.bottom; ++y) {
        const int32_t s = SourceIndex(y - dr.top, sr.top, sr.Height(), dr.Height());
        rows[size_t(y - clip.top)] = s;
        if (s >= sb.top && s < sb.bottom) {
            out.top = std::min(out.top, y);
            out.bottom = std::max(out.bottom, y + 1);
        }
    }
    if (out.Empty()) return;

    const size_t spanBytes = size_t(out.Width()) * 4;
    if (sr.Width() == dr.Width() && sr.Height() == dr.Height()) {
        // Exact copy; rows run bottom-up when moving down inside one picture.
        const int32_t x0 = cols[size_t(out.left - clip.left)];
        const bool bottomUp = SameBuffer(*src, *dst) && rows[size_t(out.top - clip.top)] < out.top;
        for (int32_t i = 0; i < out.Height(); ++i) {
            const int32_t y = bottomUp ? out.bottom - 1 - i : out.top + i;
            std::memmove(QDPixelAt(*dst, out.left, y), QDPixelAt(*src, x0, rows[size_t(y - clip.top)]), spanBytes);
        }
    } else {
        // Scaling within one picture reads from a copy of the source rows used.
        const int32_t sy0 = rows[size_t(out.top - clip.top)];
        const int32_t sy1 = rows[size_t(out.bottom - 1 - clip.top)] + 1;
        const int32_t sx0 = cols[size_t(out.left - clip.left)];
        const int32_t sx1 = cols[size_t(out.right - 1 - clip.left)] + 1;
        std::vector<uint32_t> copy;
        const bool viaCopy = SameBuffer(*src, *dst);
        if (viaCopy) {
            copy.resize(size_t(sx1 - sx0) * size_t(sy1 - sy0));
            for (int32_t y = sy0; y < sy1; ++y)
                std::memcpy(&copy[size_t(y - sy0) * size_t(sx1 - sx0)], QDPixelAt(*src, sx0, y), size_t(sx1 - sx0) * 4);
        }
        auto sourceRow = [&](int32_t sy) -> const uint32_t * {
            return viaCopy ? &copy[size_t(sy - sy0) * size_t(sx1 - sx0)] : QDPixelAt(*src, sx0, sy);
        };
        const int32_t *colMap = &cols[size_t(out.left - clip.left)];
        for (int32_t y = out.top; y < out.bottom; ++y) {
            uint32_t *d = QDPixelAt(*dst, out.left, y);
            const int32_t sy = rows[size_t(y - clip.top)];
            if (y > out.top && sy == rows[size_t(y - 1 - clip.top)]) {  // repeated row
                std::memcpy(d, QDPixelAt(*dst, out.left, y - 1), spanBytes);
                continue;
            }
            const uint32_t *s = sourceRow(sy);
            for (int32_t i = 0; i < out.Width(); ++i) d[i] = s[colMap[i] - sx0];
        }
    }
    if (dst->port) {
        const Rect changed = QDRectOf(out);
        QDPortChanged(dst->port, &changed);
    }
}

}  // extern "C"
