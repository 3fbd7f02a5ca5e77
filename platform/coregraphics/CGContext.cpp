// Bitmap contexts, the graphics state, drawing, and contexts on QuickDraw ports.
//
// User space is y up with its origin at the bottom-left corner of the bitmap
// and one unit per pixel; the graphics state's CTM maps it to y-up device
// pixels, and a final flip gives the bitmap's rows (row 0 on top).
#include "coregraphics/CGImage.h"
#include "coregraphics/CGObjects.h"
#include "memory/PixelBufferPool.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

void FinalizeContext(CFObjectHeader *obj) {
    auto *ctx = reinterpret_cast<CGContext *>(obj);
    PixelBufferRelease(ctx->ownedPixels, ctx->ownedCapacity);
    delete ctx;
}

CGContext *MakeContext(const CGPixels &pixels) {
    auto *ctx = new (std::nothrow) CGContext;
    if (!ctx) return nullptr;
    ctx->header.typeID = kCGTypeContext;
    ctx->header.finalize = FinalizeContext;
    ctx->pixels = pixels;
    ctx->clip = {0, 0, pixels.width, pixels.height};
    return ctx;
}

// y-up device pixels to bitmap rows.
CGAffine DeviceFlip(const CGContext &ctx) { return {1, 0, 0, -1, 0, double(ctx.pixels.height)}; }

// cos and sin of a float angle, exact at the quarter turns: the float
// nearest to pi/2 must still give a pure pixel permutation.
void CosSin(double angle, double *c, double *s) {
    *c = std::cos(angle);
    *s = std::sin(angle);
    for (double *v : {c, s})
        for (double t : {-1.0, 0.0, 1.0})
            if (std::fabs(*v - t) < 1e-6) *v = t;
}

CGRect Standardized(CGRect r) {
    if (r.size.width < 0) r.origin.x += r.size.width, r.size.width = -r.size.width;
    if (r.size.height < 0) r.origin.y += r.size.height, r.size.height = -r.size.height;
    return r;
}

// Tells the port which of its pixels changed (device pixels count from the
// port's top-left corner).
void Report(CGContext *ctx) {
    if (ctx->port && !ctx->dirty.Empty()) {
        const QDBox b = QDBoxOf(ctx->port->pixMap.bounds);
        const Rect changed = QDRectOf(
            {ctx->dirty.left + b.left, ctx->dirty.top + b.top, ctx->dirty.right + b.left, ctx->dirty.bottom + b.top});
        QDPortChanged(ctx->port, &changed);
    }
    ctx->dirty = {};
}

}  // namespace

CGContext *CGContextOf(CGContextRef c) {
    auto *ctx = reinterpret_cast<CGContext *>(c);
    return ctx && ctx->header.typeID == kCGTypeContext ? ctx : nullptr;
}

