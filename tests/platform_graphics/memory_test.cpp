// Memory Manager: blocks remember their size, handles keep their data
// through resizing, and failures are reported through MemError.
#include "MacMemory.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Memory, PointersKnowTheirSizeAndClearWhenAsked) {
    Ptr p = NewPtrClear(1000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetPtrSize(p), 1000);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0) << i;
    std::memset(p, 0x5A, 1000);   // the whole block is writable
    DisposePtr(p);
    EXPECT_EQ(MemError(), noErr);

    Ptr empty = NewPtr(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(GetPtrSize(empty), 0);
    DisposePtr(empty);
    DisposePtr(nullptr);   // harmless

    EXPECT_EQ(NewPtr(-1), nullptr);
    EXPECT_NE(MemError(), noErr);
    // A size no machine can give fails cleanly instead of wrapping.
    EXPECT_EQ(NewPtrClear(Size(~0UL >> 1)), nullptr);
    EXPECT_EQ(MemError(), memFullErr);
}

TEST(Memory, HandlesKeepDataThroughResizing) {
    Handle h = NewHandleClear(16);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(*h, nullptr);
    EXPECT_EQ(GetHandleSize(h), 16);
    for (int i = 0; i < 16; ++i) ASSERT_EQ((*h)[i], 0);
    for (int i = 0; i < 16; ++i) (*h)[i] = char(i + 1);

    SetHandleSize(h, 100000);   // grows: the data may move, the handle does not
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetHandleSize(h), 100000);
    for (int i = 0; i < 16; ++i) ASSERT_EQ((*h)[i], char(i + 1)) << i;

    SetHandleSize(h, 4);   // shrinks, keeping the front
    EXPECT_EQ(GetHandleSize(h), 4);
    EXPECT_EQ((*h)[3], 4);

    // A locked handle's data stays put: growing past what it holds fails.
    HLock(h);
    Ptr before = *h;
    SetHandleSize(h, 200000);
    EXPECT_EQ(MemError(), memFullErr);
    EXPECT_EQ(GetHandleSize(h), 4);
    EXPECT_EQ(*h, before);
    SetHandleSize(h, 50000);   // within what it already holds
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(*h, before);
    HUnlock(h);
    SetHandleSize(h, 200000);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ((*h)[0], 1);

    SetHandleSize(h, -5);
    EXPECT_EQ(MemError(), paramErr);
    EXPECT_EQ(GetHandleSize(h), 200000);
    DisposeHandle(h);
    EXPECT_EQ(MemError(), noErr);

    EXPECT_EQ(GetHandleSize(nullptr), 0);
    EXPECT_EQ(MemError(), nilHandleErr);
    Handle zero = NewHandle(0);
    ASSERT_NE(zero, nullptr);
    EXPECT_NE(*zero, nullptr);
    EXPECT_EQ(GetHandleSize(zero), 0);
    DisposeHandle(zero);
}
