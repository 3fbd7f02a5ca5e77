// Memory Manager (memory/MemoryManager.cpp): blocks remember their size, handles keep their data
// through resizing, and failures are reported through MemError.
#include "MacMemory.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(Memory, PointersKnowTheirSizeAndClearWhenAsked) {
    Ptr p = NewPtrClear(1000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetPtrSize(p), 1000);
    EXPECT_EQ(std::count(p, p + 1000, 0), 1000);
    DisposePtr(p);
    DisposePtr(nullptr);  // harmless
    EXPECT_EQ(NewPtr(-1), nullptr);
    EXPECT_NE(MemError(), noErr);
    EXPECT_EQ(NewPtrClear(Size(~0UL >> 1)), nullptr);  // fails cleanly instead of wrapping
    EXPECT_EQ(MemError(), memFullErr);
}

TEST(Memory, HandlesKeepDataThroughResizing) {
    Handle h = NewHandleClear(16);
    ASSERT_TRUE(h && *h);
    EXPECT_EQ(std::pair(GetHandleSize(h), std::count(*h, *h + 16, 0)), std::pair(Size(16), std::ptrdiff_t(16)));
    for (int i = 0; i < 16; ++i) (*h)[i] = char(i + 1);
    // Each step: new size, then the error, size and front byte it leaves.
    // Growing may move the data, never the handle; a locked handle's data
    // stays put, so it cannot grow past what it already holds.
    for (auto [size, lock, err, after] : {std::tuple{Size(100000), false, OSErr(noErr), Size(100000)},
                                          {4, false, noErr, 4},
                                          {200000, true, memFullErr, 4},
                                          {50000, true, noErr, 50000},
                                          {200000, false, noErr, 200000},
                                          {-5, false, paramErr, 200000}}) {
        lock ? HLock(h) : HUnlock(h);
        const Ptr before = *h;
        SetHandleSize(h, size);
        EXPECT_EQ(MemError(), err) << size;
        EXPECT_EQ(GetHandleSize(h), after) << size;
        EXPECT_TRUE(!lock || *h == before) << size;
        EXPECT_EQ((*h)[0], 1);
        EXPECT_EQ((*h)[3], 4) << size;
    }
    DisposeHandle(h);
    EXPECT_EQ(GetHandleSize(nullptr), 0);
    EXPECT_EQ(MemError(), nilHandleErr);
}
