// Colour histograms, hash tables and colour rows.
#include <gtest/gtest.h>

#include <vector>

#include "pixmill.h"
#include "testutil.h"

namespace {

// (1,0,0) and (0,49,98) share chain 13000: 33023 = 13000 and 30013*49 + 27011*98 = 4117715
// = 205*20023 + 13000. (0,0,1) lives in the lower chain 6988.
const pixel A{1, 0, 0};
const pixel B{0, 49, 98};
const pixel C{0, 0, 1};

bool same(const pixel& p, const pixel& q) { return p.r == q.r && p.g == q.g && p.b == q.b; }

// One row of pixels as an array of the library's shape.
struct Image {
    pixel** rows;
    int cols, nrows;
    Image(int c, int r) : rows(pm_allocarray_of<pixel>(c, r)), cols(c), nrows(r) {}
    explicit Image(const std::vector<pixel>& row) : Image(int(row.size()), 1) {
        for (int i = 0; i < cols; ++i) rows[0][i] = row[size_t(i)];
    }
    ~Image() { pm_freearray(reinterpret_cast<char**>(rows), nrows); }
};

// n distinct colours, one per pixel, on one row.
std::vector<pixel> distinctColors(int n) {
    std::vector<pixel> v;
    for (int i = 0; i < n; ++i) v.push_back(pixel{pixval(i % 7), pixval(i / 7), 200});
    return v;
}

} // namespace

TEST(ColorHist, OnePixel) {
    Image img({pixel{5, 6, 7}});
    int colors = -1;
    color_hist chv = ppm_computecolorhist(img.rows, 1, 1, 0, &colors);
    ASSERT_NE(chv, nullptr);
    EXPECT_EQ(colors, 1);
    EXPECT_TRUE(same(chv[0].color, pixel{5, 6, 7}));
    EXPECT_EQ(chv[0].value, 1);
    ppm_freecolorhist(chv);
}

TEST(ColorHist, ChainAscendingMostRecentFirstWithinAChain) {
    ASSERT_EQ(ppm_hashpixel(A), 13000u);
    ASSERT_EQ(ppm_hashpixel(B), 13000u);
    ASSERT_EQ(ppm_hashpixel(C), 6988u);
    // A run of A (counted without a second hash) then B, C and B again on a second row.
    Image img(3, 2);
    const pixel data[6] = {A, A, B, C, B, A};
    for (int i = 0; i < 6; ++i) img.rows[i / 3][i % 3] = data[i];
    // No limit (a table growing per colour), a limit that just fits and a large one (the
    // bounded counter, then the growing table again) give the same histogram.
    for (int limit : {0, 3, 256, 100000}) {
        SCOPED_TRACE(limit);
        int colors = 0;
        color_hist chv = ppm_computecolorhist(img.rows, 3, 2, limit, &colors);
        ASSERT_EQ(colors, 3);
        EXPECT_TRUE(same(chv[0].color, C));
        EXPECT_EQ(chv[0].value, 1);
        EXPECT_TRUE(same(chv[1].color, B));
        EXPECT_EQ(chv[1].value, 2);
        EXPECT_TRUE(same(chv[2].color, A));
        EXPECT_EQ(chv[2].value, 3);
        // Without a limit: five spare slots, cleared.
        for (int i = 3; limit == 0 && i < 8; ++i) {
            EXPECT_TRUE(same(chv[i].color, pixel{0, 0, 0}));
            EXPECT_EQ(chv[i].value, 0);
        }
        ppm_freecolorhist(chv);
    }
}

TEST(ColorHist, LimitOf256) {
    {
        Image img(distinctColors(256));
        int colors = 0;
        color_hist chv = ppm_computecolorhist(img.rows, img.cols, 1, 256, &colors);
        ASSERT_NE(chv, nullptr);
        EXPECT_EQ(colors, 256);
        ppm_freecolorhist(chv);
    }
    {
        Image img(distinctColors(257));
        int colors = 0;
        EXPECT_EQ(ppm_computecolorhist(img.rows, img.cols, 1, 256, &colors), nullptr);
        EXPECT_EQ(colors, 257);
    }
    {
        // Counting stops at the first colour beyond the limit, not at the end.
        Image img(distinctColors(40));
        int colors = 0;
        EXPECT_EQ(ppm_computecolorhash(img.rows, img.cols, 1, 3, &colors), nullptr);
        EXPECT_EQ(colors, 4);
        EXPECT_EQ(ppm_computecolorhash(img.rows, img.cols, 1, 39, &colors), nullptr);
        EXPECT_EQ(colors, 40);
        color_hash cht = ppm_computecolorhash(img.rows, img.cols, 1, 40, &colors);
        ASSERT_NE(cht, nullptr);
        EXPECT_EQ(colors, 40);
        EXPECT_EQ(ppm_lookupcolor(cht, &img.rows[0][39]), 1);
        ppm_freecolorhash(cht);
    }
}

