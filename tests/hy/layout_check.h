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

/* The parameter block: one row per field, its offset on 32-bit targets, then on LP64. */
#if defined(HY_EXPECT_ILP32)
#define HY_MODEL(ilp32, lp64) (ilp32)
HY_CHECK(sizeof(void *) == 4);
#elif defined(HY_EXPECT_LP64)
#define HY_MODEL(ilp32, lp64) (lp64)
HY_CHECK(sizeof(void *) == 8);
#else
#error "say which data model to expect"
#endif
#define HY_PARAM(field, ilp32, lp64) HY_CHECK(offsetof(_PluginParams, field) == HY_MODEL(ilp32, lp64))

HY_PARAM(interfaceVersion, 0, 0);
HY_PARAM(instance, 4, 8);
HY_PARAM(selector, 8, 16);
HY_PARAM(procs, 12, 24);
HY_PARAM(getInfo, 16, 32);
HY_PARAM(startFrame, 64, 80);
HY_PARAM(renderFrame, 68, 84);
HY_PARAM(frameCount, 72, 88);
HY_PARAM(proxyOnly, 76, 92);
HY_PARAM(frameRect, 78, 94);
HY_PARAM(frame, 88, 104);
HY_PARAM(clientData, 92, 112);
HY_PARAM(getInfo2, 96, 120);
HY_PARAM(getInfo3, 1424, 1448);
HY_PARAM(getInfo4, 1552, 1576);
HY_CHECK(sizeof(_PluginParams) == HY_MODEL(1940, 1968));
