// Palette construction, and the transparent and background entries added to a palette.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gridpack.h"
#include "testutil.h"

namespace {

class PaletteTest : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        gridpack::errorlevel = 0;
        pm_progname = "gridpack";
        pm_setMessage(1, nullptr);
    }
};

// Eight distinct colours, entry i (10 i, 20, 30), with room for 256 like the driver's palette.
std::vector<pixel> eightColors() {
    std::vector<pixel> p(256, pixel{0, 0, 0});
    for (unsigned i = 0; i < 8; ++i) p[i] = {10 * i, 20, 30};
    return p;
}

} // namespace

// ---- closest colour ------------------------------------------------------------------------

TEST_F(PaletteTest, ClosestTiesGoToTheLowestIndex) {
    const pixel palette[] = {{9, 9, 9}, {0, 0, 0}, {2, 0, 0}};
    unsigned index = 99, distance = 99;
    ASSERT_TRUE(gridpack::closestColorInPalette(1, 0, 0, palette, 3, &index, &distance));
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(distance, 1u);
    ASSERT_TRUE(gridpack::closestColorInPalette(2, 0, 1, palette, 3, &index, nullptr));
    EXPECT_EQ(index, 2u);
    ASSERT_TRUE(gridpack::closestColorInPalette(255, 0, 0, palette, 3, nullptr, &distance));
    EXPECT_EQ(distance, 60678u); // 246² + 9² + 9², entry 0
}

TEST_F(PaletteTest, ClosestInAnEmptyPaletteStoresNothing) {
    const pixel palette[1] = {{1, 2, 3}};
    unsigned index = 77, distance = 88;
    EXPECT_FALSE(gridpack::closestColorInPalette(1, 2, 3, palette, 0, &index, &distance));
    EXPECT_EQ(index, 77u);
    EXPECT_EQ(distance, 88u);
}

// ---- transparent entry ---------------------------------------------------------------------

TEST_F(PaletteTest, TransparentColourIsSwappedToTheFront) {
    std::vector<pixel> p = eightColors();
    gray trans[256] = {};
    trans[0] = 99;
    unsigned transSize = 0;
    gridpack::makeOneColorTransparentInPalette(50, 20, 30, true, p.data(), 8, trans, &transSize);
    EXPECT_EQ(transSize, 1u);
    EXPECT_EQ(trans[0], 0u);
    EXPECT_TRUE(PPM_EQUAL(p[0], (pixel{50, 20, 30})));
    EXPECT_TRUE(PPM_EQUAL(p[5], (pixel{0, 20, 30})));
    for (unsigned i : {1u, 2u, 3u, 4u, 6u, 7u}) EXPECT_EQ(p[i].r, 10 * i);
}

TEST_F(PaletteTest, TransparentColourAlreadyFirstKeepsTheOrder) {
    std::vector<pixel> p = eightColors();
    gray trans[256] = {};
    unsigned transSize = 0;
    gridpack::makeOneColorTransparentInPalette(0, 20, 30, false, p.data(), 8, trans, &transSize);
    EXPECT_EQ(transSize, 1u);
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(p[i].r, 10 * i);
}

TEST_F(PaletteTest, ExactTransparentColourAbsentWarnsEvenWithoutVerbose) {
    std::vector<pixel> p = eightColors();
    gray trans[256] = {};
    unsigned transSize = 0;
    gridpack::errorlevel = 5;
    ::testing::internal::CaptureStderr();
    gridpack::makeOneColorTransparentInPalette(51, 20, 30, true, p.data(), 8, trans, &transSize);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: specified transparent color not present in palette; ignoring "
              "-transparent\n");
    EXPECT_EQ(gridpack::errorlevel, 0);
    EXPECT_EQ(transSize, 0u);
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(p[i].r, 10 * i);
}

TEST_F(PaletteTest, InexactTransparentColourTakesTheClosestAndNamesIt) {
    std::vector<pixel> p = eightColors();
    gray trans[256] = {};
    unsigned transSize = 0;
    gridpack::verbose = 1;
    ::testing::internal::CaptureStderr();
    gridpack::makeOneColorTransparentInPalette(32, 21, 30, false, p.data(), 8, trans, &transSize);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: Making all occurences of color (30, 20, 30) transparent.\n");
    EXPECT_EQ(transSize, 1u);
    EXPECT_EQ(p[0].r, 30u);
    EXPECT_EQ(p[3].r, 0u);
}