extern "C" {

// Only 8-bit components, 32 bits per pixel, alpha first and premultiplied
// (bytes A, R, G, B) with the default or 32-bit big-endian byte order. NULL
// data makes the context own zeroed memory.
PLATFORM_API CGContextRef CGBitmapContextCreate(void *data, size_t width, size_t height, size_t bitsPerComponent,
                                                size_t bytesPerRow, CGColorSpaceRef, CGBitmapInfo info) {
    constexpr CGBitmapInfo kAlphaMask = 0x1F, kByteOrder32Big = 4u << 12;
    const CGBitmapInfo order = info & ~kAlphaMask;
    if (bitsPerComponent != 8 || (info & kAlphaMask) != kCGImageAlphaPremultipliedFirst ||
        (order != 0 && order != kByteOrder32Big))
        return nullptr;
    if (width == 0 || height == 0 || width > (1u << 24) || height > (1u << 24)) return nullptr;
    if (bytesPerRow == 0 && !data) bytesPerRow = width * 4;
    if (bytesPerRow < width * 4 || bytesPerRow % 4 != 0 || bytesPerRow > (size_t(1) << 31)) return nullptr;
    void *owned = nullptr;
    size_t capacity = 0;
    if (!data) {
        owned = PixelBufferAcquire(bytesPerRow * height, &capacity);
        if (!owned) return nullptr;
        std::memset(owned, 0, bytesPerRow * height);
        data = owned;
    }
    CGContext *ctx =
        MakeContext({static_cast<uint8_t *>(data), int32_t(width), int32_t(height), ptrdiff_t(bytesPerRow)});
    if (!ctx) {
        PixelBufferRelease(owned, capacity);
        return nullptr;
    }
    ctx->ownedPixels = owned;
    ctx->ownedCapacity = capacity;
    return reinterpret_cast<CGContextRef>(ctx);
}

PLATFORM_API CGImageRef CGBitmapContextCreateImage(CGContextRef c) {
    CGContext *ctx = CGContextOf(c);
    return ctx ? CGImageMakeCopy(ctx->pixels) : nullptr;
}

PLATFORM_API void *CGBitmapContextGetData(CGContextRef c) {
    CGContext *ctx = CGContextOf(c);
    return ctx ? ctx->pixels.data : nullptr;
}

PLATFORM_API size_t CGBitmapContextGetWidth(CGContextRef c) {
    CGContext *ctx = CGContextOf(c);
    return ctx ? size_t(ctx->pixels.width) : 0;
}

PLATFORM_API size_t CGBitmapContextGetHeight(CGContextRef c) {
    CGContext *ctx = CGContextOf(c);
    return ctx ? size_t(ctx->pixels.height) : 0;
}

PLATFORM_API CGContextRef CGContextRetain(CGContextRef c) {
    if (CGContext *ctx = CGContextOf(c)) CFObjectRetain(&ctx->header);
    return c;
}

PLATFORM_API void CGContextRelease(CGContextRef c) {
    if (CGContext *ctx = CGContextOf(c)) CFObjectRelease(&ctx->header);
}

PLATFORM_API void CGContextSaveGState(CGContextRef c) {
    if (CGContext *ctx = CGContextOf(c)) ctx->saved.push_back(ctx->state);
}

// A restore without a matching save is ignored.
PLATFORM_API void CGContextRestoreGState(CGContextRef c) {
    CGContext *ctx = CGContextOf(c);
    if (!ctx || ctx->saved.empty()) return;
    ctx->state = ctx->saved.back();
    ctx->saved.pop_back();
}

PLATFORM_API void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty) {
    if (CGContext *ctx = CGContextOf(c)) ctx->state.ctm = CGAffineConcat({1, 0, 0, 1, tx, ty}, ctx->state.ctm);
}

// A positive angle turns counter-clockwise in the y-up space.
PLATFORM_API void CGContextRotateCTM(CGContextRef c, CGFloat angle) {
    if (CGContext *ctx = CGContextOf(c)) {
        double cs, sn;
        CosSin(angle, &cs, &sn);
        ctx->state.ctm = CGAffineConcat({cs, sn, -sn, cs, 0, 0}, ctx->state.ctm);
    }
}

PLATFORM_API void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy) {
    if (CGContext *ctx = CGContextOf(c)) ctx->state.ctm = CGAffineConcat({sx, 0, 0, sy, 0, 0}, ctx->state.ctm);
}

PLATFORM_API CGAffineTransform CGContextGetCTM(CGContextRef c) {
    CGContext *ctx = CGContextOf(c);
    const CGAffine m = ctx ? ctx->state.ctm : CGAffine{};
    return CGAffineTransform{CGFloat(m.a), CGFloat(m.b), CGFloat(m.c), CGFloat(m.d), CGFloat(m.tx), CGFloat(m.ty)};
}

// Clamped to [0, 1].
PLATFORM_API void CGContextSetAlpha(CGContextRef c, CGFloat alpha) {
    if (CGContext *ctx = CGContextOf(c)) ctx->state.alpha = alpha > 1 ? 1.0 : (alpha > 0 ? double(alpha) : 0.0);
}

