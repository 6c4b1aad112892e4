// Colour histograms, hash tables and colour rows.
#include <string>
#include <vector>

#include "unitutil.h"

namespace {

// (1,0,0) and (0,49,98) share chain 13000: 33023 = 13000 and 30013*49 + 27011*98 = 4117715
// = 205*20023 + 13000. (0,0,1) lives in the lower chain 6988.
const pixel A{1, 0, 0};
const pixel B{0, 49, 98};
const pixel C{0, 0, 1};

// A histogram as "colour x count" entries in its order.
std::string str(const color_count* hist, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += (i ? " " : "") + str(hist[i].color) + "x" + std::to_string(hist[i].value);
    return s;
}

// Pixels given row by row, as an array of the library's shape.
struct Image {
    pixel** rows;
    int cols, nrows;
    Image(int c, int r, const std::vector<pixel>& pixels)
        : rows(pm_allocarray_of<pixel>(c, r)), cols(c), nrows(r) {
        for (size_t i = 0; i < pixels.size(); ++i) rows[i / size_t(c)][i % size_t(c)] = pixels[i];
    }
    ~Image() { pm_freearray(reinterpret_cast<char**>(rows), nrows); }
};

// n distinct colours, one per pixel, on one row.
Image distinctColors(int n) {
    std::vector<pixel> v;
    for (int i = 0; i < n; ++i) v.push_back(pixel{pixval(i % 7), pixval(i / 7), 200});
    return Image(n, 1, v);
}

} // namespace

TEST(ColorHist, ChainAscendingMostRecentFirstWithinAChain) {
    ASSERT_EQ(ppm_hashpixel(A), 13000u);
    ASSERT_EQ(ppm_hashpixel(B), 13000u);
    ASSERT_EQ(ppm_hashpixel(C), 6988u);
    // A run of A (counted without a second hash) then B, C and B again on a second row.
    Image img(3, 2, {A, A, B, C, B, A});
    // No limit (a table growing per colour), a limit that just fits and a large one (the
    // bounded counter, then the growing table again) give the same histogram.
    for (int limit : {0, 3, 256, 100000}) {
        int colors = 0;
        color_hist chv = ppm_computecolorhist(img.rows, 3, 2, limit, &colors);
        ASSERT_NE(chv, nullptr) << limit;
        // Without a limit: five spare slots, cleared.
        EXPECT_EQ(str(chv, limit ? colors : colors + 5),
                  std::string("0,0,1x1 0,49,98x2 1,0,0x3") +
                      (limit ? "" : " 0,0,0x0 0,0,0x0 0,0,0x0 0,0,0x0 0,0,0x0"))
            << limit;
        ppm_freecolorhist(chv);
    }
}

TEST(ColorHist, CountingStopsAtTheFirstColourBeyondTheLimit) {
    int colors = 0;
    color_hist chv = ppm_computecolorhist(distinctColors(256).rows, 256, 1, 256, &colors);
    ASSERT_NE(chv, nullptr);
    EXPECT_EQ(colors, 256);
    ppm_freecolorhist(chv);
    EXPECT_EQ(ppm_computecolorhist(distinctColors(257).rows, 257, 1, 256, &colors), nullptr);
    EXPECT_EQ(colors, 257);

    Image img = distinctColors(40);
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
    EXPECT_EQ(str(chv, 3), "1,0,0x30 0,49,98x20 1,0,0x10");
    ppm_freecolorhist(chv);
    ppm_freecolorhash(cht);

    // From a histogram: each colour maps to its index; a repeated colour is fatal.
    color_count hist[3] = {{C, 7}, {A, 8}, {B, 9}};
    cht = ppm_colorhisttocolorhash(hist, 3);
    EXPECT_EQ(ppm_lookupcolor(cht, &C), 0);
    EXPECT_EQ(ppm_lookupcolor(cht, &A), 1);
    EXPECT_EQ(ppm_lookupcolor(cht, &B), 2);
    ppm_freecolorhash(cht);
    hist[2].color = C;
    EXPECT_FATAL(ppm_colorhisttocolorhash(hist, 3), "same color found twice - 0 0 1\n");
}

TEST(ColorHist, AddMovesInsertsOrLeavesFull) {
    const pixel P0{0, 0, 0}, P3{3, 3, 3}, N{9, 9, 9};
    const struct {
        pixel color;
        int position, capacity;
        const char* reds;
    } cases[] = {
        {P0, 2, 5, "1 2 0 3"},  {P3, 1, 5, "0 3 1 2"},  {pixel{2, 2, 2}, 2, 5, "0 1 2 3"},
        {N, 1, 5, "0 9 1 2 3"}, {N, 4, 5, "0 1 2 3 9"}, {N, 0, 4, "0 1 2 3"}, // full: unchanged
    };
    for (const auto& c : cases) {
        color_count hist[5] = {{P0, 0}, {pixel{1, 1, 1}, 1}, {pixel{2, 2, 2}, 2}, {P3, 3}, {}};
        int colors = 4;
        ppm_addtocolorhist(hist, &colors, c.capacity, &c.color, 77, c.position);
        std::string reds;
        for (int i = 0; i < colors; ++i) reds += (i ? " " : "") + std::to_string(hist[i].color.r);
        EXPECT_EQ(reds, c.reds);
        EXPECT_EQ(hist[c.position].value, c.capacity == 4 ? c.position : 77) << c.reds;
    }
}

