// Significant-bit analysis: the four levels, their order and the early stop.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gridpack.h"
#include "imagefile.h"

namespace {

class SigBits : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        pm_progname = "gridpack";
        pm_setMessage(1, nullptr);
    }
};

int bitsOf(ImageFile& img, bool alpha = false, bool force = false) {
    int bits = -1;
    gridpack::findRedundantBits(img.f, img.rasterPos, img.cols, img.rows, img.maxval, img.format,
                                alpha, force, &bits);
    return bits;
}

struct Case {
    const char* what;
    const char* magic;
    int cols, rows;
    unsigned maxval;
    std::vector<unsigned> samples;
    int bits;
};

} // namespace

TEST_F(SigBits, EdgeCases) {
    const Case cases[] = {
        {"16-bit bytes repeated", "P5", 2, 2, 65535, {0, 257, 65535, 0x1212}, 8},
        {"only 0 and 65535 stop at 8", "P5", 2, 1, 65535, {0, 65535}, 8},
        {"one byte not repeated", "P5", 2, 1, 65535, {257, 258}, 16},
        {"multiples of 17", "P5", 4, 1, 255, {0, 17, 34, 255}, 4},
        {"only 0 and 255 stop at 4", "P5", 2, 1, 255, {0, 255}, 4},
        {"nibbles differ", "P5", 2, 1, 255, {17, 18}, 8},
        {"0 5 10 15 at maxval 15", "P5", 4, 1, 15, {0, 5, 10, 15}, 2},
        {"0 and 3 at maxval 3", "P5", 2, 1, 3, {0, 3}, 1},
        {"all zero at 65535", "P5", 2, 1, 65535, {0, 0}, 1},
        {"all zero at 255", "P5", 2, 1, 255, {0, 0}, 1},
        {"all zero at 15", "P5", 2, 1, 15, {0, 0}, 1},
        {"all zero at 3", "P5", 2, 1, 3, {0, 0}, 1},
        {"plain gray", "P2", 2, 1, 255, {68, 119}, 4},
        // Below a width's full scale a repeated pattern is no widened value: 187 of 200 is
        // not 11 of 15, so nothing is narrowed (likewise 10 of 14 and 2 bits).
        {"maxval 200 keeps 8", "P5", 2, 1, 200, {34, 187}, 8},
        {"maxval 14 keeps 4", "P5", 3, 1, 14, {0, 5, 10}, 4},
        {"maxval 2 keeps 2 unless all zero", "P5", 2, 1, 2, {0, 0}, 2},
        {"colour bytes repeated", "P6", 2, 1, 65535, {0, 257, 514, 65535, 0, 0}, 8},
        {"one colour sample not repeated", "P6", 2, 1, 65535, {0, 257, 514, 65535, 0, 1}, 16},
        {"colour at 255 stays 8", "P6", 1, 1, 255, {0, 0, 0}, 8},
        {"bitmap", "P4", 3, 1, 1, {1, 0, 1}, 1},
    };
    for (const Case& c : cases) {
        ImageFile img(c.magic, c.cols, c.rows, c.maxval, c.samples);
        EXPECT_EQ(bitsOf(img), c.bits) << c.what;
    }
}

TEST_F(SigBits, NoPassWhereNoLevelApplies) {
    // Header only: any pass would stop the process on the missing raster.
    ImageFile at100("P5\n4 4\n100\n");
    EXPECT_EQ(bitsOf(at100), 7);
    ImageFile gray16("P5\n4 4\n65535\n");
    EXPECT_EQ(bitsOf(gray16, true, false), 16) << "a gray image with an alpha mask";
    EXPECT_EQ(bitsOf(gray16, false, true), 16) << "force";
    ImageFile color16("P6\n4 4\n65535\n");
    EXPECT_EQ(bitsOf(color16, false, true), 16);
}

TEST_F(SigBits, PassesStopAtTheFirstFailingSample) {
    // Rows after the first are missing: reading them would be fatal.
    ImageFile gray16("P5", 2, 3, 65535, {0, 0x1234});
    EXPECT_EQ(bitsOf(gray16), 16);
    ImageFile gray8("P5", 2, 3, 255, {0, 18});
    EXPECT_EQ(bitsOf(gray8), 8);
    ImageFile color16("P6", 2, 3, 65535, {0, 0x1234, 0, 0, 0, 0});
    EXPECT_EQ(bitsOf(color16, true, false), 16);
}

TEST_F(SigBits, ColourWithAnAlphaMaskIsStillAnalysed) {
    ImageFile img("P6", 1, 1, 65535, {257, 257, 257});
    EXPECT_EQ(bitsOf(img, true, false), 8);
}

TEST_F(SigBits, VerboseReportsOnlyAReduction) {
    gridpack::verbose = 1;
    ImageFile reduced("P5", 2, 1, 65535, {257, 514});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(bitsOf(reduced), 8);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: Using only 8 rightmost bits of input samples.  The rest are just copies "
              "of those.\n");
    ImageFile full("P5", 2, 1, 255, {1, 2});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(bitsOf(full), 8);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(SigBits, QuietWithoutVerbose) {
    ImageFile img("P5", 2, 1, 65535, {0, 0});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(bitsOf(img), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}
