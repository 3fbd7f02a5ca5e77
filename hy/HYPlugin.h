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
 *
 * Protocol in short: the plug-in exports one function (HYPluginMainProc,
 * exported as `main`). The host calls it for every message with a parameter
 * block whose `selector` names the message, one message at a time on one
 * thread. A render of a selection is kPlugInitialize, then kPlugDoFrame for
 * each frame (in any order), then kPlugTerminate. The plug-in reaches the
 * host only through the callback table in `procs`. Each message and each
 * callback carries its contract below: the fields it reads and writes, the
 * results it may give, and who owns what.
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
typedef struct HYRect {
    int16_t top, left, bottom, right;
} Rect;
typedef struct GrafPort *GWorldPtr;
typedef struct PixMap **PixMapHandle;
#endif

/* ---- One-byte codes ---------------------------------------------------- */

typedef uint8_t HYPluginResult;
typedef uint8_t HYPluginSelector;
typedef uint8_t HYPluginType;
typedef uint8_t HYRefDVQuality;
typedef uint32_t HYPluginChoiceFlags;

/* Results of `main` and of the callbacks. 0 is success. A plug-in produces
 * kPluginOK, kPluginBadParams, kPluginOutOfMemory, kPluginFailed and
 * kPluginAppIsTooOld itself; any other value it returns is a failing host
 * callback's result passed on unchanged (the earliest failure wins). */
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

/*
 * ---- Messages (`selector`) ----------------------------------------------
 *
 * Every message, before its own contract:
 *   - params NULL: kPluginBadParams. interfaceVersion 3 or lower (read as a
 *     signed value): kPluginAppIsTooOld. procs NULL: kPluginBadParams.
 *     Nothing else happens for any of these.
 *   - The first message that passes these checks, whatever its selector,
 *     allocates the plug-in's shared state through NewPtrClear. That block
 *     is the plug-in's until it is unloaded; the host never frees it.
 *   - `instance` and `procs` are read by every message that calls back.
 *
 * kPlugGetInfo (1): describe the plug-in.
 *   Reads:   getInfo.pluginFlags (the host's value is kept, bits are only
 *            added), getInfo2.selectedFrames.
 *   Writes:  getInfo.pluginType (kPluginFilterType for a filter),
 *            pluginFlags |= kPluginFlagFilterSliders | kPluginFlagCustomButton,
 *            framesToBeRendered and takeFromClipAfter (= selectedFrames),
 *            takeFromClipBefore, minSpeedFrames, maxSpeedFrames (0),
 *            mustTakeFromSingleClips (false); getInfo2.group,
 *            getInfo2.filterSliders[0..2], getInfo2.baseMemoryNeeded;
 *            getInfo3.buttonTitle. Every text is zero-terminated inside its
 *            field (a missing text is empty).
 *   Results: kPluginOK.
 *
 * kPlugInitialize (2): begin a render instance.
 *   Reads:   clientData, frameCount.
 *   Writes:  clientData: the plug-in's per-render block. NULL on entry makes
 *            a new block (NewPtrClear); a non-NULL block is reused.
 *   Calls:   NewPtrClear, GetFilterInfo, ReleaseFilterInfo.
 *   Results: kPluginOK; kPluginOutOfMemory (clientData left as on entry);
 *            otherwise GetFilterInfo's failure, with the block in place
 *            (kPlugTerminate still ends it).
 *   Ownership of clientData: the block belongs to the plug-in. The host
 *   starts it NULL, never reads or frees it, and hands the same value back
 *   in every message of the instance until kPlugTerminate frees it.
 *
 * kPlugDoFrame (6): render one frame of the selection into `frame`.
 *   Reads:   clientData, startFrame, renderFrame (counted from startFrame),
 *            frameCount, frameRect, frame, proxyOnly.
 *   Writes:  the pixels of `frame` inside frameRect; no field of the block.
 *   Calls:   GetFrame for frame startFrame + renderFrame at the size of
 *            frameRect; Blit near either end of the selection (fades);
 *            MixAudio unless proxyOnly; ReleaseFrame after every GetFrame,
 *            also after a failure.
 *   Results: kPluginOK; kPluginBadParams (clientData NULL, or a begin that
 *            failed); kPluginOutOfMemory or kPluginFailed (no scratch
 *            picture); otherwise a callback's failure passed on. A negative
 *            absolute frame index gives kPluginOK and draws nothing.
 *
 * kPlugTerminate (8): end the render instance.
 *   Reads:   clientData.
 *   Writes:  clientData := NULL, after freeing the block (DisposePtr).
 *   Results: kPluginOK, also when clientData is already NULL.
 *
 * kPlugFilePlaceHolder (5): render one finished frame for a placeholder.
 *   Reads:   getInfo.bestThumbOffset (the frame of the selection to show)
 *            and what kPlugDoFrame reads.
 *   Writes:  the pixels of `frame`. The block itself, clientData included,
 *            is left as it was: the plug-in runs a whole instance of its own
 *            (begin, frame, end) on a private copy of the block.
 *   Results: the begin's result, else the frame's.
 *
 * kPlugCustomButtonClick (9): the user pressed the plug-in's button; the
 *   plug-in runs its modal settings dialog and returns when it closes.
 *   Reads:   renderFrame, and the startFrame and frameCount of the most
 *            recent kPlugDoFrame (the dialog shows that clip).
 *   Calls:   GetFrame and ReleaseFrame, several times (see GetFrame for the
 *            pictures the plug-in disposes of in this message).
 *   Results: kPluginOK, whatever happened in the dialog.
 *
 * kPlugDrawIcon (3), kPlugDrawThumbNail (4),
 * kPlugCallOnceWithInitAndTerminate (7), 0 and values above 9: nothing is
 *   read or written; kPluginOK.
 */
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