TEST(ColorHash, LookupAddAndHeadInsertion) {
    color_hash cht = ppm_alloccolorhash();
    EXPECT_EQ(ppm_lookupcolor(cht, &A), -1);
    EXPECT_EQ(ppm_addtocolorhash(cht, &A, 10), 0);
    EXPECT_EQ(ppm_addtocolorhash(cht, &B, 20), 0);
    EXPECT_EQ(ppm_lookupcolor(cht, &A), 10);
    EXPECT_EQ(ppm_lookupcolor(cht, &B), 20);
    EXPECT_EQ(ppm_lookupcolor(cht, &C), -1);
    // No duplicate check: a second A shadows the first.
    EXPECT_EQ(ppm_addtocolorhash(cht, &A, 30), 0);
    EXPECT_EQ(ppm_lookupcolor(cht, &A), 30);

    color_hist chv = ppm_colorhashtocolorhist(cht, 3);
    EXPECT_EQ(chv[0].value, 30);
    EXPECT_EQ(chv[1].value, 20);
    EXPECT_EQ(chv[2].value, 10);
    ppm_freecolorhist(chv);
    ppm_freecolorhash(cht);
}

TEST(ColorHash, FromHistogramMapsToIndexes) {
    color_count hist[3] = {{C, 7}, {A, 8}, {B, 9}};
    color_hash cht = ppm_colorhisttocolorhash(hist, 3);
    EXPECT_EQ(ppm_lookupcolor(cht, &C), 0);
    EXPECT_EQ(ppm_lookupcolor(cht, &A), 1);
    EXPECT_EQ(ppm_lookupcolor(cht, &B), 2);
    ppm_freecolorhash(cht);
}

TEST(ColorHashDeathTest, RepeatedHistogramColour) {
    color_count hist[3] = {{pixel{1, 2, 3}, 1}, {A, 1}, {pixel{1, 2, 3}, 1}};
    EXPECT_EXIT(ppm_colorhisttocolorhash(hist, 3), ::testing::ExitedWithCode(1),
                "same color found twice - 1 2 3\n");
}