// Normal and copy are drawn as such; other modes draw as normal.
PLATFORM_API void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode) {
    if (CGContext *ctx = CGContextOf(c))
        ctx->state.blendMode = mode == kCGBlendModeCopy ? kCGBlendModeCopy : kCGBlendModeNormal;
}

PLATFORM_API void CGContextClearRect(CGContextRef c, CGRect r) {
    CGContext *ctx = CGContextOf(c);
    if (!ctx) return;
    const CGAffine toDevice = CGAffineConcat(ctx->state.ctm, DeviceFlip(*ctx));
    CGRasterClearRect(ctx->pixels, ctx->clip, toDevice, r, &ctx->dirty);
}

// The image fills r: its top row along r's top edge (largest y), its left
// column along r's left edge, scaled to r's size.
PLATFORM_API void CGContextDrawImage(CGContextRef c, CGRect rIn, CGImageRef image) {
    CGContext *ctx = CGContextOf(c);
    CGImage *img = CGImageOf(image);
    if (!ctx || !img) return;
    const CGRect r = Standardized(rIn);
    if (!(r.size.width > 0) || !(r.size.height > 0)) return;
    const double W = img->pixels.width, H = img->pixels.height;
    const CGAffine place = {r.size.width / W, 0, 0, -r.size.height / H, r.origin.x, double(r.origin.y) + r.size.height};
    const CGAffine imageToDevice = CGAffineConcat(CGAffineConcat(place, ctx->state.ctm), DeviceFlip(*ctx));
    CGAffine deviceToImage;
    if (!CGAffineInvert(imageToDevice, &deviceToImage)) return;
    CGRasterDrawImage(ctx->pixels, ctx->clip, img->pixels, img->opaque, deviceToImage, ctx->state.alpha,
                      ctx->state.blendMode, &ctx->dirty);
}

// Drawing lands in the pixels at once; a flush tells a port what changed.
PLATFORM_API void CGContextFlush(CGContextRef c) {
    if (CGContext *ctx = CGContextOf(c)) Report(ctx);
}

PLATFORM_API void CGContextSynchronize(CGContextRef c) { CGContextFlush(c); }

// The context covers the port's pixels (a 0x0 port gives a context that
// draws nothing) and is clipped to the port's clip rectangle.
PLATFORM_API OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef *context) {
    if (!context) return paramErr;
    *context = nullptr;
    if (!port) return paramErr;
    const PixMap &pm = port->pixMap;
    const QDBox bounds = QDBoxOf(pm.bounds);
    CGPixels pixels;
    if (pm.baseAddr && !bounds.Empty())
        pixels = {reinterpret_cast<uint8_t *>(pm.baseAddr), bounds.Width(), bounds.Height(), ptrdiff_t(pm.rowBytes)};
    CGContext *ctx = MakeContext(pixels);
    if (!ctx) return memFullErr;
    ctx->port = port;
    // Device pixels count from the port's top-left corner.
    QDBox clip = QDIntersect(QDBoxOf(port->clipRect), bounds);
    ctx->clip = clip.Empty() ? QDBox{}
                             : QDBox{clip.left - bounds.left, clip.top - bounds.top, clip.right - bounds.left,
                                     clip.bottom - bounds.top};
    *context = reinterpret_cast<CGContextRef>(ctx);
    return noErr;
}

// Reports what the context changed, gives up the context and sets *context
// to NULL.
PLATFORM_API OSStatus QDEndCGContext(CGrafPtr port, CGContextRef *context) {
    if (!context) return paramErr;
    CGContext *ctx = CGContextOf(*context);
    if (!ctx) return paramErr;
    if (ctx->port != port) return paramErr;
    Report(ctx);
    CFObjectRelease(&ctx->header);
    *context = nullptr;
    return noErr;
}

}  // extern "C"
