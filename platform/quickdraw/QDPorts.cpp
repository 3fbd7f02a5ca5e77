// Offscreen pictures, the current port, regions and QuickDraw's error state.
#include "QuickDraw.h"
#include "memory/PixelBufferPool.h"
#include "quickdraw/QDInternal.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <new>

namespace {

std::atomic<GrafPort *> lgCurrentPort{nullptr};
std::atomic<GDHandle> lgCurrentDevice{nullptr};
thread_local OSErr lgQDError = noErr;

// After creation a port's clip is "everything".
constexpr Rect kWideOpen = {-32767, -32767, 32767, 32767};

constexpr uint32_t kRgnTag = 0x52676e21;  // "Rgn!"

// The master pointer comes first: the RgnHandle is its address.
struct RegionRecord {
    Rect *master;
    Rect box;
    uint32_t tag;
};

RegionRecord *RegionOf(RgnHandle rgn) {
    auto *rec = reinterpret_cast<RegionRecord *>(rgn);
    return rec && rec->tag == kRgnTag ? rec : nullptr;
}

}  // namespace

GrafPort *QDCurrentPort() { return lgCurrentPort.load(std::memory_order_relaxed); }

bool QDIsLivePort(const GrafPort *port) { return port && port->portTag == kQDPortTag; }

void QDSetError(OSErr err) { lgQDError = err; }

QDBox QDRegionBox(RgnHandle rgn) {
    RegionRecord *rec = RegionOf(rgn);
    return rec ? QDBoxOf(rec->box) : QDBox{};
}

extern "C" {

void QDPortChanged(GrafPort *port, const Rect *area) {
    if (!port || !area || !port->onChanged) return;
    if (area->right <= area->left || area->bottom <= area->top) return;
    port->onChanged(port, area, port->onChangedContext);
}

}  // extern "C"