TEST_F(PaletteTest, TransparentStepsLeaveAnEmptyPaletteAlone) {
    pixel p[1] = {{7, 7, 7}};
    gray trans[1] = {5};
    unsigned transSize = 0;
    gridpack::makeOneColorTransparentInPalette(7, 7, 7, false, p, 0, trans, &transSize);
    EXPECT_EQ(transSize, 0u);
    EXPECT_EQ(trans[0], 5u);
}

TEST_F(PaletteTest, SecondTransparentEntryIsAnInternalError) {
    std::vector<pixel> p = eightColors();
    gray trans[256] = {};
    unsigned transSize = 1;
    EXPECT_EXIT(gridpack::makeOneColorTransparentInPalette(0, 20, 30, false, p.data(), 8, trans,
                                                           &transSize),
                ::testing::ExitedWithCode(1),
                "Internal error: trying to make a color in the palette transparent where there "
                "already is one.");
}

// ---- background entry ----------------------------------------------------------------------

TEST_F(PaletteTest, BackgroundPresentKeepsTheLength) {
    std::vector<pixel> p = eightColors();
    unsigned size = 8;
    int index = -1;
    gridpack::verbose = 1;
    ::testing::internal::CaptureStderr();
    gridpack::findOrAddBackgroundInPalette(40, 20, 30, p.data(), &size, &index);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: background color (40, 20, 30) appears in image.\n");
    EXPECT_EQ(index, 4);
    EXPECT_EQ(size, 8u);
}

TEST_F(PaletteTest, BackgroundOfTwoAlphaEntriesTakesTheHigherIndex) {
    const pixel p0[] = {{1, 1, 1}, {5, 5, 5}, {2, 2, 2}, {5, 5, 5}, {3, 3, 3}};
    std::vector<pixel> p(256);
    std::copy(p0, p0 + 5, p.begin());
    unsigned size = 5;
    int index = -1;
    gridpack::findOrAddBackgroundInPalette(5, 5, 5, p.data(), &size, &index);
    EXPECT_EQ(index, 3);
}

TEST_F(PaletteTest, BackgroundIsAppendedUpTo256Entries) {
    std::vector<pixel> p(256);
    for (unsigned i = 0; i < 255; ++i) p[i] = {i, 0, 0};
    unsigned size = 255;
    int index = -1;
    gridpack::verbose = 1;
    ::testing::internal::CaptureStderr();
    gridpack::findOrAddBackgroundInPalette(1, 2, 3, p.data(), &size, &index);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: added background color (1, 2, 3) to palette.\n");
    EXPECT_EQ(index, 255);
    EXPECT_EQ(size, 256u);
    EXPECT_TRUE(PPM_EQUAL(p[255], (pixel{1, 2, 3})));
}

TEST_F(PaletteTest, FullPaletteUsesTheClosestEntry) {
    std::vector<pixel> p(256);
    for (unsigned i = 0; i < 256; ++i) p[i] = {i, 0, 0};
    unsigned size = 256;
    int index = -1;
    gridpack::verbose = 1;
    gridpack::errorlevel = 3;
    ::testing::internal::CaptureStderr();
    gridpack::findOrAddBackgroundInPalette(100, 2, 0, p.data(), &size, &index);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: no room in palette for background color; using closest match "
              "(100, 0, 0) instead\n");
    EXPECT_EQ(index, 100);
    EXPECT_EQ(size, 256u);
    EXPECT_EQ(gridpack::errorlevel, 0);
}

TEST_F(PaletteTest, BackgroundStepsQuietWithoutVerboseAndEmptyPaletteUntouched) {
    std::vector<pixel> p = eightColors();
    unsigned size = 8;
    int index = -1;
    ::testing::internal::CaptureStderr();
    gridpack::findOrAddBackgroundInPalette(1, 2, 3, p.data(), &size, &index);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(index, 8);

    size = 0;
    index = -1;
    gridpack::findOrAddBackgroundInPalette(1, 2, 3, p.data(), &size, &index);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(p[0].r, 0u);
}
