/*
 * The record behind a GrafPtr, shared by QuickDraw, the Core Graphics bridge
 * and the toolbox (window ports are pictures the size of the window).
 * Internal to the platform library.
 */
#ifndef PLATFORM_GRAFPORT_PRIVATE_H
#define PLATFORM_GRAFPORT_PRIVATE_H

#include "QuickDraw.h"

#ifdef __cplusplus
extern "C" {
#endif

struct GrafPort {
    PixMap pixMap;      /* baseAddr, rowBytes, bounds (top-left at 0,0) */
    PixMap *pixMapPtr;  /* master pointer: &pixMapPtr is the PixMapHandle */
    RGBColor foreColor; /* black after creation */
    RGBColor backColor; /* white after creation */
    short penMode;      /* patCopy after creation */
    Rect clipRect;      /* a large rectangle after creation */
    void *pixelBlock;   /* what owns the pixels (freed by DisposeGWorld) */
    size_t pixelBlockSize;
    /* Told after every drawing call that changed pixels of this port, with
     * the changed area (already clipped). Window ports use it to repaint. */
    void (*onChanged)(GrafPort *port, const Rect *area, void *context);
    void *onChangedContext;
    void *owner; /* the window of a window port, else NULL */
    /* Added for the drawing calls; NewGWorld sets them. */
    short penWidth, penHeight; /* 1, 1 after creation (PenSize, PenNormal) */
    uint32_t portTag;          /* kQDPortTag while the port is alive */
};

enum { kQDPortTag = 0x47726166 /* "Graf" */ };

/* Calls port->onChanged when set. */
void QDPortChanged(GrafPort *port, const Rect *area);

#ifdef __cplusplus
}
#endif

#endif
