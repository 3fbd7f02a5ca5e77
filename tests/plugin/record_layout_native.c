/* The record's natural 64-bit layout; checked at compile time. */
#include <stdio.h>
#define RECORD_EXPECT_LP64 1
#include "record_layout_check.h"

int main(void) {
    printf("pluginDataRec: %zu bytes\n", sizeof(pluginDataRec));
    return 0;
}
