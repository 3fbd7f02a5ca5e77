#include "Png.h"

#include "SafeOutput.h"

#include <png.h>

#include <cerrno>
#include <cstring>

bool WritePng(const std::string &path, const ArgbPicture &picture, std::string &error) {
    PendingOutput pending(path);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(picture.width);
    image.height = png_uint_32(picture.height);
    image.format = PNG_FORMAT_ARGB;  // bytes A,R,G,B: the pictures' own order
    errno = 0;
    if (!png_image_write_to_file(&image, pending.TempPath().c_str(), 0, picture.pixels.get(),
                                 png_int_32(picture.RowBytes()), nullptr)) {
        const int why = errno;
        error = "cannot write '" + path + "': " +
                (why == ENOSPC || why == EDQUOT || std::strstr(image.message, "No space left")
                     ? std::string("no space left on the device")
                     : std::string(image.message));
        return false;
    }
    return pending.Commit(error);
}
