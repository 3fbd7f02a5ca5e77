// Raster work of the Core Graphics layer: image drawing and clearing.
//
// Quarter turns (and no turn) at unit scale are the common case: the video
// effect turns a cut-out of the frame about its centre. There every device
// pixel centre maps onto an image pixel centre (an exact permutation) or
// half-way between two or four of them, so sampling reduces to copying or to
// averaging two or four pixels, done here directly. Everything else goes
// through pixman's bilinear transform path.
#include "coregraphics/CGRaster.h"

#include <pixman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cmath>
#include <cstring>

namespace {

constexpr double kSnap = 1e-6;

inline uint32_t Load(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

// round(x / 255) for 0 <= x <= 255 * 255.
inline uint32_t Div255(uint32_t x) { return (x + 128 + ((x + 128) >> 8)) >> 8; }

// Puts source s (premultiplied channels, [0] alpha) onto pixel d.
inline void Composite(uint8_t *d, const uint32_t s[4], uint32_t alpha8, CGBlendMode mode) {
    uint32_t v[4];
    for (int k = 0; k < 4; ++k) v[k] = alpha8 == 255 ? s[k] : Div255(s[k] * alpha8);
    if (mode == kCGBlendModeCopy) {
        for (int k = 0; k < 4; ++k) d[k] = static_cast<uint8_t>(std::min<uint32_t>(v[k], 255));
        return;
    }
    if ((v[0] | v[1] | v[2] | v[3]) == 0) return;
    const uint32_t keep = 255 - std::min<uint32_t>(v[0], 255);
    for (int k = 0; k < 4; ++k) d[k] = static_cast<uint8_t>(std::min<uint32_t>(255, v[k] + Div255(d[k] * keep)));
}

void Grow(QDBox *changed, const QDBox &box) {
    if (!changed || box.Empty()) return;
    if (changed->Empty()) {
        *changed = box;
        return;
    }
    *changed = {std::min(changed->left, box.left), std::min(changed->top, box.top), std::max(changed->right, box.right),
                std::max(changed->bottom, box.bottom)};
}

bool Finite(const CGAffine &m) {
    for (double v : {m.a, m.b, m.c, m.d, m.tx, m.ty})
        if (!std::isfinite(v)) return false;
    return true;
}

double SnapUnit(double v) {
    for (double t : {-1.0, 0.0, 1.0})
        if (std::fabs(v - t) < kSnap) return t;
    return v;
}

// ---- Quarter turns at unit scale ----

// Device pixel (X, Y) samples the image at column su0 (+ hu) and row sv0 (+ hv):
//   su0 = p X + q Y + iu,  sv0 = r X + s Y + iv,
// with one of p, q and one of r, s equal to +-1 and the others 0.
using QuarterMap = PlatformQuarterMap;

// The sampling offset along one image axis, kept when it is a whole or half
// pixel: o = i + h / 2.
bool SplitHalf(double o, int64_t *i, int *h) {
    const double twice = std::round(o * 2);
    if (std::fabs(o * 2 - twice) > kSnap || std::fabs(twice) > 1e9) return false;
    const auto k = static_cast<int64_t>(twice);
    *i = k >= 0 ? k / 2 : -((-k + 1) / 2);  // floor(k / 2)
    *h = static_cast<int>(k - 2 * *i);
    return true;
}

bool ClassifyQuarter(const CGAffine &m, QuarterMap *qm) {
    const double p = SnapUnit(m.a), q = SnapUnit(m.c), r = SnapUnit(m.b), s = SnapUnit(m.d);
    for (double v : {p, q, r, s})
        if (v != 0 && v != 1 && v != -1) return false;
    // One unit entry per row and per column: a signed permutation.
    const bool straight = p != 0 && s != 0 && q == 0 && r == 0;
    const bool turned = q != 0 && r != 0 && p == 0 && s == 0;
    if (!straight && !turned) return false;
    qm->p = int(p), qm->q = int(q), qm->r = int(r), qm->s = int(s);
    // The sample point of pixel (X, Y) is m(X + 0.5, Y + 0.5) - 0.5.
    return SplitHalf(m.tx + 0.5 * (p + q) - 0.5, &qm->iu, &qm->hu) &&
           SplitHalf(m.ty + 0.5 * (r + s) - 0.5, &qm->iv, &qm->hv);
}

// Device pixels whose sample columns lie in [ulo, uhi] and rows in [vlo, vhi].
QDBox QuarterBox(const QuarterMap &qm, int64_t ulo, int64_t uhi, int64_t vlo, int64_t vhi) {
    if (ulo > uhi || vlo > vhi) return {};
    // c X + i in [lo, hi] with c = +-1.
    auto solve = [](int c, int64_t i, int64_t lo, int64_t hi, int64_t *a, int64_t *b) {
        if (c > 0)
            *a = lo - i, *b = hi - i;
        else
            *a = i - hi, *b = i - lo;
    };
    int64_t x0, x1, y0, y1;
    if (qm.p != 0) {  // X drives u, Y drives v
        solve(qm.p, qm.iu, ulo, uhi, &x0, &x1);
        solve(qm.s, qm.iv, vlo, vhi, &y0, &y1);
    } else {  // X drives v, Y drives u
        solve(qm.r, qm.iv, vlo, vhi, &x0, &x1);
        solve(qm.q, qm.iu, ulo, uhi, &y0, &y1);
    }
    auto clamp32 = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, -(int64_t(1) << 30), int64_t(1) << 30));
    };
    return {clamp32(x0), clamp32(y0), clamp32(x1 + 1), clamp32(y1 + 1)};
}

