/*
 * Offsets and sizes of the HY records, as the editor fixed them. Included by
 * the native (LP64) check and by the 32-bit cross-target checks.
 */
#include <stddef.h>

#define HY_CHECK(cond) _Static_assert(cond, #cond)

/* Information blocks: identical on every target. */
HY_CHECK(sizeof(HYPluginGetInfo) == 48);
HY_CHECK(offsetof(HYPluginGetInfo, pluginType) == 0);
HY_CHECK(offsetof(HYPluginGetInfo, pluginFlags) == 4);
HY_CHECK(offsetof(HYPluginGetInfo, framesToBeRendered) == 8);
HY_CHECK(offsetof(HYPluginGetInfo, takeFromClipBefore) == 12);
HY_CHECK(offsetof(HYPluginGetInfo, takeFromClipAfter) == 16);
HY_CHECK(offsetof(HYPluginGetInfo, minSpeedFrames) == 20);
HY_CHECK(offsetof(HYPluginGetInfo, maxSpeedFrames) == 24);
HY_CHECK(offsetof(HYPluginGetInfo, mustTakeFromSingleClips) == 28);
HY_CHECK(offsetof(HYPluginGetInfo, bestThumbOffset) == 32);
HY_CHECK(sizeof(HYPluginFilterSliderInfo) == 388);
HY_CHECK(offsetof(HYPluginFilterSliderInfo, minLabel) == 128);
HY_CHECK(offsetof(HYPluginFilterSliderInfo, maxLabel) == 256);
HY_CHECK(offsetof(HYPluginFilterSliderInfo, defaultValue) == 384);
HY_CHECK(sizeof(HY2PluginGetInfo) == 1328);
HY_CHECK(offsetof(HY2PluginGetInfo, filterSliders) == 128);
HY_CHECK(offsetof(HY2PluginGetInfo, selectedFrames) == 1312);
HY_CHECK(offsetof(HY2PluginGetInfo, baseMemoryNeeded) == 1324);
HY_CHECK(sizeof(HY3PluginGetInfo) == 128);
HY_CHECK(offsetof(HY3PluginGetInfo, buttonTitle) == 96);
HY_CHECK(sizeof(HY4PluginGetInfo) == 388);
HY_CHECK(sizeof(HYPluginFilterInfo) == 20);
HY_CHECK(offsetof(HYPluginFilterInfo, fadeInFrames) == 12);
HY_CHECK(offsetof(HYPluginFilterInfo, fadeOutFrames) == 16);
HY_CHECK(sizeof(Rect) == 8);
HY_CHECK(sizeof(HYProcs) == 30 * sizeof(void *));
HY_CHECK(offsetof(HYProcs, GetFrame) == 9 * sizeof(void *));
HY_CHECK(offsetof(HYProcs, Blit) == 16 * sizeof(void *));
HY_CHECK(offsetof(HYProcs, MixAudio) == 24 * sizeof(void *));
HY_CHECK(offsetof(HYProcs, ReleaseFilterInfo) == 26 * sizeof(void *));

#if defined(HY_EXPECT_ILP32)
HY_CHECK(sizeof(void *) == 4);
HY_CHECK(offsetof(_PluginParams, interfaceVersion) == 0);
HY_CHECK(offsetof(_PluginParams, instance) == 4);
HY_CHECK(offsetof(_PluginParams, selector) == 8);
HY_CHECK(offsetof(_PluginParams, procs) == 12);
HY_CHECK(offsetof(_PluginParams, getInfo) == 16);
HY_CHECK(offsetof(_PluginParams, startFrame) == 64);
HY_CHECK(offsetof(_PluginParams, renderFrame) == 68);
HY_CHECK(offsetof(_PluginParams, frameCount) == 72);
HY_CHECK(offsetof(_PluginParams, proxyOnly) == 76);
HY_CHECK(offsetof(_PluginParams, frameRect) == 78);
HY_CHECK(offsetof(_PluginParams, frame) == 88);
HY_CHECK(offsetof(_PluginParams, clientData) == 92);
HY_CHECK(offsetof(_PluginParams, getInfo2) == 96);
HY_CHECK(offsetof(_PluginParams, getInfo3) == 1424);
HY_CHECK(offsetof(_PluginParams, getInfo4) == 1552);
HY_CHECK(sizeof(_PluginParams) == 1940);
#elif defined(HY_EXPECT_LP64)
HY_CHECK(sizeof(void *) == 8);
HY_CHECK(offsetof(_PluginParams, interfaceVersion) == 0);
HY_CHECK(offsetof(_PluginParams, instance) == 8);
HY_CHECK(offsetof(_PluginParams, selector) == 16);
HY_CHECK(offsetof(_PluginParams, procs) == 24);
HY_CHECK(offsetof(_PluginParams, getInfo) == 32);
HY_CHECK(offsetof(_PluginParams, startFrame) == 80);
HY_CHECK(offsetof(_PluginParams, renderFrame) == 84);
HY_CHECK(offsetof(_PluginParams, frameCount) == 88);
HY_CHECK(offsetof(_PluginParams, proxyOnly) == 92);
HY_CHECK(offsetof(_PluginParams, frameRect) == 94);
HY_CHECK(offsetof(_PluginParams, frame) == 104);
HY_CHECK(offsetof(_PluginParams, clientData) == 112);
HY_CHECK(offsetof(_PluginParams, getInfo2) == 120);
HY_CHECK(offsetof(_PluginParams, getInfo3) == 1448);
HY_CHECK(offsetof(_PluginParams, getInfo4) == 1576);
HY_CHECK(sizeof(_PluginParams) == 1968);
#else
#error "say which data model to expect"
#endif
