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

// ---- Arrays of whole-image readers ---------------------------------------------------------

TEST(ArrayBuilder, OneBlockWhenTheStreamHoldsTheRaster) {
    FILE* f = std::tmpfile();
    std::fputs("abcdef", f);
    std::rewind(f);
    pm_arraybuilder b;
    pm_arraybegin(&b, f, 3, 2, 1, 255, RAW_PGM);
    EXPECT_EQ(pm_arrayrow(&b, 1), static_cast<char*>(pm_arrayrow(&b, 0)) + 3);
    char** a = pm_arrayfinish(&b);
    EXPECT_EQ(a[2], a[0]) << "the last entry records the block";
    pm_freearray(a, 2);
    std::fclose(f);
}

TEST(ArrayBuilder, RowByRowWhenTheStreamIsShort) {
    FILE* f = std::tmpfile();
    std::fputs("abc", f);
    std::rewind(f);
    pm_arraybuilder b;
    pm_arraybegin(&b, f, 3, 40, 1, 255, RAW_PGM);
    EXPECT_EQ(b.capacity, 0u) << "nothing allocated before a row is asked for";
    for (int row = 0; row < 40; ++row) static_cast<char*>(pm_arrayrow(&b, row))[2] = char(row);
    EXPECT_LT(b.capacity, 80u);
    char** a = pm_arrayfinish(&b);
    EXPECT_EQ(a[40], nullptr) << "rows allocated one by one";
    EXPECT_EQ(a[39][2], 39);
    pm_freearray(a, 40); // ASan reports a leak or a double free if the layout is wrong
    std::fclose(f);
}

TEST(ArrayBuilder, AbandonedHalfWayFreesWhatWasBuilt) {
    for (int rows : {0, 5}) {
        FILE* f = std::tmpfile();
        pm_arraybuilder b;
        pm_arraybegin(&b, f, 4, 5, 4, 255, RAW_PGM);
        for (int row = 0; row < rows / 2; ++row) pm_arrayrow(&b, row);
        pm_arrayabandon(&b); // leaks are ASan's to find
        std::fclose(f);
    }
}