// One device pixel, any alpha, any image content.
void QuarterPixel(const CGPixels &dst, const CGPixels &img, const QuarterMap &qm, int32_t X, int32_t Y, uint32_t alpha8,
                  CGBlendMode mode) {
    const int64_t su0 = int64_t(qm.p) * X + int64_t(qm.q) * Y + qm.iu;
    const int64_t sv0 = int64_t(qm.r) * X + int64_t(qm.s) * Y + qm.iv;
    uint32_t sum[4] = {0, 0, 0, 0};
    for (int dv = 0; dv <= qm.hv; ++dv) {
        const int64_t v = sv0 + dv;
        if (v < 0 || v >= img.height) continue;
        for (int du = 0; du <= qm.hu; ++du) {
            const int64_t u = su0 + du;
            if (u < 0 || u >= img.width) continue;
            const uint8_t *sp = img.data + v * img.rowBytes + u * 4;
            for (int k = 0; k < 4; ++k) sum[k] += sp[k];
        }
    }
    // The mean of 1, 2 or 4 taps, rounded half up: a shift, not a division.
    const int shift = qm.hu + qm.hv;
    for (auto &c : sum) c = (c + ((1u << shift) >> 1)) >> shift;
    Composite(dst.data + Y * dst.rowBytes + ptrdiff_t(X) * 4, sum, alpha8, mode);
}

void QuarterGeneric(const CGPixels &dst, const CGPixels &img, const QuarterMap &qm, const QDBox &box, uint32_t alpha8,
                    CGBlendMode mode) {
    for (int32_t Y = box.top; Y < box.bottom; ++Y)
        for (int32_t X = box.left; X < box.right; ++X) QuarterPixel(dst, img, qm, X, Y, alpha8, mode);
}

// Writes the pixels of box (every tap inside the image) with their samples
// through the kernels in use. Under a quarter turn, in strips 16 destination
// pixels wide and 256 high: each strip reads 16 (or 17) image rows straight
// along, 1 KiB each, which the prefetcher streams and the first-level cache
// and TLB hold while the strip's 256 destination rows get one cache line
// each (measured: wider or squarer tiles touch more pages and run up to
// twice as long). Returns the AND of every pixel written.
uint32_t QuarterCover(const CGPixels &dst, const CGPixels &img, const QuarterMap &qm, const QDBox &box) {
    if (box.Empty()) return 0xFFFFFFFFu;
    const PlatformRasterKernels &kernels = CGRasterKernelsInUse();
    const ptrdiff_t rb = img.rowBytes;
    PlatformTurnBlock b{};
    b.dstRowBytes = dst.rowBytes;
    b.stepX = qm.r * rb + qm.p * 4;
    b.stepY = qm.s * rb + qm.q * 4;
    b.tapU = qm.hu ? 4 : 0;
    b.tapV = qm.hv ? rb : 0;
    const bool alongRows = b.stepX == 4 || b.stepX == -4;
    const int32_t tileW = alongRows ? box.Width() : 16, tileH = alongRows ? box.Height() : 256;
    uint32_t all = 0xFFFFFFFFu;
    // Tile edges on the destination's cache lines, so that no line is
    // written in part by two tiles (a partly written line is read first).
    const int32_t lead =
        alongRows ? 0 : int32_t((64 - (reinterpret_cast<uintptr_t>(dst.data) + size_t(box.left) * 4) % 64) % 64 / 4);
    for (int32_t ty = box.top; ty < box.bottom; ty += tileH)
        for (int32_t tx = box.left, next; tx < box.right; tx = next) {
            next = tx == box.left && lead != 0 ? tx + lead : tx + tileW;
            const int64_t su0 = int64_t(qm.p) * tx + int64_t(qm.q) * ty + qm.iu;
            const int64_t sv0 = int64_t(qm.r) * tx + int64_t(qm.s) * ty + qm.iv;
            b.src = img.data + sv0 * rb + su0 * 4;
            b.dst = dst.data + ty * dst.rowBytes + ptrdiff_t(tx) * 4;
            b.width = std::min(box.right, next) - tx;
            b.height = std::min(box.bottom, ty + tileH) - ty;
            all &= kernels.turn(&b);
        }
    return all;
}

