/* The header alone, compiled for a 32-bit target: proves the editor's layout. */
#define HY_NO_PLATFORM_TYPES 1
#define HY_EXPECT_ILP32 1
#include "HYPlugin.h"
#include "layout_check.h"
