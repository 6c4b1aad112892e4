// The colour census and its cache; the colour-and-alpha table.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gridpack.h"
#include "imagefile.h"

namespace {

class CensusTest : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        gridpack::freeChv();
        pm_progname = "gridpack";
        pm_setMessage(1, nullptr);
    }
    void TearDown() override { gridpack::freeChv(); }

    static void census(ImageFile& img, color_hist* chvP, int* colorsP) {
        gridpack::getChv(img.f, img.rasterPos, img.cols, img.rows, img.maxval, img.format, 256,
                         chvP, colorsP);
    }
};

// n distinct gray levels at maxval 65535 as a PPM, one pixel each.
std::string imageOfColours(int n) {
    std::vector<unsigned> s;
    for (int i = 0; i < n; ++i) s.insert(s.end(), {unsigned(i), 7, 7});
    return pnmImage("P6", n, 1, 65535, s);
}

} // namespace

TEST_F(CensusTest, SecondCallReadsNothingAndReportsOnce) {
    ImageFile img("P6", 3, 1, 255, {1, 2, 3, 4, 5, 6, 1, 2, 3});
    // A stream that ends after its header: reading its raster would be fatal.
    ImageFile noRaster("P6\n3 1\n255\n");
    color_hist first = nullptr, second = nullptr;
    int colors1 = 0, colors2 = 0;
    ::testing::internal::CaptureStderr();
    census(img, &first, &colors1);
    census(noRaster, &second, &colors2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "gridpack: 2 colors found\n");
    EXPECT_EQ(colors1, 2);
    EXPECT_EQ(first, second);
    EXPECT_EQ(colors2, 2);

    gridpack::freeChv();
    ::testing::internal::CaptureStderr();
    census(img, &first, &colors1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "gridpack: 2 colors found\n");
    EXPECT_EQ(colors1, 2);
}

TEST_F(CensusTest, VerboseAnnouncesTheCountingQuietSilencesAll) {
    ImageFile img("P5", 2, 1, 255, {4, 4});
    gridpack::verbose = 1;
    color_hist chv;
    int colors;
    ::testing::internal::CaptureStderr();
    census(img, &chv, &colors);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: Finding colors in input image...\ngridpack: 1 colors found\n");
    ASSERT_EQ(colors, 1);
    EXPECT_TRUE(PPM_EQUAL(chv[0].color, (pixel{4, 4, 4}))) << "gray as three equal samples";
    EXPECT_EQ(chv[0].value, 2);

    gridpack::freeChv();
    pm_setMessage(0, nullptr);
    ::testing::internal::CaptureStderr();
    census(img, &chv, &colors);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(CensusTest, ExactlyTheLimitIsAHistogram) {
    ImageFile img(imageOfColours(256));
    color_hist chv = nullptr;
    int colors = 0;
    ::testing::internal::CaptureStderr();
    census(img, &chv, &colors);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "gridpack: 256 colors found\n");
    EXPECT_NE(chv, nullptr);
    EXPECT_EQ(colors, 256);
}

TEST_F(CensusTest, OverTheLimitIsCachedAsNoHistogram) {
    ImageFile img(imageOfColours(257));
    ImageFile noRaster("P6\n257 1\n65535\n");
    color_hist chv = reinterpret_cast<color_hist>(1);
    int colors = 0;
    ::testing::internal::CaptureStderr();
    census(img, &chv, &colors);
    EXPECT_EQ(chv, nullptr);
    EXPECT_EQ(colors, 257);
    chv = reinterpret_cast<color_hist>(1);
    census(noRaster, &chv, &colors);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(chv, nullptr);
    EXPECT_EQ(colors, 257);
}

TEST_F(CensusTest, ColourAlphaPairsMapToTheirOwnValues) {
    gridpack::color_alpha_hash t = gridpack::alloccoloralphahash();
    const pixel red{255, 0, 0};
    const pixel other{1, 2, 3};
    const gray a0 = 0, a100 = 100, a255 = 255;
    gridpack::addtocoloralphahash(t, &red, &a0, 4);
    gridpack::addtocoloralphahash(t, &red, &a100, 7);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &red, &a0), 4);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &red, &a100), 7);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &red, &a255), -1);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &other, &a0), -1);
    gridpack::freecoloralphahash(t);
}

TEST_F(CensusTest, ColoursOfOneChainAreToldApart) {
    // 20023 x 33023 stays below 2^31, so (20023, 0, 0) hashes to chain 0 like black.
    gridpack::color_alpha_hash t = gridpack::alloccoloralphahash();
    const pixel black{0, 0, 0};
    const pixel sameChain{20023, 0, 0};
    ASSERT_EQ(ppm_hashpixel(black), ppm_hashpixel(sameChain));
    const gray a = 9;
    gridpack::addtocoloralphahash(t, &black, &a, 1);
    gridpack::addtocoloralphahash(t, &sameChain, &a, 2);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &black, &a), 1);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &sameChain, &a), 2);
    gridpack::freecoloralphahash(t);
}
