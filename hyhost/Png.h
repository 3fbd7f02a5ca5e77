// Pictures to PNG files (written under a temporary name, then renamed).
#pragma once

#include "Picture.h"

#include <string>

bool WritePng(const std::string &path, const ArgbPicture &picture, std::string &error);