namespace {

// The pixel size of bounds moved to the origin; false (paramErr set) when
// it does not fit a Rect.
bool OriginSize(const Rect &bounds, int32_t &width, int32_t &height) {
    width = std::max<int32_t>(0, int32_t(bounds.right) - bounds.left);
    height = std::max<int32_t>(0, int32_t(bounds.bottom) - bounds.top);
    if (width > 32767 || height > 32767) {
        QDSetError(paramErr);
        return false;
    }
    return true;
}

// A new port over pixels; `block` (nil: none) is what DisposeGWorld frees.
QDErr MakePort(GWorldPtr *offscreen, int32_t width, int32_t height, void *pixels, size_t rowBytes, void *block,
               size_t blockSize) {
    auto *port = static_cast<GrafPort *>(std::calloc(1, sizeof(GrafPort)));
    if (!port) {
        PixelBufferRelease(block, blockSize);
        QDSetError(memFullErr);
        return memFullErr;
    }
    const bool empty = width == 0 || height == 0;
    port->pixMap.baseAddr = static_cast<Ptr>(empty ? nullptr : pixels);
    port->pixMap.rowBytes = static_cast<int32_t>(rowBytes);
    port->pixMap.bounds =
        empty ? Rect{0, 0, 0, 0} : Rect{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
    port->pixMap.pixelSize = 32;
    port->pixMap.port = port;
    port->pixMapPtr = &port->pixMap;
    port->foreColor = RGBColor{0, 0, 0};
    port->backColor = RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
    port->penMode = patCopy;
    port->clipRect = kWideOpen;
    port->pixelBlock = block;
    port->pixelBlockSize = blockSize;
    port->penWidth = port->penHeight = 1;
    port->portTag = kQDPortTag;
    *offscreen = port;
    QDSetError(noErr);
    return noErr;
}

}  // namespace

extern "C" {

// A picture's bounds are moved to the origin. Empty bounds (zero or negative
// width or height) make a valid 0x0 picture without pixels, on which every
// drawing call is clipped to nothing. New pixels are opaque white, so a
// picture is never transparent unless someone clears it.
PLATFORM_API QDErr NewGWorld(GWorldPtr *offscreen, short pixelDepth, const Rect *bounds, CTabHandle, GDHandle,
                             GWorldFlags) {
    if (!offscreen) {
        QDSetError(paramErr);
        return paramErr;
    }
    *offscreen = nullptr;
    int32_t width = 0, height = 0;
    if (!bounds || (pixelDepth != 0 && pixelDepth != 32)) {
        QDSetError(paramErr);
        return paramErr;
    }
    if (!OriginSize(*bounds, width, height)) return paramErr;
    const bool empty = width == 0 || height == 0;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    const size_t bytes = empty ? 0 : rowBytes * static_cast<size_t>(height);
    size_t capacity = 0;
    void *pixels = nullptr;
    if (!empty) {
        pixels = PixelBufferAcquire(bytes, &capacity);
        if (!pixels) {
            QDSetError(memFullErr);
            return memFullErr;
        }
        std::memset(pixels, 0xFF, bytes);
    }
    return MakePort(offscreen, width, height, pixels, rowBytes, pixels, capacity);
}

// The caller's pixels are the picture as they are (nothing is painted), and
// stay the caller's: DisposeGWorld frees only the port.
PLATFORM_API QDErr NewGWorldFromPtr(GWorldPtr *offscreen, OSType pixelFormat, const Rect *bounds, CTabHandle, GDHandle,
                                    GWorldFlags, Ptr buffer, long rowBytes) {
    if (!offscreen) {
        QDSetError(paramErr);
        return paramErr;
    }
    *offscreen = nullptr;
    int32_t width = 0, height = 0;
    if (!bounds || pixelFormat != k32ARGBPixelFormat) {
        QDSetError(paramErr);
        return paramErr;
    }
    if (!OriginSize(*bounds, width, height)) return paramErr;
    const bool empty = width == 0 || height == 0;
    if (!empty && (!buffer || rowBytes < long(width) * 4 || rowBytes % 4 != 0 || rowBytes > INT32_MAX)) {
        QDSetError(paramErr);
        return paramErr;
    }
    return MakePort(offscreen, width, height, buffer, empty ? 0 : size_t(rowBytes), nullptr, 0);
}

// Disposing the current port leaves no port current, rather than a dangling one.
PLATFORM_API void DisposeGWorld(GWorldPtr offscreen) {
    if (!QDIsLivePort(offscreen)) return;
    GrafPort *expected = offscreen;
    lgCurrentPort.compare_exchange_strong(expected, nullptr);
    offscreen->portTag = 0;
    PixelBufferRelease(offscreen->pixelBlock, offscreen->pixelBlockSize);
    std::free(offscreen);
}

PLATFORM_API PixMapHandle GetGWorldPixMap(GWorldPtr offscreen) { return offscreen ? &offscreen->pixMapPtr : nullptr; }

PLATFORM_API PixMapHandle GetPortPixMap(CGrafPtr port) { return port ? &port->pixMapPtr : nullptr; }

// Pixels never move here, so locking always succeeds.
PLATFORM_API Boolean LockPixels(PixMapHandle pm) { return pm && *pm ? true : false; }

PLATFORM_API void UnlockPixels(PixMapHandle) {}

PLATFORM_API Ptr GetPixBaseAddr(PixMapHandle pm) { return pm && *pm ? (*pm)->baseAddr : nullptr; }

PLATFORM_API SInt32 GetPixRowBytes(PixMapHandle pm) { return pm && *pm ? (*pm)->rowBytes : 0; }

PLATFORM_API Rect *GetPortBounds(CGrafPtr port, Rect *bounds) {
    if (!bounds) return nullptr;
    *bounds = port ? port->pixMap.bounds : Rect{0, 0, 0, 0};
    return bounds;
}

PLATFORM_API Rect *GetPixBounds(PixMapHandle pm, Rect *bounds) {
    if (!bounds) return nullptr;
    *bounds = pm && *pm ? (*pm)->bounds : Rect{0, 0, 0, 0};
    return bounds;
}

PLATFORM_API const BitMap *GetPortBitMapForCopyBits(CGrafPtr port) { return port ? &port->pixMap : nullptr; }

PLATFORM_API QDErr QDError(void) { return lgQDError; }

PLATFORM_API void GetGWorld(CGrafPtr *port, GDHandle *device) {
    if (port) *port = lgCurrentPort.load(std::memory_order_relaxed);
    if (device) *device = lgCurrentDevice.load(std::memory_order_relaxed);
}

PLATFORM_API void SetGWorld(CGrafPtr port, GDHandle device) {
    lgCurrentPort.store(port, std::memory_order_relaxed);
    lgCurrentDevice.store(device, std::memory_order_relaxed);
}

PLATFORM_API void GetPort(GrafPtr *port) {
    if (port) *port = lgCurrentPort.load(std::memory_order_relaxed);
}

PLATFORM_API void SetPort(GrafPtr port) { lgCurrentPort.store(port, std::memory_order_relaxed); }

// ---- Regions: every region here is one rectangle (or empty). ----

PLATFORM_API RgnHandle NewRgn(void) {
    auto *rec = static_cast<RegionRecord *>(std::malloc(sizeof(RegionRecord)));
    if (!rec) {
        QDSetError(memFullErr);
        return nullptr;
    }
    new (rec) RegionRecord{nullptr, Rect{0, 0, 0, 0}, kRgnTag};
    rec->master = &rec->box;
    return reinterpret_cast<RgnHandle>(&rec->master);
}

PLATFORM_API void DisposeRgn(RgnHandle rgn) {
    RegionRecord *rec = RegionOf(rgn);
    if (!rec) return;
    rec->tag = 0;
    std::free(rec);
}

// An empty rectangle makes the empty region, as QuickDraw normalises it.
PLATFORM_API void RectRgn(RgnHandle rgn, const Rect *r) {
    RegionRecord *rec = RegionOf(rgn);
    if (!rec || !r) return;
    rec->box = (r->right <= r->left || r->bottom <= r->top) ? Rect{0, 0, 0, 0} : *r;
}

PLATFORM_API void SetEmptyRgn(RgnHandle rgn) {
    if (RegionRecord *rec = RegionOf(rgn)) rec->box = Rect{0, 0, 0, 0};
}

PLATFORM_API Rect *GetRegionBounds(RgnHandle rgn, Rect *bounds) {
    if (!bounds) return nullptr;
    RegionRecord *rec = RegionOf(rgn);
    *bounds = rec ? rec->box : Rect{0, 0, 0, 0};
    return bounds;
}

PLATFORM_API void GetClip(RgnHandle rgn) {
    GrafPort *port = QDCurrentPort();
    RegionRecord *rec = RegionOf(rgn);
    if (port && rec) rec->box = port->clipRect;
}

PLATFORM_API void SetClip(RgnHandle rgn) {
    GrafPort *port = QDCurrentPort();
    RegionRecord *rec = RegionOf(rgn);
    if (port && rec) port->clipRect = rec->box;
}

PLATFORM_API void ClipRect(const Rect *r) {
    GrafPort *port = QDCurrentPort();
    if (port && r) port->clipRect = *r;
}

PLATFORM_API Rect *GetPortClipRect(CGrafPtr port, Rect *r) {
    if (!r) return nullptr;
    *r = port ? port->clipRect : Rect{0, 0, 0, 0};
    return r;
}

}  // extern "C"
