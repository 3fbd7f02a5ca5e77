/*
 * Basic Mac OS types and error codes, as the Carbon headers name them.
 * Integers are native byte order; Rect and Point keep QuickDraw's field order.
 */
#ifndef PLATFORM_MACTYPES_H
#define PLATFORM_MACTYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define PLATFORM_EXTERN_C_BEGIN extern "C" {
#define PLATFORM_EXTERN_C_END }
#else
#define PLATFORM_EXTERN_C_BEGIN
#define PLATFORM_EXTERN_C_END
#endif

#define PLATFORM_API __attribute__((visibility("default")))

PLATFORM_EXTERN_C_BEGIN

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef unsigned char Boolean;
typedef int16_t OSErr;
typedef int32_t OSStatus;
typedef uint32_t FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef char *Ptr;
typedef Ptr *Handle;
typedef long Size;
typedef unsigned long ByteCount;
typedef unsigned long ItemCount;
typedef int16_t ScriptCode;
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str31[32];
typedef unsigned char *StringPtr;
typedef const unsigned char *ConstStringPtr;
typedef const unsigned char *ConstStr255Param;
typedef const unsigned char *ConstStr63Param;
typedef double EventTime;
typedef long SRefCon;

#ifndef __cplusplus
#ifndef true
#define true 1
#define false 0
#endif
#endif

/* QuickDraw's integer rectangle and point. Half-open: a rectangle covers
 * h in [left, right) and v in [top, bottom). */
typedef struct Rect {
    int16_t top, left, bottom, right;
} Rect;
typedef struct Point {
    int16_t v, h;
} Point;
typedef struct RGBColor {
    uint16_t red, green, blue;
} RGBColor;

/* Four-character code from a string literal, highest byte first. */
#define PLATFORM_FOURCC(a, b, c, d) \
    ((uint32_t)(uint8_t)(a) << 24 | (uint32_t)(uint8_t)(b) << 16 | (uint32_t)(uint8_t)(c) << 8 | (uint32_t)(uint8_t)(d))

enum {
    noErr = 0,
    paramErr = -50,
    memFullErr = -108,
    nilHandleErr = -109,
    memWZErr = -111,
    fnfErr = -43,
    dirNFErr = -120,
    ioErr = -36,
    eofErr = -39,
    dskFulErr = -34,
    permErr = -54,
    wrPermErr = -61,
    opWrErr = -49,
    dupFNErr = -48,
    bdNamErr = -37,
    fnOpnErr = -38,
    tmfoErr = -42,
    resNotFound = -192,
    resFNotFound = -193,
    addResFailed = -194,
    rmvResFailed = -196,
    mapReadErr = -199,
    badExtResource = -185,
    eventNotHandledErr = -9874,
    eventParameterNotFoundErr = -9870,
    errUnknownControl = -30584,
    kLSApplicationNotFoundErr = -10814,
    kLSUnknownErr = -10810,
    userCanceledErr = -128
};

PLATFORM_EXTERN_C_END

#endif