/* Bits of HYPluginGetInfo.pluginFlags a filter adds on kPlugGetInfo to say
 * which controls the host is to show for it. The host's own bits are kept. */
enum {
    /* The three filter sliders described in getInfo2.filterSliders (bits
     * 0x080, 0x100 and 0x200); the host shows them and reports their
     * positions in HYPluginFilterInfo.sliderValues. */
    kPluginFlagFilterSliders = 0x0380,
    /* The custom button titled getInfo3.buttonTitle; pressing it sends
     * kPlugCustomButtonClick. */
    kPluginFlagCustomButton = 0x1000
};

enum { kDVLowQuality = 0, kDVHighQuality = 1, kDVHighQualitySingleField = 2 };

/* ---- Information blocks (no pointers: same layout everywhere) ---------- */

typedef struct HYPluginGetInfo { /* 48 bytes */
    HYPluginType pluginType;     /*  0 */
    uint8_t reserved0[3];
    HYPluginChoiceFlags pluginFlags; /*  4 */
    int32_t framesToBeRendered;      /*  8 */
    int32_t takeFromClipBefore;      /* 12 */
    int32_t takeFromClipAfter;       /* 16 */
    int32_t minSpeedFrames;          /* 20 */
    int32_t maxSpeedFrames;          /* 24 */
    uint8_t mustTakeFromSingleClips; /* 28 */
    uint8_t reserved1[3];
    int32_t bestThumbOffset; /* 32 */
    uint8_t reserved2[12];
} HYPluginGetInfo;

typedef struct HYPluginFilterSliderInfo { /* 388 bytes */
    char label[128];                      /*   0 */
    char minLabel[128];                   /* 128 */
    char maxLabel[128];                   /* 256 */
    float defaultValue;                   /* 384 */
} HYPluginFilterSliderInfo;

typedef struct HY2PluginGetInfo {              /* 1328 bytes */
    char group[128];                           /*    0 */
    HYPluginFilterSliderInfo filterSliders[3]; /*  128 */
    uint8_t reserved0[20];
    int32_t selectedFrames; /* 1312 */
    uint8_t reserved1[8];
    int32_t baseMemoryNeeded; /* 1324 */
} HY2PluginGetInfo;

typedef struct HY3PluginGetInfo { /* 128 bytes */
    uint8_t reserved0[96];
    char buttonTitle[32]; /* 96 */
} HY3PluginGetInfo;

typedef struct HY4PluginGetInfo { /* 388 bytes, not used */
    uint8_t reserved[388];
} HY4PluginGetInfo;

typedef struct HYPluginFilterInfo { /* 20 bytes */
    float sliderValues[3];          /*  0 */
    int32_t fadeInFrames;           /* 12 */
    int32_t fadeOutFrames;          /* 16 */
} HYPluginFilterInfo;

