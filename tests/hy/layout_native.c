/* The header as the plug-in and host see it on this machine. */
#define HY_EXPECT_LP64 1
#include "HYPlugin.h"
#include "layout_check.h"
int main(void) { return 0; }
