// Rows, arrays and the overflow-checked product allocation.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>

#include "pixmill.h"
#include "pmintern.h"

TEST(SizeProducts, OverflowIsDetectedAtTheBoundary) {
    size_t product;
    EXPECT_TRUE(pm_mulsize(SIZE_MAX / 2, 2, &product));
    EXPECT_EQ(product, SIZE_MAX - 1);
    EXPECT_FALSE(pm_mulsize(SIZE_MAX / 2 + 1, 2, &product));
    EXPECT_TRUE(pm_mulsize(0, SIZE_MAX, &product));
    EXPECT_EQ(product, 0u);
}

TEST(MallocProduct, RefusesAProductThatDoesNotFit) {
    void* p = reinterpret_cast<void*>(1);
    mallocProduct(&p, SIZE_MAX / 8 + 1, 8);
    EXPECT_EQ(p, nullptr);
    mallocProduct(&p, 256, 16);
    ASSERT_NE(p, nullptr);
    static_cast<char*>(p)[4095] = 1; // all 4096 bytes are there (ASan checks)
    std::free(p);
}

TEST(Rows, NegativeOrOverflowingSizesAreAllocationFailures) {
    EXPECT_EXIT(pm_allocrow(-1, 4), ::testing::ExitedWithCode(1), "out of memory allocating a row");
    EXPECT_EXIT(pm_allocarray(4, -1, 4), ::testing::ExitedWithCode(1),
                "out of memory allocating row index \\(4294967295 rows\\) for an array");
}

TEST(Arrays, RowsAreContiguousAndIndexable) {
    gray** a = pm_allocarray_of<gray>(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) a[y][x] = gray(y * 10 + x);
    EXPECT_EQ(a[1], a[0] + 3);
    EXPECT_EQ(a[1][2], 12u);
    pm_freearray(reinterpret_cast<char**>(a), 2);
}

TEST(Arrays, ZeroRowsHasAOneEntryIndex) {
    char** a = pm_allocarray(5, 0, 4);
    pm_freearray(a, 0); // ASan reports a leak or a double free if this is wrong
}