TEST(ColorRow, HashComputeSortAndAdd) {
    pixel row[4] = {A, B, A, C};
    color_hash cht = ppm_colorrowtocolorhash(row, 4);
    EXPECT_EQ(ppm_lookupcolor(cht, &A), 0) << "the first index is kept";
    EXPECT_EQ(ppm_lookupcolor(cht, &B), 1);
    EXPECT_EQ(ppm_lookupcolor(cht, &C), 3);
    ppm_freecolorhash(cht);

    Image img(2, 2, {B, B, C, A});
    int n = 0;
    pixel* colors = ppm_computecolorrow(img.rows, 2, 2, 3, &n);
    ASSERT_NE(colors, nullptr);
    EXPECT_EQ(str(colors, size_t(n)), "0,49,98 0,0,1 1,0,0") << "in order of first appearance";
    pm_freerow(colors);
    EXPECT_EQ(ppm_computecolorrow(img.rows, 2, 2, 2, &n), nullptr);
    EXPECT_EQ(n, -1);

    pixel unsorted[4] = {{2, 0, 0}, {1, 5, 0}, {1, 2, 9}, {1, 2, 3}};
    ppm_sortcolorrow(unsorted, 4, nullptr);
    EXPECT_EQ(str(unsorted, 4u), "1,2,3 1,2,9 1,5,0 2,0,0");
    ppm_sortcolorrow(unsorted, 4, [](pixel* a, pixel* b) { return int(b->b) - int(a->b); });
    EXPECT_EQ(str(unsorted, 2u), "1,2,9 1,2,3");

    pixel added[3] = {A, B, {}};
    pixel b = B, c = C, d{7, 7, 7};
    n = 2;
    EXPECT_EQ(ppm_addtocolorrow(added, &n, 3, &b), 1);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(ppm_addtocolorrow(added, &n, 3, &c), 2);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(ppm_addtocolorrow(added, &n, 3, &d), -1);
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

TEST(ColorHistFromFile, CountsAfterTheHeaderGraysAsColours) {
    for (const char* magic : {"P6", "P3"}) {
        TmpFile f(pnmImage(magic, 3, 1, 255, {1, 0, 0, 0, 49, 98, 1, 0, 0}));
        int cols, rows, format, colors = 0;
        pixval maxval;
        ppm_readppminit(f, &cols, &rows, &maxval, &format);
        color_hist chv = ppm_computecolorhist2(f, cols, rows, maxval, format, 256, &colors);
        EXPECT_EQ(str(chv, colors), "0,49,98x1 1,0,0x2") << magic;
        ppm_freecolorhist(chv);
    }
    TmpFile f(pnmImage("P5", 2, 2, 1000, {7, 7, 1000, 7}));
    int cols, rows, format, colors = 0;
    pixval maxval;
    ppm_readppminit(f, &cols, &rows, &maxval, &format);
    color_hash cht = ppm_computecolorhash2(f, cols, rows, maxval, format, 0, &colors);
    EXPECT_EQ(colors, 2);
    const pixel seven{7, 7, 7}, top{1000, 1000, 1000};
    EXPECT_EQ(ppm_lookupcolor(cht, &seven), 3);
    EXPECT_EQ(ppm_lookupcolor(cht, &top), 1);
    ppm_freecolorhash(cht);
}

TEST(ColorRowFile, MapFileRoundTrip) {
    int n = 0;
    pixval maxval = 0;
    pixel* row = ppm_mapfiletocolorrow(
        TmpFile(pnmImage("P6", 2, 2, 300, {9, 8, 7, 9, 8, 7, 1, 2, 3, 300, 0, 0})), 3, &n, &maxval);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(maxval, 300u);
    EXPECT_EQ(str(row, size_t(n)), "9,8,7 1,2,3 300,0,0");
    EXPECT_EQ(writtenBy([&](FILE* f) { ppm_colorrowtomapfile(f, row, n, maxval); }),
              "P3\n3 1\n300\n9 8 7\n1 2 3\n300 0 0\n");
    pm_freerow(row);
    EXPECT_EQ(ppm_mapfiletocolorrow(TmpFile(pnmImage("P3", 3, 1, 255, {1, 1, 1, 2, 2, 2, 3, 3, 3})),
                                    2, &n, &maxval),
              nullptr);
    EXPECT_EQ(n, -1);
}