/*
 * ---- Callback table ----------------------------------------------------
 *
 * 30 slots in the editor's order. The plug-in calls eight of the nine typed
 * slots (all but NewPtr); the host fills every untyped slot with a function that returns
 * kPluginUnimplemented; a NULL slot counts as unimplemented. Callbacks are
 * called only from inside a message, on its thread.
 *
 * NewPtr, NewPtrClear(size): a block of `size` bytes (zero-filled by
 *   NewPtrClear), or NULL when memory is short. The block is the caller's
 *   until it passes it to DisposePtr.
 *
 * DisposePtr(block): frees a block from NewPtr or NewPtrClear.
 *
 * GetFrame(instance, frameIndex, picture, width, height, quality, volume,
 *          cookie): lends one frame of the clip.
 *   In:  frameIndex, absolute (0 is the clip's first frame; a render asks
 *        for startFrame + renderFrame); width and height in pixels;
 *        quality kDVLowQuality or kDVHighQuality.
 *   Out: *picture, a 32-bit picture of width x height with its bounds at
 *        the origin, holding the frame scaled to that size; *volume, the
 *        frame's audio volume (the plug-in need not read it); *cookie,
 *        naming the loan for ReleaseFrame and MixAudio.
 *   Results: kPluginOK, or a failure (kPluginCantGetNeededFrame for a frame
 *        the clip does not have, kPluginBadParams, kPluginOutOfMemory...)
 *        with *picture NULL.
 *   Ownership: the picture belongs to the host until ReleaseFrame(cookie).
 *        The plug-in reads it and never disposes of it, with one exception:
 *        in kPlugCustomButtonClick, the pictures fetched for the settings
 *        dialog's clip slider (every fetch after the first of the message)
 *        are disposed of by the plug-in right after it gives them back, so
 *        the host must not keep or reuse those.
 *        The host may lend `frame`, its output picture, as the source.
 *
 * ReleaseFrame(instance, cookie): gives a lent frame back. Every cookie of a
 *   successful GetFrame is released exactly once, in the message that got
 *   it; afterwards the plug-in no longer touches the picture. A render also
 *   calls it after a failed GetFrame, with the cookie that call left (NULL):
 *   the host answers a cookie not on loan with a failure (kPluginBadParams)
 *   and changes nothing. Otherwise kPluginOK or a failure.
 *
 * Blit(src, dst, srcRect, dstRect, opacity): draws srcRect of `src` over
 *   *dstRect of `dst`, scaled when the sizes differ, at `opacity` 0..255:
 *   255 leaves only the source, 0 changes nothing, values between mix in
 *   proportion. srcRect is passed by value, dstRect by reference (read
 *   only). kPluginOK or a failure.
 *
 * MixAudio(instance, cookie, level): carries the audio of the frame on loan
 *   as `cookie` into the output at `level`, where 256 is unity (the audio
 *   unchanged). A filter calls it once per frame of a final render (never
 *   when proxyOnly), with 256, before ReleaseFrame. kPluginOK or a failure.
 *
 * GetFilterInfo(instance, info): on kPluginOK, *info points to the host's
 *   HYPluginFilterInfo (slider positions, fade-in and fade-out lengths in
 *   frames). The block is the host's; the plug-in reads it and gives it back
 *   with ReleaseFilterInfo. On a failure *info may be NULL.
 *
 * ReleaseFilterInfo(instance, info): gives the block back. The plug-in
 *   ignores the result.
 */

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
    HYPluginResult (*GetFrame)(void *instance, int32_t frameIndex, GWorldPtr *picture, int32_t width, int32_t height,
                               HYRefDVQuality quality, int16_t *volume, void **cookie);
    HYPluginResult (*ReleaseFrame)(void *instance, void *cookie);
    HYUntypedProc GetAudioFrame;
    HYUntypedProc ReleaseAudioFrame;
    HYUntypedProc GetMovieInfo;
    HYUntypedProc GetClipInfo;
    HYUntypedProc SetClipInfo;
    HYPluginResult (*Blit)(PixMapHandle src, PixMapHandle dst, Rect srcRect, const Rect *dstRect, int16_t opacity);
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

/*
 * The parameter block, owned by the host; the plug-in's only view of it.
 * Offsets: 32-bit targets (ILP32, the editor's fixed 1940-byte layout) /
 * LP64. Which message reads or writes which field is listed with the
 * selectors above.
 */
typedef struct _PluginParams { /* ILP32  LP64 */
    int16_t interfaceVersion;  /*    0     0  must be 4 or more */
    void *instance;            /*    4     8  first argument of callbacks */
    HYPluginSelector selector; /*    8    16  the message */
    HYProcs *procs;            /*   12    24  host callbacks */
    HYPluginGetInfo getInfo;   /*   16    32 */
    int32_t startFrame;        /*   64    80  first frame of the selection */
    int32_t renderFrame;       /*   68    84  frame to render, from startFrame */
    int32_t frameCount;        /*   72    88  frames in the selection */
    uint8_t proxyOnly;         /*   76    92  preview render */
    Rect frameRect;            /*   78    94  output rectangle in frame */
    GWorldPtr frame;           /*   88   104  output picture */
    void *clientData;          /*   92   112  the plug-in's per-render block */
    HY2PluginGetInfo getInfo2; /*   96   120 */
    HY3PluginGetInfo getInfo3; /* 1424  1448 */
    HY4PluginGetInfo getInfo4; /* 1552  1576  not used */
} _PluginParams;               /* 1940  1968 bytes */

typedef _PluginParams HYPluginParams;

/* The plug-in's exported entry point, `main`: `which` is passed on to the
 * handlers and otherwise unused; the result is a HYPluginResult (0..255).
 * No C++ exception may cross it. */
typedef int32_t (*HYPluginMainProc)(int32_t which, HYPluginParams *params);

#ifdef __cplusplus
}
#endif

#endif /* HY_PLUGIN_H */
