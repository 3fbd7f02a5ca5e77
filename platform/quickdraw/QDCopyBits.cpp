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

#include <algorithm>
#include <vector>

namespace {

int32_t SourceIndex(int32_t i, int32_t srcStart, int32_t srcLen, int32_t dstLen) {
    return srcStart + static_cast<int32_t>((2 * int64_t(i) + 1) * srcLen / (2 * int64_t(dstLen)));
}

bool SameBuffer(const BitMap &a, const BitMap &b) { return a.baseAddr == b.baseAddr; }

// Where the destination may change: the picture, the current port's clip
// when the destination is the current port, and the mask.
QDBox DestinationClip(const BitMap &dst, const QDBox &dr, RgnHandle maskRgn) {
    QDBox clip = QDIntersect(dr, QDBoxOf(dst.bounds));
    GrafPort *current = QDCurrentPort();
    if (current && (&dst == &current->pixMap || (dst.port && dst.port == current)))
        clip = QDIntersect(clip, QDBoxOf(current->clipRect));
    if (maskRgn) clip = QDIntersect(clip, QDRegionBox(maskRgn));
    return clip;
}

// The source index of every destination position in [from, to) along one
// axis, and the run [first, end) of those whose source lies in [lo, hi)
// (the map is monotonic).
void MapAxis(int32_t from, int32_t to, int32_t dstStart, int32_t dstLen, int32_t srcStart, int32_t srcLen, int32_t lo,
             int32_t hi, std::vector<int32_t> &map, int32_t &first, int32_t &end) {
    map.resize(static_cast<size_t>(to - from));
    first = to;
    end = from;
    for (int32_t i = from; i < to; ++i) {
        const int32_t s = SourceIndex(i - dstStart, srcStart, srcLen, dstLen);
        map[size_t(i - from)] = s;
        if (s >= lo && s < hi) {
            first = std::min(first, i);
            end = std::max(end, i + 1);
        }
    }
}

// Which source pixel each destination pixel of the clip takes, and the part
// `out` of the clip whose sources lie inside the source picture.
struct CopyMap {
    QDBox clip, out;
    std::vector<int32_t> cols, rows;
    int32_t Col(int32_t x) const { return cols[size_t(x - clip.left)]; }
    int32_t Row(int32_t y) const { return rows[size_t(y - clip.top)]; }
};

// Equal sizes: rows run bottom-up when moving down inside one picture.
void CopyExact(const BitMap &src, const BitMap &dst, const CopyMap &m) {
    const QDBox &out = m.out;
    const size_t spanBytes = size_t(out.Width()) * 4;
    const int32_t x0 = m.Col(out.left);
    const bool bottomUp = SameBuffer(src, dst) && m.Row(out.top) < out.top;
    // Whole rows of two pictures without padding are one block of memory,
    // copied in pieces of 64 KiB: the C library's copy of a block of many
    // megabytes takes a path slower than its copy of many small ones.
    if (!SameBuffer(src, dst) && size_t(src.rowBytes) == spanBytes && size_t(dst.rowBytes) == spanBytes) {
        auto *to = reinterpret_cast<uint8_t *>(QDPixelAt(dst, out.left, out.top));
        const auto *from = reinterpret_cast<const uint8_t *>(QDPixelAt(src, x0, m.Row(out.top)));
        const size_t total = spanBytes * size_t(out.Height());
        constexpr size_t kPiece = size_t(64) << 10;
        for (size_t done = 0; done < total; done += kPiece)
            std::memmove(to + done, from + done, std::min(kPiece, total - done));
        return;
    }
    for (int32_t i = 0; i < out.Height(); ++i) {
        const int32_t y = bottomUp ? out.bottom - 1 - i : out.top + i;
        std::memmove(QDPixelAt(dst, out.left, y), QDPixelAt(src, x0, m.Row(y)), spanBytes);
    }
}

// Scaling within one picture reads from a copy of the source rows used.
void CopyScaled(const BitMap &src, const BitMap &dst, const CopyMap &m) {
    const QDBox &out = m.out;
    const size_t spanBytes = size_t(out.Width()) * 4;
    const int32_t sy0 = m.Row(out.top), sy1 = m.Row(out.bottom - 1) + 1;
    const int32_t sx0 = m.Col(out.left), sx1 = m.Col(out.right - 1) + 1;
    std::vector<uint32_t> copy;
    const bool viaCopy = SameBuffer(src, dst);
    if (viaCopy) {
        copy.resize(size_t(sx1 - sx0) * size_t(sy1 - sy0));
        for (int32_t y = sy0; y < sy1; ++y)
            std::memcpy(&copy[size_t(y - sy0) * size_t(sx1 - sx0)], QDPixelAt(src, sx0, y), size_t(sx1 - sx0) * 4);
    }
    auto sourceRow = [&](int32_t sy) -> const uint32_t * {
        return viaCopy ? &copy[size_t(sy - sy0) * size_t(sx1 - sx0)] : QDPixelAt(src, sx0, sy);
    };
    const int32_t *colMap = &m.cols[size_t(out.left - m.clip.left)];
    for (int32_t y = out.top; y < out.bottom; ++y) {
        uint32_t *d = QDPixelAt(dst, out.left, y);
        const int32_t sy = m.Row(y);
        if (y > out.top && sy == m.Row(y - 1)) {  // repeated row
            std::memcpy(d, QDPixelAt(dst, out.left, y - 1), spanBytes);
            continue;
        }
        const uint32_t *s = sourceRow(sy);
        for (int32_t i = 0; i < out.Width(); ++i) d[i] = s[colMap[i] - sx0];
    }
}

}  // namespace

extern "C" {

PLATFORM_API void CopyBits(const BitMap *src, const BitMap *dst, const Rect *srcRect, const Rect *dstRect,
                           short /*mode*/, RgnHandle maskRgn) {
    if (!src || !dst || !srcRect || !dstRect || !src->baseAddr || !dst->baseAddr) return;
    const QDBox sr = QDBoxOf(*srcRect), dr = QDBoxOf(*dstRect);
    if (sr.Empty() || dr.Empty()) return;
    CopyMap m;
    m.clip = DestinationClip(*dst, dr, maskRgn);
    if (m.clip.Empty()) return;
    const QDBox sb = QDBoxOf(src->bounds);
    MapAxis(m.clip.left, m.clip.right, dr.left, dr.Width(), sr.left, sr.Width(), sb.left, sb.right, m.cols, m.out.left,
            m.out.right);
    MapAxis(m.clip.top, m.clip.bottom, dr.top, dr.Height(), sr.top, sr.Height(), sb.top, sb.bottom, m.rows, m.out.top,
            m.out.bottom);
    if (m.out.Empty()) return;
    if (sr.Width() == dr.Width() && sr.Height() == dr.Height())
        CopyExact(*src, *dst, m);
    else
        CopyScaled(*src, *dst, m);
    if (dst->port) {
        const Rect changed = QDRectOf(m.out);
        QDPortChanged(dst->port, &changed);
    }
}

}  // extern "C"
