/* Offsets of the configuration record. Included by the native check and by
 * the 32-bit cross-target check; the header must compile as plain C11. */
#include <stddef.h>
#include "config/pascalFX.h"

#define RECORD_CHECK(cond) _Static_assert(cond, #cond)

RECORD_CHECK(sizeof(relRect) == 32);
RECORD_CHECK(offsetof(pluginDataRec, startRel) == 0);
RECORD_CHECK(offsetof(pluginDataRec, endRel) == 32);
RECORD_CHECK(offsetof(pluginDataRec, sliders) == 64);
RECORD_CHECK(offsetof(pluginDataRec, colors) == 76);
RECORD_CHECK(offsetof(pluginDataRec, frameStartColor) == 112);
RECORD_CHECK(offsetof(pluginDataRec, frameEndColor) == 118);
RECORD_CHECK(offsetof(pluginDataRec, mediaType) == 124);
RECORD_CHECK(offsetof(pluginDataRec, outside) == 126);
RECORD_CHECK(offsetof(pluginDataRec, clipActive) == 127);
RECORD_CHECK(offsetof(pluginDataRec, theOriginalImage) == 128);

/* After the first pointer: offsets on 32-bit targets, then on LP64. */
#if defined(RECORD_EXPECT_ILP32)
#define RECORD_MODEL(ilp32, lp64) (ilp32)
RECORD_CHECK(sizeof(void *) == 4);
#elif defined(RECORD_EXPECT_LP64)
#define RECORD_MODEL(ilp32, lp64) (lp64)
RECORD_CHECK(sizeof(void *) == 8);
#else
#error "say which data model to expect"
#endif
RECORD_CHECK(offsetof(pluginDataRec, theRendered) == RECORD_MODEL(132, 136));
RECORD_CHECK(offsetof(pluginDataRec, keepProps) == RECORD_MODEL(136, 144));
RECORD_CHECK(offsetof(pluginDataRec, rota) == RECORD_MODEL(138, 146));
RECORD_CHECK(sizeof(pluginDataRec) == RECORD_MODEL(140, 152));
