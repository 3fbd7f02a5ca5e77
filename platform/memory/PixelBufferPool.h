/*
 * Large pixel buffers kept after release for the next picture of a similar
 * size. A video render makes and disposes full-frame pictures every frame;
 * handing memory back to the system each time would page-fault every frame
 * afresh. Internal to the platform library.
 */
#ifndef PLATFORM_PIXEL_BUFFER_POOL_H
#define PLATFORM_PIXEL_BUFFER_POOL_H

#include <cstddef>

/* A block of at least `bytes` bytes (content undefined), 64-byte aligned;
 * *capacity receives its real size, to be passed back on release. NULL when
 * memory is short. A request of 0 bytes gives a small valid block. */
void *PixelBufferAcquire(size_t bytes, size_t *capacity);
void PixelBufferRelease(void *block, size_t capacity);
/* Frees every cached block (tests and benchmarks use it for a cold start). */
void PixelBufferTrim(void);

#endif
