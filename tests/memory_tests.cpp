#include <gtest/gtest.h>

#include "core/memory.h"

TEST(GrowBuffer, GrowsToTwiceUsedOrNeeded) {
    GrowBuffer buffer{nullptr, 0, 0};
    ASSERT_NE(growBuffer(&buffer, 93, processHeap(), nullptr), nullptr);
    EXPECT_EQ(buffer.capacity, 93u);
    buffer.used = 93;
    ASSERT_NE(growBuffer(&buffer, 186, processHeap(), nullptr), nullptr);
    EXPECT_EQ(buffer.capacity, 186u);
    buffer.used = 186;
    ASSERT_NE(growBuffer(&buffer, 279, processHeap(), nullptr), nullptr);
    EXPECT_EQ(buffer.capacity, 372u);
    freeBytes(buffer.data);
}