void DrawQuarter(const CGPixels &dst, const QDBox &clip, const CGPixels &img, bool imgOpaque, const QuarterMap &qm,
                 uint32_t alpha8, CGBlendMode mode, QDBox *changed) {
    const QDBox touched = QDIntersect(QuarterBox(qm, -qm.hu, img.width - 1, -qm.hv, img.height - 1), clip);
    if (touched.Empty()) return;
    Grow(changed, touched);
    const bool straight = alpha8 == 255 && (imgOpaque || mode == kCGBlendModeCopy) && !PlatformReferenceOnly();
    if (!straight) {
        QuarterGeneric(dst, img, qm, touched, alpha8, mode);
        return;
    }
    const QDBox inner = QDIntersect(QuarterBox(qm, 0, img.width - 1 - qm.hu, 0, img.height - 1 - qm.hv), touched);
    if (inner.Empty()) {
        QuarterGeneric(dst, img, qm, touched, alpha8, mode);
        return;
    }
    QuarterCover(dst, img, qm, inner);
    // The frame of partly covered pixels around the inner box.
    QuarterGeneric(dst, img, qm, {touched.left, touched.top, touched.right, inner.top}, alpha8, mode);
    QuarterGeneric(dst, img, qm, {touched.left, inner.bottom, touched.right, touched.bottom}, alpha8, mode);
    QuarterGeneric(dst, img, qm, {touched.left, inner.top, inner.left, inner.bottom}, alpha8, mode);
    QuarterGeneric(dst, img, qm, {inner.right, inner.top, touched.right, inner.bottom}, alpha8, mode);
}

// ---- Any other map: pixman ----

pixman_format_code_t PixelFormat() {
    // Bytes A, R, G, B in memory, named from the most significant end.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return PIXMAN_b8g8r8a8;
#else
    return PIXMAN_a8r8g8b8;
#endif
}

struct PixmanImage {
    pixman_image_t *image = nullptr;
    explicit PixmanImage(pixman_image_t *i) : image(i) {}
    ~PixmanImage() {
        if (image) pixman_image_unref(image);
    }
    PixmanImage(const PixmanImage &) = delete;
    PixmanImage &operator=(const PixmanImage &) = delete;
};

pixman_image_t *Wrap(const CGPixels &px) {
    return pixman_image_create_bits(PixelFormat(), px.width, px.height, reinterpret_cast<uint32_t *>(px.data),
                                    static_cast<int>(px.rowBytes));
}

