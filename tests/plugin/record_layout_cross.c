/* The record's header alone, compiled for a 32-bit target. */
#define RECORD_EXPECT_ILP32 1
#include "record_layout_check.h"
