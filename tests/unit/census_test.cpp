// The colour census and its cache; the colour-and-alpha table.
#include <gtest/gtest.h>
#include <string>

#include "gridpack.h"
#include "testutil.h"

namespace {

class CensusTest : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        pm_progname = "gridpack";
        pm_setMessage(1, nullptr);
    }
};

} // namespace

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
