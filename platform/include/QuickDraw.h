/*
 * QuickDraw on 32-bit offscreen pictures.
 *
 * Pixels are four bytes in memory in the order alpha, red, green, blue, rows
 * rowBytes apart, bounds at the origin. Everything QuickDraw paints is opaque
 * (alpha 0xFF). There is one current port per process.
 */
#ifndef PLATFORM_QUICKDRAW_H
#define PLATFORM_QUICKDRAW_H

#include "MacTypes.h"

PLATFORM_EXTERN_C_BEGIN

typedef struct GrafPort GrafPort; /* defined in the platform's private headers */
typedef GrafPort *GrafPtr;
typedef GrafPort *CGrafPtr;
typedef GrafPort *GWorldPtr;
typedef struct OpaqueGDHandle **GDHandle;
typedef struct OpaqueCTabHandle **CTabHandle;
typedef uint32_t GWorldFlags;
typedef int16_t QDErr;

/* The pixel map of a picture. BitMap is the same record, as CopyBits sees it. */
typedef struct PixMap {
    Ptr baseAddr;
    int32_t rowBytes;
    Rect bounds;
    int16_t pixelSize; /* always 32 */
    GrafPort *port;    /* owning picture */
} PixMap;
typedef PixMap *PixMapPtr;
typedef PixMapPtr *PixMapHandle;
typedef PixMap BitMap;

typedef struct OpaqueRgnHandle **RgnHandle; /* rectangular regions */

/* Transfer modes. */
enum {
    srcCopy = 0,
    srcOr = 1,
    srcXor = 2,
    srcBic = 3,
    notSrcCopy = 4,
    notSrcOr = 5,
    notSrcXor = 6,
    notSrcBic = 7,
    patCopy = 8,
    patOr = 9,
    patXor = 10,
    patBic = 11,
    ditherCopy = 64
};

/* ---- Rectangles and points (half-open) ---- */
PLATFORM_API void SetRect(Rect *r, short left, short top, short right, short bottom);
PLATFORM_API void OffsetRect(Rect *r, short dh, short dv);
PLATFORM_API void InsetRect(Rect *r, short dh, short dv);
PLATFORM_API Boolean SectRect(const Rect *a, const Rect *b, Rect *dst);
PLATFORM_API void UnionRect(const Rect *a, const Rect *b, Rect *dst);
PLATFORM_API Boolean PtInRect(Point pt, const Rect *r);
PLATFORM_API void Pt2Rect(Point a, Point b, Rect *dst);
PLATFORM_API Boolean EmptyRect(const Rect *r);
PLATFORM_API Boolean EqualRect(const Rect *a, const Rect *b);
PLATFORM_API void SetPt(Point *pt, short h, short v);

/* ---- Offscreen pictures ---- */
/* Depth 32 (or 0, meaning 32) only, else paramErr. The picture's bounds are
 * the given ones moved to the origin; its pixels start opaque white. Empty
 * bounds give a valid 0x0 picture without pixels (drawing on it does
 * nothing); bounds wider or higher than 32767 give paramErr. On failure
 * *offscreen is NULL and the result (also QDError()) is memFullErr when
 * memory is short. Disposing of the current port leaves no port current. */
PLATFORM_API QDErr NewGWorld(GWorldPtr *offscreen, short pixelDepth, const Rect *bounds, CTabHandle cTable,
                             GDHandle device, GWorldFlags flags);
/* A picture over pixels the caller owns, in the pixel format
 * k32ARGBPixelFormat (the only one; others give paramErr), rows rowBytes
 * apart (at least 4 * width, a multiple of 4, else paramErr; buffer NULL
 * with non-empty bounds is paramErr too). Bounds as NewGWorld's. The pixels
 * are left as they are. The caller keeps the buffer alive until
 * DisposeGWorld, which does not free it. */
enum { k32ARGBPixelFormat = 0x00000020 };
PLATFORM_API QDErr NewGWorldFromPtr(GWorldPtr *offscreen, OSType pixelFormat, const Rect *bounds, CTabHandle cTable,
                                    GDHandle device, GWorldFlags flags, Ptr buffer, long rowBytes);
PLATFORM_API void DisposeGWorld(GWorldPtr offscreen);
PLATFORM_API PixMapHandle GetGWorldPixMap(GWorldPtr offscreen);
PLATFORM_API PixMapHandle GetPortPixMap(CGrafPtr port);
PLATFORM_API Boolean LockPixels(PixMapHandle pm);
PLATFORM_API void UnlockPixels(PixMapHandle pm);
PLATFORM_API Ptr GetPixBaseAddr(PixMapHandle pm);
PLATFORM_API SInt32 GetPixRowBytes(PixMapHandle pm);
PLATFORM_API Rect *GetPortBounds(CGrafPtr port, Rect *bounds);
PLATFORM_API Rect *GetPixBounds(PixMapHandle pm, Rect *bounds);
PLATFORM_API const BitMap *GetPortBitMapForCopyBits(CGrafPtr port);
PLATFORM_API QDErr QDError(void);

/* ---- Current port and device ---- */
PLATFORM_API void GetGWorld(CGrafPtr *port, GDHandle *device);
PLATFORM_API void SetGWorld(CGrafPtr port, GDHandle device);
PLATFORM_API void GetPort(GrafPtr *port);
PLATFORM_API void SetPort(GrafPtr port);

/* ---- Drawing on the current port ---- */
PLATFORM_API void RGBForeColor(const RGBColor *c);
PLATFORM_API void RGBBackColor(const RGBColor *c);
PLATFORM_API void GetForeColor(RGBColor *c);
PLATFORM_API void GetBackColor(RGBColor *c);
PLATFORM_API void PenMode(short mode);
PLATFORM_API void PenSize(short width, short height);
PLATFORM_API void PenNormal(void);
PLATFORM_API void PaintRect(const Rect *r);
PLATFORM_API void EraseRect(const Rect *r);
PLATFORM_API void FrameRect(const Rect *r);
PLATFORM_API void InvertRect(const Rect *r);
PLATFORM_API void PaintOval(const Rect *r);
PLATFORM_API void FrameOval(const Rect *r);
PLATFORM_API void ClipRect(const Rect *r);
PLATFORM_API void GetClip(RgnHandle rgn);
PLATFORM_API void SetClip(RgnHandle rgn);
PLATFORM_API Rect *GetPortClipRect(CGrafPtr port, Rect *r);

/* ---- Regions (rectangular) ---- */
PLATFORM_API RgnHandle NewRgn(void);
PLATFORM_API void DisposeRgn(RgnHandle rgn);
PLATFORM_API void RectRgn(RgnHandle rgn, const Rect *r);
PLATFORM_API void SetEmptyRgn(RgnHandle rgn);
PLATFORM_API Rect *GetRegionBounds(RgnHandle rgn, Rect *bounds);

/* Copies srcRect of src onto dstRect of dst, scaling when the sizes differ,
 * clipped to the destination picture (and to the current port's clip when
 * dst is the current port's pixels) and to maskRgn when given. Scaling is
 * nearest neighbour (the source pixel under each destination pixel's
 * centre); equal sizes copy exactly, overlapping copies within one picture
 * included. Pixels are copied as they are, alpha too, whatever the mode;
 * destination pixels whose source lies outside the source picture stay. */
PLATFORM_API void CopyBits(const BitMap *src, const BitMap *dst, const Rect *srcRect, const Rect *dstRect, short mode,
                           RgnHandle maskRgn);

/* Decimal text of a number as a length-prefixed string. */
PLATFORM_API void NumToString(long n, Str255 s);

PLATFORM_EXTERN_C_END

#endif
