/*
 * The records behind CGImageRef, CGContextRef and CGColorSpaceRef. Each
 * starts with CFObjectHeader so CFRetain/CFRelease work on them.
 * Internal to the platform library.
 */
#ifndef PLATFORM_CG_OBJECTS_H
#define PLATFORM_CG_OBJECTS_H

#include "CoreGraphics.h"
#include "corefoundation/CFObjectPrivate.h"
#include "coregraphics/CGRaster.h"

#include <vector>

struct CGColorSpace {
    CFObjectHeader header;
};

/* Immutable pixels, premultiplied, bytes A, R, G, B, rows width * 4 apart. */
struct CGImage {
    CFObjectHeader header;
    CGPixels pixels;
    size_t capacity = 0; /* of the pixel block (PixelBufferAcquire) */
    bool opaque = false; /* every alpha byte is 0xFF */
};

struct CGGState {
    CGAffine ctm; /* user space (y up) to y-up device pixels */
    double alpha = 1.0;
    CGBlendMode blendMode = kCGBlendModeNormal;
};

struct CGContext {
    CFObjectHeader header;
    CGPixels pixels;             /* the caller's memory (or ownedPixels) */
    void *ownedPixels = nullptr; /* when created without caller memory */
    size_t ownedCapacity = 0;
    CGGState state;
    std::vector<CGGState> saved;
    GrafPort *port = nullptr; /* QDBeginCGContext: the port drawn into */
    QDBox clip;               /* device pixels that may change */
    QDBox dirty;              /* changed since the last report */
};

CGContext *CGContextOf(CGContextRef c);
CGImage *CGImageOf(CGImageRef i);

#endif
