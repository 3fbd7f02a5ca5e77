/*
 * HY host-interface ABI: the parameter block, information records, callback
 * table, selectors and result codes shared by the video editor and its
 * filter plug-ins.
 *
 * The layout is the natural C layout of the fields below, so the same source
 * gives the editor's fixed 32-bit layout (1940-byte parameter block) on i386
 * and PowerPC, and a 1968-byte block on LP64 where pointers are 8 bytes.
 * The information blocks hold no pointers; their unlisted bytes are reserved
 * arrays, so their layouts are identical on every target.
 *
 * Usable from C and C++; freestanding (only <stdint.h>).
 */
#ifndef HY_PLUGIN_H
#define HY_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Platform types the ABI names. The platform layer defines the same types
 * with the same layout; HY_NO_PLATFORM_TYPES lets a freestanding check
 * compile this header alone. */
#ifndef HY_NO_PLATFORM_TYPES
#include "MacTypes.h"
#include "QuickDraw.h"
#else
typedef struct HYRect { int16_t top, left, bottom, right; } Rect;
typedef struct GrafPort *GWorldPtr;
typedef struct PixMap **PixMapHandle;
#endif

/* ---- One-byte codes ---------------------------------------------------- */

typedef uint8_t HYPluginResult;
typedef uint8_t HYPluginSelector;
typedef uint8_t HYPluginType;
typedef uint8_t HYRefDVQuality;
typedef uint32_t HYPluginChoiceFlags;

enum {
    kPluginOK = 0,
    kPluginCancel = 1,
    kPluginFinished = 2,
    kPluginBadParams = 3,
    kPluginOutOfMemory = 4,
    kPluginOutOfDiskSpace = 5,
    kPluginFailed = 6,
    kPluginCantGetNeededFrame = 7,
    kPluginUnimplemented = 8,
    kPluginTryAgainLater = 9,
    kPluginAppIsTooOld = 10,
    kPluginAppIsTooNew = 11
};

enum {
    kPlugGetInfo = 1,
    kPlugInitialize = 2,
    kPlugDrawIcon = 3,
    kPlugDrawThumbNail = 4,
    kPlugFilePlaceHolder = 5,
    kPlugDoFrame = 6,
    kPlugCallOnceWithInitAndTerminate = 7,
    kPlugTerminate = 8,
    kPlugCustomButtonClick = 9
};

enum {
    kPluginUnknownType = 0,
    kPluginTitleType = 101,
    kPluginTransitionBeforeType = 102,
    kPluginTransitionBetweenType = 103,
    kPluginTransitionAfterType = 104,
    kPluginFilterType = 105
};

enum {
    kDVLowQuality = 0,
    kDVHighQuality = 1,
    kDVHighQualitySingleField = 2
};

/* ---- Information blocks (no pointers: same layout everywhere) ---------- */

typedef struct HYPluginGetInfo {              /* 48 bytes */
    HYPluginType pluginType;                  /*  0 */
    uint8_t reserved0[3];
    HYPluginChoiceFlags pluginFlags;          /*  4 */
    int32_t framesToBeRendered;               /*  8 */
    int32_t takeFromClipBefore;               /* 12 */
    int32_t takeFromClipAfter;                /* 16 */
    int32_t minSpeedFrames;                   /* 20 */
    int32_t maxSpeedFrames;                   /* 24 */
    uint8_t mustTakeFromSingleClips;          /* 28 */
    uint8_t reserved1[3];
    int32_t bestThumbOffset;                  /* 32 */
    uint8_t reserved2[12];
} HYPluginGetInfo;

typedef struct HYPluginFilterSliderInfo {     /* 388 bytes */
    char label[128];                          /*   0 */
    char minLabel[128];                       /* 128 */
    char maxLabel[128];                       /* 256 */
    float defaultValue;                       /* 384 */
} HYPluginFilterSliderInfo;

