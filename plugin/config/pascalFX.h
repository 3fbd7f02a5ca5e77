/*
 * The effect configuration record and its operations, the effect's per-frame
 * entry and the settings dialog's entry.
 *
 * Valid C11 as well as C++: the record's 32-bit layout (140 bytes on i386) is
 * proven by a cross-target compile of this header.
 */
#ifndef KELVARIN_PASCALFX_H
#define KELVARIN_PASCALFX_H

#include "MacTypes.h"
#include "QuickDraw.h"
#include "CoreGraphics.h"
#include "render/relrects.h"

#ifdef __cplusplus
extern "C" {
#endif

struct _PluginParams;

/* Six-element arrays hold the items numbered 1..6: element i - 1 is item i. */
typedef struct pluginDataRec {
    relRect startRel;            /* where the turned picture goes */
    relRect endRel;              /* stored only; the effect draws with startRel */
    SInt16 sliders[6];           /* dialog slider values (none in use) */
    RGBColor colors[6];          /* colors[0] is the fill colour */
    RGBColor frameStartColor;    /* outline colour of the rectangle in the preview */
    RGBColor frameEndColor;      /* stored only */
    SInt16 mediaType;            /* 1 NTSC, 2 PAL, 3 HD; other values act as 1 */
    Boolean outside;             /* fill the whole frame with colors[0] first */
    Boolean clipActive;          /* clip the turned picture to its rectangle */
    CGImageRef theOriginalImage; /* never shared by a copy */
    CGImageRef theRendered;      /* owned by the record */
    Boolean keepProps;           /* keep proportions while editing */
    SInt16 rota;                 /* 1 = 0, 2 = 90, 3 = 180, 4 = 270 degrees */
} pluginDataRec, *pluginDataPtr;

enum { kMediaNTSC = 1, kMediaPAL = 2, kMediaHD = 3 };

/* ---- Operations the host glue calls (untyped blocks) ---- */
void pGetConfigSize(SInt32 *theSize);
/* New zero-filled record from the platform's allocator; asserts. */
void pNewConfig(void **theData);
void pDestroyConfig(void *aConfig);
/* Whole-record copy; theRendered is duplicated, theOriginalImage not shared.
 * Blocks of different allocated sizes end the host ("Non-Matching Blocks"). */
void pCopyConfig(const void *source, void *dest);
/* Releases what a copied record owns (its theRendered); not the block. */
void pUncopyConfig(void *theData);

/* ---- The record ---- */
SInt16 GetMediaFormat(pluginDataPtr theData); /* 1 for nil */
/* Prepares the shared record the host allocated: reset, load, save. */
void InitMyPlugIn(void **theData);
void InitPluginData(pluginDataPtr theConfig);
/* Defaults; fullInit also forgets (without releasing) the image references.
 * frameEndColor is never changed. */
void ResetConfig(pluginDataPtr theConfig, Boolean fullInit);

/* ---- Effect side ---- */
void InitPascal(void);
/* Renders one frame of a host render from theSource into theTarget. */
void DoEffect(pluginDataPtr myConfig, GrafPtr theSource, GrafPtr theTarget, SInt32 currentFrameIndex,
              SInt32 totalFrames);
/* Runs the modal settings dialog on the picture theGW (owned by the caller). */
void ConfigurePlugIn(pluginDataPtr theData, GWorldPtr theGW, struct _PluginParams *params, SInt32 firstFrameIndex,
                     SInt32 numberOfFrames);

#ifdef __cplusplus
}
#endif

#endif
