// Rows, arrays and the overflow-checked product allocation.
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "pmintern.h"
#include "unitutil.h"

TEST(SizeProducts, OverflowIsDetectedAtTheBoundary) {
    size_t product;
    EXPECT_TRUE(pm_mulsize(SIZE_MAX / 2, 2, &product));
    EXPECT_EQ(product, SIZE_MAX - 1);
    EXPECT_FALSE(pm_mulsize(SIZE_MAX / 2 + 1, 2, &product));
    EXPECT_TRUE(pm_mulsize(0, SIZE_MAX, &product));
    EXPECT_EQ(product, 0u);

    void* p = reinterpret_cast<void*>(1);
    mallocProduct(&p, SIZE_MAX / 8 + 1, 8);
    EXPECT_EQ(p, nullptr);
    mallocProduct(&p, 256, 16);
    ASSERT_NE(p, nullptr);
    static_cast<char*>(p)[4095] = 1; // all 4096 bytes are there (ASan checks)
    std::free(p);
    // Negative or overflowing sizes of rows and arrays are allocation failures.
    EXPECT_FATAL(pm_allocrow(-1, 4), "out of memory allocating a row");
    EXPECT_FATAL(pm_allocarray(4, -1, 4),
                 "out of memory allocating row index \\(4294967295 rows\\) for an array");
}

TEST(Arrays, RowsAreContiguousAndIndexable) {
    gray** a = pm_allocarray_of<gray>(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) a[y][x] = gray(y * 10 + x);
    EXPECT_EQ(a[1], a[0] + 3);
    EXPECT_EQ(a[1][2], 12u);
    pm_freearray(reinterpret_cast<char**>(a), 2);
    // Zero rows have a one-entry index; ASan reports a leak or a double free if this is wrong.
    pm_freearray(pm_allocarray(5, 0, 4), 0);
}

// ---- Arrays of whole-image readers ---------------------------------------------------------

TEST(ArrayBuilder, OneBlockWhenTheStreamHoldsTheRasterElseRowByRow) {
    TmpFile whole("abcdef");
    pm_arraybuilder b;
    pm_arraybegin(&b, whole, 3, 2, 1, 255, RAW_PGM);
    EXPECT_EQ(pm_arrayrow(&b, 1), static_cast<char*>(pm_arrayrow(&b, 0)) + 3);
    char** a = pm_arrayfinish(&b);
    EXPECT_EQ(a[2], a[0]) << "the last entry records the block";
    pm_freearray(a, 2);

    TmpFile shortFile("abc");
    pm_arraybegin(&b, shortFile, 3, 40, 1, 255, RAW_PGM);
    EXPECT_EQ(b.capacity, 0u) << "nothing allocated before a row is asked for";
    for (int row = 0; row < 40; ++row) static_cast<char*>(pm_arrayrow(&b, row))[2] = char(row);
    EXPECT_LT(b.capacity, 80u);
    a = pm_arrayfinish(&b);
    EXPECT_EQ(a[40], nullptr) << "rows allocated one by one";
    EXPECT_EQ(a[39][2], 39);
    pm_freearray(a, 40); // ASan reports a leak or a double free if the layout is wrong

    // Abandoned half-way, what was built is freed (leaks are ASan's to find).
    for (int rows : {0, 5}) {
        TmpFile empty("");
        pm_arraybegin(&b, empty, 4, 5, 4, 255, RAW_PGM);
        for (int row = 0; row < rows / 2; ++row) pm_arrayrow(&b, row);
        pm_arrayabandon(&b);
    }
}
