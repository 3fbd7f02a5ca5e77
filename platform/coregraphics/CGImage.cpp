// Device RGB colour space and immutable images.
#include "coregraphics/CGImage.h"
#include "memory/PixelBufferPool.h"

#include <cstring>
#include <new>

namespace {

void FinalizeImage(CFObjectHeader *obj) {
    auto *image = reinterpret_cast<CGImage *>(obj);
    PixelBufferRelease(image->pixels.data, image->capacity);
    delete image;
}

void FinalizeColorSpace(CFObjectHeader *obj) { delete reinterpret_cast<CGColorSpace *>(obj); }

}  // namespace

CGImage *CGImageOf(CGImageRef i) {
    auto *image = reinterpret_cast<CGImage *>(i);
    return image && image->header.typeID == kCGTypeImage ? image : nullptr;
}

CGImageRef CGImageMakeCopy(const CGPixels &src) {
    if (src.width <= 0 || src.height <= 0 || !src.data) return nullptr;
    const size_t rowBytes = size_t(src.width) * 4;
    size_t capacity = 0;
    auto *data = static_cast<uint8_t *>(PixelBufferAcquire(rowBytes * size_t(src.height), &capacity));
    if (!data) return nullptr;
    auto *image = new (std::nothrow) CGImage;
    if (!image) {
        PixelBufferRelease(data, capacity);
        return nullptr;
    }
    image->header.typeID = kCGTypeImage;
    image->header.finalize = FinalizeImage;
    image->pixels = {data, src.width, src.height, static_cast<ptrdiff_t>(rowBytes)};
    image->capacity = capacity;
    image->opaque = CGRasterCopyPixels(src, data, static_cast<ptrdiff_t>(rowBytes));
    return reinterpret_cast<CGImageRef>(image);
}

extern "C" {

PLATFORM_API CGColorSpaceRef CGColorSpaceCreateDeviceRGB(void) {
    auto *space = new (std::nothrow) CGColorSpace;
    if (!space) return nullptr;
    space->header.typeID = kCGTypeColorSpace;
    space->header.finalize = FinalizeColorSpace;
    return reinterpret_cast<CGColorSpaceRef>(space);
}

PLATFORM_API CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space) {
    if (space) CFObjectRetain(&reinterpret_cast<CGColorSpace *>(space)->header);
    return space;
}

PLATFORM_API void CGColorSpaceRelease(CGColorSpaceRef space) {
    if (space) CFObjectRelease(&reinterpret_cast<CGColorSpace *>(space)->header);
}

PLATFORM_API CGImageRef CGImageCreateCopy(CGImageRef image) {
    CGImage *src = CGImageOf(image);
    return src ? CGImageMakeCopy(src->pixels) : nullptr;
}

PLATFORM_API CGImageRef CGImageRetain(CGImageRef image) {
    if (CGImage *img = CGImageOf(image)) CFObjectRetain(&img->header);
    return image;
}

PLATFORM_API void CGImageRelease(CGImageRef image) {
    if (CGImage *img = CGImageOf(image)) CFObjectRelease(&img->header);
}

PLATFORM_API size_t CGImageGetWidth(CGImageRef image) {
    CGImage *img = CGImageOf(image);
    return img ? size_t(img->pixels.width) : 0;
}

PLATFORM_API size_t CGImageGetHeight(CGImageRef image) {
    CGImage *img = CGImageOf(image);
    return img ? size_t(img->pixels.height) : 0;
}

PLATFORM_API size_t CGImageGetBytesPerRow(CGImageRef image) {
    CGImage *img = CGImageOf(image);
    return img ? size_t(img->pixels.rowBytes) : 0;
}

}  // extern "C"
