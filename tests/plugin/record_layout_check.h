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

#if defined(RECORD_EXPECT_ILP32)
RECORD_CHECK(sizeof(void *) == 4);
RECORD_CHECK(offsetof(pluginDataRec, theRendered) == 132);
RECORD_CHECK(offsetof(pluginDataRec, keepProps) == 136);
RECORD_CHECK(offsetof(pluginDataRec, rota) == 138);
RECORD_CHECK(sizeof(pluginDataRec) == 140);
#elif defined(RECORD_EXPECT_LP64)
RECORD_CHECK(sizeof(void *) == 8);
RECORD_CHECK(offsetof(pluginDataRec, theRendered) == 136);
RECORD_CHECK(offsetof(pluginDataRec, keepProps) == 144);
RECORD_CHECK(offsetof(pluginDataRec, rota) == 146);
RECORD_CHECK(sizeof(pluginDataRec) == 152);
#else
#error "say which data model to expect"
#endif