void DrawGeneral(const CGPixels &dst, const QDBox &clip, const CGPixels &img, const CGAffine &deviceToImage,
                 uint32_t alpha8, CGBlendMode mode, QDBox *changed) {
    CGAffine imageToDevice;
    if (!CGAffineInvert(deviceToImage, &imageToDevice)) return;
    // Device box of the image's outline, one pixel wider for the filter.
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (double u : {0.0, double(img.width)})
        for (double v : {0.0, double(img.height)}) {
            const double x = imageToDevice.a * u + imageToDevice.c * v + imageToDevice.tx;
            const double y = imageToDevice.b * u + imageToDevice.d * v + imageToDevice.ty;
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    auto clampEdge = [](double v) { return static_cast<int32_t>(std::clamp(v, -1e9, 1e9)); };
    const QDBox box = QDIntersect({clampEdge(std::floor(x0)) - 1, clampEdge(std::floor(y0)) - 1,
                                   clampEdge(std::ceil(x1)) + 1, clampEdge(std::ceil(y1)) + 1},
                                  clip);
    if (box.Empty()) return;

    // pixman's 16.16 fixed point holds the map only within +-32767.
    for (double v :
         {deviceToImage.a, deviceToImage.b, deviceToImage.c, deviceToImage.d, deviceToImage.tx, deviceToImage.ty})
        if (std::fabs(v) > 32000) return;
    PixmanImage src(Wrap(img)), out(Wrap(dst));
    if (!src.image || !out.image) return;
    pixman_transform_t t;
    pixman_transform_init_identity(&t);
    t.matrix[0][0] = pixman_double_to_fixed(deviceToImage.a);
    t.matrix[0][1] = pixman_double_to_fixed(deviceToImage.c);
    t.matrix[0][2] = pixman_double_to_fixed(deviceToImage.tx);
    t.matrix[1][0] = pixman_double_to_fixed(deviceToImage.b);
    t.matrix[1][1] = pixman_double_to_fixed(deviceToImage.d);
    t.matrix[1][2] = pixman_double_to_fixed(deviceToImage.ty);
    pixman_image_set_transform(src.image, &t);
    pixman_image_set_filter(src.image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(src.image, PIXMAN_REPEAT_NONE);
    PixmanImage mask(nullptr);
    if (alpha8 < 255) {
        const pixman_color_t a = {0, 0, 0, static_cast<uint16_t>(alpha8 * 257)};
        mask.image = pixman_image_create_solid_fill(&a);
    }
    // The source coordinates given are device coordinates: the transform
    // takes them into the image.
    pixman_image_composite32(mode == kCGBlendModeCopy ? PIXMAN_OP_SRC : PIXMAN_OP_OVER, src.image, mask.image,
                             out.image, box.left, box.top, 0, 0, box.left, box.top, box.Width(), box.Height());
    Grow(changed, box);
}

}  // namespace

CGAffine CGAffineConcat(const CGAffine &m, const CGAffine &n) {
    return {m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d,          m.c * n.a + m.d * n.c,
            m.c * n.b + m.d * n.d, m.tx * n.a + m.ty * n.c + n.tx, m.tx * n.b + m.ty * n.d + n.ty};
}

bool CGAffineInvert(const CGAffine &m, CGAffine *inv) {
    const double det = m.a * m.d - m.b * m.c;
    if (det == 0 || !std::isfinite(det)) return false;
    inv->a = m.d / det;
    inv->b = -m.b / det;
    inv->c = -m.c / det;
    inv->d = m.a / det;
    inv->tx = -(inv->a * m.tx + inv->c * m.ty);
    inv->ty = -(inv->b * m.tx + inv->d * m.ty);
    return true;
}

bool CGRasterCopyPixels(const CGPixels &src, uint8_t *dst, ptrdiff_t dstRowBytes) {
    // The alpha bytes of everything copied, ANDed together on the way.
    uint32_t all = 0xFFFFFFFFu;
    const size_t rowLen = size_t(src.width) * 4;
    for (int32_t y = 0; y < src.height; ++y) {
        const uint8_t *s = src.data + y * src.rowBytes;
        uint8_t *d = dst + y * dstRowBytes;
        size_t i = 0;
#if defined(__SSE2__)
        __m128i acc = _mm_set1_epi32(-1);
        for (; i + 64 <= rowLen; i += 64) {
            const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
            const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i + 16));
            const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i + 32));
            const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i + 48));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i), v0);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i + 16), v1);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i + 32), v2);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i + 48), v3);
            acc = _mm_and_si128(acc, _mm_and_si128(_mm_and_si128(v0, v1), _mm_and_si128(v2, v3)));
        }
        for (; i + 16 <= rowLen; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + i), v);
            acc = _mm_and_si128(acc, v);
        }
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(lanes), acc);
        all &= lanes[0] & lanes[1] & lanes[2] & lanes[3];
#endif
        for (; i < rowLen; i += 4) {
            const uint32_t v = Load(s + i);
            Store(d + i, v);
            all &= v;
        }
    }
    // Byte 0 of each pixel in memory is its alpha.
    uint8_t bytes[4];
    std::memcpy(bytes, &all, 4);
    return bytes[0] == 0xFF;
}

