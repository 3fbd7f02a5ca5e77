/*
 * Core Graphics, as far as bitmap drawing goes: device RGB, bitmap contexts
 * on caller memory (alpha first, premultiplied), immutable images, the
 * graphics state, and drawing an image scaled into a rectangle with
 * source-over compositing in a y-up space whose origin is the bottom-left
 * corner of the bitmap.
 */
#ifndef PLATFORM_COREGRAPHICS_H
#define PLATFORM_COREGRAPHICS_H

#include "MacTypes.h"
#include "QuickDraw.h"

PLATFORM_EXTERN_C_BEGIN

typedef float CGFloat;
typedef struct CGPoint {
    CGFloat x, y;
} CGPoint;
typedef struct CGSize {
    CGFloat width, height;
} CGSize;
typedef struct CGRect {
    CGPoint origin;
    CGSize size;
} CGRect;
typedef struct CGAffineTransform {
    CGFloat a, b, c, d, tx, ty;
} CGAffineTransform;

typedef struct CGContext *CGContextRef;
typedef struct CGImage *CGImageRef;
typedef struct CGColorSpace *CGColorSpaceRef;
typedef uint32_t CGBitmapInfo;
typedef int32_t CGBlendMode;

enum {
    kCGImageAlphaNone = 0,
    kCGImageAlphaPremultipliedLast = 1,
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaLast = 3,
    kCGImageAlphaFirst = 4,
    kCGImageAlphaNoneSkipLast = 5,
    kCGImageAlphaNoneSkipFirst = 6
};
enum { kCGBlendModeNormal = 0, kCGBlendModeCopy = 17 };

static inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
    CGRect r;
    r.origin.x = x;
    r.origin.y = y;
    r.size.width = w;
    r.size.height = h;
    return r;
}
static inline CGPoint CGPointMake(CGFloat x, CGFloat y) {
    CGPoint p;
    p.x = x;
    p.y = y;
    return p;
}
static inline CGSize CGSizeMake(CGFloat w, CGFloat h) {
    CGSize s;
    s.width = w;
    s.height = h;
    return s;
}

PLATFORM_API CGColorSpaceRef CGColorSpaceCreateDeviceRGB(void);
PLATFORM_API CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space);
PLATFORM_API void CGColorSpaceRelease(CGColorSpaceRef space);

/* A context drawing straight into caller memory. Only 8 bits per component,
 * 32 bits per pixel, kCGImageAlphaPremultipliedFirst (bytes A,R,G,B) is
 * supported; anything else gives NULL. */
PLATFORM_API CGContextRef CGBitmapContextCreate(void *data, size_t width, size_t height, size_t bitsPerComponent,
                                                size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo info);
PLATFORM_API CGImageRef CGBitmapContextCreateImage(CGContextRef c); /* copies the pixels */
PLATFORM_API void *CGBitmapContextGetData(CGContextRef c);
PLATFORM_API size_t CGBitmapContextGetWidth(CGContextRef c);
PLATFORM_API size_t CGBitmapContextGetHeight(CGContextRef c);
PLATFORM_API CGContextRef CGContextRetain(CGContextRef c);
PLATFORM_API void CGContextRelease(CGContextRef c);

PLATFORM_API CGImageRef CGImageCreateCopy(CGImageRef image);
PLATFORM_API CGImageRef CGImageRetain(CGImageRef image);
PLATFORM_API void CGImageRelease(CGImageRef image);
PLATFORM_API size_t CGImageGetWidth(CGImageRef image);
PLATFORM_API size_t CGImageGetHeight(CGImageRef image);
PLATFORM_API size_t CGImageGetBytesPerRow(CGImageRef image);

PLATFORM_API void CGContextSaveGState(CGContextRef c);
PLATFORM_API void CGContextRestoreGState(CGContextRef c);
PLATFORM_API void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty);
PLATFORM_API void CGContextRotateCTM(CGContextRef c, CGFloat angle);
PLATFORM_API void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy);
PLATFORM_API CGAffineTransform CGContextGetCTM(CGContextRef c);
PLATFORM_API void CGContextSetAlpha(CGContextRef c, CGFloat alpha);
PLATFORM_API void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode);
PLATFORM_API void CGContextClearRect(CGContextRef c, CGRect r);
PLATFORM_API void CGContextDrawImage(CGContextRef c, CGRect r, CGImageRef image);
PLATFORM_API void CGContextFlush(CGContextRef c);
PLATFORM_API void CGContextSynchronize(CGContextRef c);

/* A Core Graphics context on a QuickDraw port's pixels (y up, origin at the
 * port's bottom-left corner). End it before the port is used by QuickDraw
 * again; QDEndCGContext sets *context to NULL. */
PLATFORM_API OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef *context);
PLATFORM_API OSStatus QDEndCGContext(CGrafPtr port, CGContextRef *context);

PLATFORM_EXTERN_C_END

#endif
