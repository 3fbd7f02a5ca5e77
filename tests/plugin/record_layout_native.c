/* The record's natural 64-bit layout; checked at compile time. */
#define RECORD_EXPECT_LP64 1
#include "record_layout_check.h"

int main(void) { return 0; }