void CGRasterDrawImage(const CGPixels &dst, const QDBox &clipIn, const CGPixels &img, bool imgOpaque,
                       const CGAffine &deviceToImage, double alpha, CGBlendMode mode, QDBox *changed) {
    if (!dst.data || !img.data || img.width <= 0 || img.height <= 0 || !Finite(deviceToImage)) return;
    const QDBox clip = QDIntersect(clipIn, {0, 0, dst.width, dst.height});
    if (clip.Empty()) return;
    if (!(alpha > 0)) alpha = 0;  // NaN too
    const auto alpha8 = static_cast<uint32_t>(std::lround(std::min(alpha, 1.0) * 255));
    if (alpha8 == 0 && mode != kCGBlendModeCopy) return;
    QuarterMap qm;
    if (ClassifyQuarter(deviceToImage, &qm))
        DrawQuarter(dst, clip, img, imgOpaque, qm, alpha8, mode, changed);
    else
        DrawGeneral(dst, clip, img, deviceToImage, alpha8, mode, changed);
}

void CGRasterClearRect(const CGPixels &dst, const QDBox &clipIn, const CGAffine &m, const CGRect &rIn, QDBox *changed) {
    if (!dst.data || !Finite(m) || !std::isfinite(rIn.origin.x) || !std::isfinite(rIn.origin.y) ||
        !std::isfinite(rIn.size.width) || !std::isfinite(rIn.size.height))
        return;
    const QDBox clip = QDIntersect(clipIn, {0, 0, dst.width, dst.height});
    if (clip.Empty()) return;
    // Standardise: a negative size extends the other way.
    CGRect r = rIn;
    if (r.size.width < 0) r.origin.x += r.size.width, r.size.width = -r.size.width;
    if (r.size.height < 0) r.origin.y += r.size.height, r.size.height = -r.size.height;
    if (!(r.size.width > 0) || !(r.size.height > 0)) return;

    const bool axisAligned = (SnapUnit(m.b) == 0 && SnapUnit(m.c) == 0) || (SnapUnit(m.a) == 0 && SnapUnit(m.d) == 0);
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (double u : {double(r.origin.x), double(r.origin.x) + r.size.width})
        for (double v : {double(r.origin.y), double(r.origin.y) + r.size.height}) {
            const double x = m.a * u + m.c * v + m.tx, y = m.b * u + m.d * v + m.ty;
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    auto snap = [](double v) {
        const double k = std::round(v);
        return std::fabs(v - k) < kSnap ? k : v;
    };
    x0 = snap(x0), x1 = snap(x1), y0 = snap(y0), y1 = snap(y1);
    auto edge = [](double v) { return static_cast<int32_t>(std::clamp(v, -1e9, 1e9)); };
    const QDBox box =
        QDIntersect({edge(std::floor(x0)), edge(std::floor(y0)), edge(std::ceil(x1)), edge(std::ceil(y1))}, clip);
    if (box.Empty()) return;

    CGAffine toUser;
    if (!axisAligned && !CGAffineInvert(m, &toUser)) return;
    // Columns wholly inside the rectangle (axis-aligned case).
    const int32_t fullLeft = std::clamp(edge(std::ceil(x0)), box.left, box.right);
    const int32_t fullRight = std::clamp(edge(std::floor(x1)), fullLeft, box.right);
    for (int32_t Y = box.top; Y < box.bottom; ++Y) {
        uint8_t *row = dst.data + Y * dst.rowBytes;
        const double cy = std::clamp(std::min(Y + 1.0, y1) - std::max(double(Y), y0), 0.0, 1.0);
        for (int32_t X = box.left; X < box.right; ++X) {
            uint8_t *px = row + ptrdiff_t(X) * 4;
            double keep;  // share of the pixel left as it was
            if (axisAligned) {
                if (X == fullLeft && cy >= 1.0 && fullRight > fullLeft) {
                    std::memset(px, 0, size_t(fullRight - fullLeft) * 4);
                    X = fullRight - 1;
                    continue;
                }
                const double cx = std::min(X + 1.0, x1) - std::max(double(X), x0);
                keep = 1.0 - std::clamp(cx, 0.0, 1.0) * cy;
            } else {
                const double u = toUser.a * (X + 0.5) + toUser.c * (Y + 0.5) + toUser.tx;
                const double v = toUser.b * (X + 0.5) + toUser.d * (Y + 0.5) + toUser.ty;
                const bool inside = u >= r.origin.x && u < double(r.origin.x) + r.size.width && v >= r.origin.y &&
                                    v < double(r.origin.y) + r.size.height;
                keep = inside ? 0.0 : 1.0;
            }
            if (keep >= 1.0) continue;
            if (keep <= 0.0) {
                Store(px, 0);
            } else {
                for (int k = 0; k < 4; ++k) px[k] = static_cast<uint8_t>(std::lround(px[k] * keep));
            }
        }
    }
    Grow(changed, box);
}

namespace {

CGPixels PixelsOf(const PlatformPixels &p) { return {p.data, p.width, p.height, p.rowBytes}; }

PlatformBox BoxOf(const QDBox &b) {
    if (b.Empty()) return {0, 0, 0, 0};
    return {b.left, b.top, b.right, b.bottom};
}

}  // namespace

extern "C" {

// Device pixel (X, Y) shows the image point at device (X + 0.5, Y + 0.5)
// carried back through the turn; taking the image's centre to (cx, cy), the
// sample column and row (image pixel centres at whole numbers) are, in
// doubled units so that half pixels stay whole:
//   no turn:        2u = 2X - 2cx + W,       2v = 2Y - 2cy + H
//   quarter turn:   2u = -2Y + 2cy + W - 2,  2v = 2X - 2cx + H
//   half turn:      2u = -2X + 2cx + W - 2,  2v = -2Y + 2cy + H - 2
//   three quarters: 2u = 2Y - 2cy + W,       2v = -2X + 2cx + H - 2
PLATFORM_API PlatformQuarterMap PlatformQuarterMapOf(int quarters, int32_t width, int32_t height, int64_t centreX2,
                                                     int64_t centreY2) {
    PlatformQuarterMap m{};
    int64_t u2 = 0, v2 = 0;
    switch (quarters & 3) {
        case 0:
            m.p = 1, m.s = 1, u2 = width - centreX2, v2 = height - centreY2;
            break;
        case 1:
            m.q = -1, m.r = 1, u2 = width + centreY2 - 2, v2 = height - centreX2;
            break;
        case 2:
            m.p = -1, m.s = -1, u2 = width + centreX2 - 2, v2 = height + centreY2 - 2;
            break;
        default:
            m.q = 1, m.r = -1, u2 = width - centreY2, v2 = height + centreX2 - 2;
            break;
    }
    auto split = [](int64_t twice, int64_t *i, int32_t *h) {
        *i = twice >= 0 ? twice / 2 : -((-twice + 1) / 2);  // floor(twice / 2)
        *h = static_cast<int32_t>(twice - 2 * *i);
    };
    split(u2, &m.iu, &m.hu);
    split(v2, &m.iv, &m.hv);
    return m;
}

PLATFORM_API void PlatformQuarterBoxes(const PlatformQuarterMap *map, int32_t width, int32_t height,
                                       PlatformBox *covered, PlatformBox *reached) {
    if (!map) return;
    const QuarterMap &qm = *map;
    if (covered) *covered = BoxOf(QuarterBox(qm, 0, width - 1 - qm.hu, 0, height - 1 - qm.hv));
    if (reached) *reached = BoxOf(QuarterBox(qm, -qm.hu, width - 1, -qm.hv, height - 1));
}

PLATFORM_API int PlatformQuarterCopy(const PlatformPixels *dst, PlatformBox box, const PlatformPixels *img,
                                     const PlatformQuarterMap *map) {
    if (!dst || !img || !map || !dst->data || !img->data) return 1;
    PlatformBox covered;
    PlatformQuarterBoxes(map, img->width, img->height, &covered, nullptr);
    const QDBox b = QDIntersect(QDIntersect({box.left, box.top, box.right, box.bottom},
                                            {covered.left, covered.top, covered.right, covered.bottom}),
                                {0, 0, dst->width, dst->height});
    if (b.Empty()) return 1;
    const uint32_t all = QuarterCover(PixelsOf(*dst), PixelsOf(*img), *map, b);
    uint8_t bytes[4];
    std::memcpy(bytes, &all, 4);
    return bytes[0] == 0xFF;  // alpha is each pixel's first byte
}

PLATFORM_API void PlatformQuarterDraw(const PlatformPixels *dst, PlatformBox box, const PlatformPixels *img,
                                      const PlatformQuarterMap *map) {
    if (!dst || !img || !map || !dst->data || !img->data) return;
    const QDBox b = QDIntersect({box.left, box.top, box.right, box.bottom}, {0, 0, dst->width, dst->height});
    if (b.Empty()) return;
    QuarterGeneric(PixelsOf(*dst), PixelsOf(*img), *map, b, 255, kCGBlendModeNormal);
}

}  // extern "C"