TEST(ColorHist, AddMovesInsertsOrLeavesFull) {
    const pixel P0{0, 0, 0}, P1{1, 1, 1}, P2{2, 2, 2}, P3{3, 3, 3}, N{9, 9, 9};
    struct Case {
        const char* what;
        pixel color;
        int position;
        int capacity;
        std::vector<unsigned> expectRed;
    } cases[] = {
        {"found below position moves down", P0, 2, 5, {1, 2, 0, 3}},
        {"found above position moves up", P3, 1, 5, {0, 3, 1, 2}},
        {"found at position stays", P2, 2, 5, {0, 1, 2, 3}},
        {"new colour inserted", N, 1, 5, {0, 9, 1, 2, 3}},
        {"new colour appended", N, 4, 5, {0, 1, 2, 3, 9}},
        {"full histogram unchanged", N, 0, 4, {0, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        color_count hist[5] = {{P0, 0}, {P1, 1}, {P2, 2}, {P3, 3}, {}};
        int colors = 4;
        ppm_addtocolorhist(hist, &colors, c.capacity, &c.color, 77, c.position);
        ASSERT_EQ(size_t(colors), c.expectRed.size()) << c.what;
        for (int i = 0; i < colors; ++i)
            EXPECT_EQ(hist[i].color.r, c.expectRed[size_t(i)]) << c.what;
        const bool full = c.capacity == 4;
        EXPECT_EQ(hist[c.position].value, full ? c.position : 77) << c.what;
    }
}

TEST(ColorRow, HashKeepsFirstIndex) {
    pixel row[4] = {A, B, A, C};
    color_hash cht = ppm_colorrowtocolorhash(row, 4);
    EXPECT_EQ(ppm_lookupcolor(cht, &A), 0);
    EXPECT_EQ(ppm_lookupcolor(cht, &B), 1);
    EXPECT_EQ(ppm_lookupcolor(cht, &C), 3);
    ppm_freecolorhash(cht);
}

TEST(ColorRow, ComputeInFirstAppearanceOrder) {
    Image img(2, 2);
    img.rows[0][0] = B;
    img.rows[0][1] = B;
    img.rows[1][0] = C;
    img.rows[1][1] = A;
    int n = 0;
    pixel* row = ppm_computecolorrow(img.rows, 2, 2, 3, &n);
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(n, 3);
    EXPECT_TRUE(same(row[0], B));
    EXPECT_TRUE(same(row[1], C));
    EXPECT_TRUE(same(row[2], A));
    pm_freerow(row);

    EXPECT_EQ(ppm_computecolorrow(img.rows, 2, 2, 2, &n), nullptr);
    EXPECT_EQ(n, -1);
}

namespace {
int descendingBlue(pixel* a, pixel* b) { return int(b->b) - int(a->b); }
} // namespace

TEST(ColorRow, SortDefaultAndCustom) {
    pixel row[4] = {{2, 0, 0}, {1, 5, 0}, {1, 2, 9}, {1, 2, 3}};
    ppm_sortcolorrow(row, 4, nullptr);
    EXPECT_TRUE(same(row[0], pixel{1, 2, 3}));
    EXPECT_TRUE(same(row[1], pixel{1, 2, 9}));
    EXPECT_TRUE(same(row[2], pixel{1, 5, 0}));
    EXPECT_TRUE(same(row[3], pixel{2, 0, 0}));
    ppm_sortcolorrow(row, 4, descendingBlue);
    EXPECT_EQ(row[0].b, 9u);
    EXPECT_EQ(row[1].b, 3u);
}

TEST(ColorRow, AddFindsAppendsOrRefuses) {
    pixel row[3] = {A, B, {}};
    int n = 2;
    pixel b = B, c = C;
    EXPECT_EQ(ppm_addtocolorrow(row, &n, 3, &b), 1);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(ppm_addtocolorrow(row, &n, 3, &c), 2);
    EXPECT_EQ(n, 3);
    pixel d{7, 7, 7};
    EXPECT_EQ(ppm_addtocolorrow(row, &n, 3, &d), -1);
    EXPECT_EQ(n, 3);
}

TEST(ColorRow, ClosestColour) {
    const pixel map[4] = {{10, 10, 10}, {0, 0, 0}, {20, 0, 0}, {0, 0, 20}};
    const pixel q{10, 0, 0};
    // {0,0,0} and {20,0,0} are both at 100; {10,10,10} at 200.
    EXPECT_EQ(ppm_findclosestcolor(map, 4, &q), 1);
    EXPECT_EQ(ppm_findclosestcolor(map + 2, 2, &q), 0);
    // Distances far beyond 32 bits still order correctly: 3*65535^2 against 3*65534^2.
    const pixel wide[2] = {{0, 0, 0}, {1, 1, 1}};
    const pixel white{65535, 65535, 65535};
    EXPECT_EQ(ppm_findclosestcolor(wide, 2, &white), 1);
    EXPECT_EQ(ppm_findclosestcolor(wide, 0, &white), -1);
}

TEST(ColorHistFromFile, CountsAfterTheHeader) {
    struct Case {
        const char* what;
        std::string image;
    } cases[] = {
        {"raw", pnmImage("P6", 3, 1, 255, {1, 0, 0, 0, 49, 98, 1, 0, 0})},
        {"plain", pnmImage("P3", 3, 1, 255, {1, 0, 0, 0, 49, 98, 1, 0, 0})},
    };
    for (const Case& c : cases) {
        FILE* f = tmpFileWith(c.image);
        int cols, rows, format;
        pixval maxval;
        ppm_readppminit(f, &cols, &rows, &maxval, &format);
        int colors = 0;
        color_hist chv = ppm_computecolorhist2(f, cols, rows, maxval, format, 256, &colors);
        ASSERT_NE(chv, nullptr) << c.what;
        ASSERT_EQ(colors, 2) << c.what;
        EXPECT_TRUE(same(chv[0].color, B)) << c.what;
        EXPECT_EQ(chv[0].value, 1) << c.what;
        EXPECT_TRUE(same(chv[1].color, A)) << c.what;
        EXPECT_EQ(chv[1].value, 2) << c.what;
        ppm_freecolorhist(chv);
        std::fclose(f);
    }
}

TEST(ColorHistFromFile, GraymapGivesGrayColours) {
    FILE* f = tmpFileWith(pnmImage("P5", 2, 2, 1000, {7, 7, 1000, 7}));
    int cols, rows, format;
    pixval maxval;
    ppm_readppminit(f, &cols, &rows, &maxval, &format);
    int colors = 0;
    color_hash cht = ppm_computecolorhash2(f, cols, rows, maxval, format, 0, &colors);
    EXPECT_EQ(colors, 2);
    const pixel seven{7, 7, 7}, top{1000, 1000, 1000};
    EXPECT_EQ(ppm_lookupcolor(cht, &seven), 3);
    EXPECT_EQ(ppm_lookupcolor(cht, &top), 1);
    ppm_freecolorhash(cht);
    std::fclose(f);
}

TEST(ColorRowFile, MapFileRoundTrip) {
    FILE* f = tmpFileWith(pnmImage("P6", 2, 2, 300, {9, 8, 7, 9, 8, 7, 1, 2, 3, 300, 0, 0}));
    int n = 0;
    pixval maxval = 0;
    pixel* row = ppm_mapfiletocolorrow(f, 3, &n, &maxval);
    std::fclose(f);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(maxval, 300u);
    ASSERT_EQ(n, 3);
    EXPECT_TRUE(same(row[0], pixel{9, 8, 7}));
    EXPECT_TRUE(same(row[2], pixel{300, 0, 0}));

    FILE* out = std::tmpfile();
    ppm_colorrowtomapfile(out, row, n, maxval);
    std::rewind(out);
    char text[64] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text - 1, out), 31u);
    EXPECT_STREQ(text, "P3\n3 1\n300\n9 8 7\n1 2 3\n300 0 0\n");
    std::fclose(out);
    pm_freerow(row);

    f = tmpFileWith(pnmImage("P3", 3, 1, 255, {1, 1, 1, 2, 2, 2, 3, 3, 3}));
    EXPECT_EQ(ppm_mapfiletocolorrow(f, 2, &n, &maxval), nullptr);
    EXPECT_EQ(n, -1);
    std::fclose(f);
}
