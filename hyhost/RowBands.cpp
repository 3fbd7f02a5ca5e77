#include "RowBands.h"

#include <system_error>
#include <thread>

void InTwoBands(int count, const std::function<void(int, int)> &band) {
    static const bool twoCores = std::thread::hardware_concurrency() > 1;
    const int mid = count / 2;
    if (!twoCores || count < 64) return band(0, count);
    std::thread helper;
    try {
        helper = std::thread(band, 0, mid);
    } catch (const std::system_error &) {
        return band(0, count);  // no thread to be had: all here
    }
    band(mid, count);
    helper.join();
}
