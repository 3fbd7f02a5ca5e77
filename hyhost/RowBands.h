// Splitting a picture conversion into two bands of rows, one on a helper
// thread, as swscale cuts its slices: the encoder and decoder wait on these
// conversions, and a second core is usually idle meanwhile.
#pragma once

#include <functional>

// Runs band(first, end) over [0, count) in two halves at once when the
// machine has a second core and the picture is worth it, else in one call.
// band must not throw.
void InTwoBands(int count, const std::function<void(int, int)> &band);
