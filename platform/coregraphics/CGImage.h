/* Images: creation from pixels. Internal to the platform library. */
#ifndef PLATFORM_CG_IMAGE_H
#define PLATFORM_CG_IMAGE_H

#include "coregraphics/CGObjects.h"

/* A new image holding a copy of src (NULL when src is empty or memory short). */
CGImageRef CGImageMakeCopy(const CGPixels &src);

#endif