typedef struct HY2PluginGetInfo {             /* 1328 bytes */
    char group[128];                          /*    0 */
    HYPluginFilterSliderInfo filterSliders[3];/*  128 */
    uint8_t reserved0[20];
    int32_t selectedFrames;                   /* 1312 */
    uint8_t reserved1[8];
    int32_t baseMemoryNeeded;                 /* 1324 */
} HY2PluginGetInfo;

typedef struct HY3PluginGetInfo {             /* 128 bytes */
    uint8_t reserved0[96];
    char buttonTitle[32];                     /* 96 */
} HY3PluginGetInfo;

typedef struct HY4PluginGetInfo {             /* 388 bytes, not used */
    uint8_t reserved[388];
} HY4PluginGetInfo;

typedef struct HYPluginFilterInfo {           /* 20 bytes */
    float sliderValues[3];                    /*  0 */
    int32_t fadeInFrames;                     /* 12 */
    int32_t fadeOutFrames;                    /* 16 */
} HYPluginFilterInfo;

/* ---- Callback table ---------------------------------------------------- */

typedef void (*HYUntypedProc)(void);

typedef struct HYProcs {
    void *(*NewPtr)(int32_t size);
    void *(*NewPtrClear)(int32_t size);
    void (*DisposePtr)(void *block);
    HYUntypedProc ptocstr;
    HYUntypedProc ctopstr;
    HYUntypedProc pstrcpy;
    HYUntypedProc strcpy;
    HYUntypedProc strlen;
    HYUntypedProc GetLocalizedString;
    HYPluginResult (*GetFrame)(void *instance, int32_t frameIndex, GWorldPtr *picture,
                               int32_t width, int32_t height, HYRefDVQuality quality,
                               int16_t *volume, void **cookie);
    HYPluginResult (*ReleaseFrame)(void *instance, void *cookie);
    HYUntypedProc GetAudioFrame;
    HYUntypedProc ReleaseAudioFrame;
    HYUntypedProc GetMovieInfo;
    HYUntypedProc GetClipInfo;
    HYUntypedProc SetClipInfo;
    HYPluginResult (*Blit)(PixMapHandle src, PixMapHandle dst, Rect srcRect,
                           const Rect *dstRect, int16_t opacity);
    HYUntypedProc FillRect;
    HYUntypedProc TextBounds;
    HYUntypedProc DrawText;
    HYUntypedProc GetTitleInfo;
    HYUntypedProc ReleaseTitleInfo;
    HYUntypedProc GetTransitionInfo;
    HYUntypedProc ReleaseTransitionInfo;
    HYPluginResult (*MixAudio)(void *instance, void *cookie, int32_t level);
    HYPluginResult (*GetFilterInfo)(void *instance, HYPluginFilterInfo **info);
    HYPluginResult (*ReleaseFilterInfo)(void *instance, HYPluginFilterInfo *info);
    HYUntypedProc StringWidth;
    HYUntypedProc CGDrawText;
    HYUntypedProc CGStringWidth;
} HYProcs;

/* ---- The parameter block ---------------------------------------------- */

typedef struct _PluginParams {
    int16_t interfaceVersion;
    void *instance;
    HYPluginSelector selector;
    HYProcs *procs;
    HYPluginGetInfo getInfo;
    int32_t startFrame;
    int32_t renderFrame;
    int32_t frameCount;
    uint8_t proxyOnly;
    Rect frameRect;
    GWorldPtr frame;
    void *clientData;
    HY2PluginGetInfo getInfo2;
    HY3PluginGetInfo getInfo3;
    HY4PluginGetInfo getInfo4;
} _PluginParams;

typedef _PluginParams HYPluginParams;

/* The plug-in's exported entry point. */
typedef int32_t (*HYPluginMainProc)(int32_t which, HYPluginParams *params);

#ifdef __cplusplus
}
#endif

#endif /* HY_PLUGIN_H */
