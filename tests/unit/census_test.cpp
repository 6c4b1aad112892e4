// The colour census and its cache; the colour-and-alpha table.
#include <string>
#include <vector>

#include "unitutil.h"

namespace {

class CensusTest : public ConverterTest {
protected:
    // The census's messages, with its result in chv and colors.
    std::string census(const ImageFile& img) {
        return stderrOf([&] {
            gridpack::getChv(img.f, img.rasterPos, img.cols, img.rows, img.maxval, img.format, 256,
                             &chv, &colors);
        });
    }
    color_hist chv = reinterpret_cast<color_hist>(1);
    int colors = 0;
};

// n distinct gray levels at maxval 65535 as a PPM, one pixel each.
std::string imageOfColours(int n) {
    std::vector<unsigned> s;
    for (int i = 0; i < n; ++i) s.insert(s.end(), {unsigned(i), 7, 7});
    return pnmImage("P6", n, 1, 65535, s);
}

} // namespace

TEST_F(CensusTest, TakenOnceAndReportedOnceUntilFreed) {
    // The second image ends after its header: reading its raster would be fatal.
    const ImageFile img("P6", 3, 1, 255, {1, 2, 3, 4, 5, 6, 1, 2, 3}), noRaster("P6\n3 1\n255\n");
    EXPECT_EQ(census(img), "gridpack: 2 colors found\n");
    const color_hist first = chv;
    EXPECT_EQ(census(noRaster), "");
    EXPECT_EQ(chv, first);
    EXPECT_EQ(colors, 2);
    gridpack::freeChv();
    EXPECT_EQ(census(img), "gridpack: 2 colors found\n");
    EXPECT_EQ(colors, 2);
    EXPECT_NE(first, nullptr);

    // Over the limit is cached as no histogram, and not reported.
    gridpack::freeChv();
    EXPECT_EQ(census(ImageFile(imageOfColours(257))), "");
    EXPECT_EQ(chv, nullptr);
    EXPECT_EQ(colors, 257);
    chv = reinterpret_cast<color_hist>(1);
    EXPECT_EQ(census(ImageFile("P6\n257 1\n65535\n")), "");
    EXPECT_EQ(chv, nullptr);
    EXPECT_EQ(colors, 257);
    // Exactly the limit is a histogram.
    gridpack::freeChv();
    EXPECT_EQ(census(ImageFile(imageOfColours(256))), "gridpack: 256 colors found\n");
    EXPECT_NE(chv, nullptr);
    EXPECT_EQ(colors, 256);
}

TEST_F(CensusTest, VerboseAnnouncesTheCountingQuietSilencesAll) {
    const ImageFile img("P5", 2, 1, 255, {4, 4});
    gridpack::verbose = 1;
    EXPECT_EQ(census(img),
              "gridpack: Finding colors in input image...\ngridpack: 1 colors found\n");
    ASSERT_EQ(colors, 1);
    EXPECT_TRUE(PPM_EQUAL(chv[0].color, (pixel{4, 4, 4}))) << "gray as three equal samples";
    EXPECT_EQ(chv[0].value, 2);
    gridpack::freeChv();
    pm_setMessage(0, nullptr);
    EXPECT_EQ(census(img), "");
}

TEST_F(CensusTest, ColourAlphaPairsMapToTheirOwnValues) {
    gridpack::color_alpha_hash t = gridpack::alloccoloralphahash();
    // 20023 x 33023 stays below 2^31, so (20023, 0, 0) hashes to chain 0 like black.
    const pixel red{255, 0, 0}, other{1, 2, 3}, black{0, 0, 0}, sameChain{20023, 0, 0};
    ASSERT_EQ(ppm_hashpixel(black), ppm_hashpixel(sameChain));
    const gray a0 = 0, a9 = 9, a100 = 100, a255 = 255;
    gridpack::addtocoloralphahash(t, &red, &a0, 4);
    gridpack::addtocoloralphahash(t, &red, &a100, 7);
    gridpack::addtocoloralphahash(t, &black, &a9, 1);
    gridpack::addtocoloralphahash(t, &sameChain, &a9, 2);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &red, &a0), 4);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &red, &a100), 7);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &red, &a255), -1);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &other, &a0), -1);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &black, &a9), 1);
    EXPECT_EQ(gridpack::lookupColorAlpha(t, &sameChain, &a9), 2);
    gridpack::freecoloralphahash(t);
}
