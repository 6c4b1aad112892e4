// Significant-bit analysis: the four levels, their order and the early stop.
#include <string>
#include <vector>

#include "unitutil.h"

namespace {

using SigBits = ConverterTest;

int bitsOf(const ImageFile& img, bool alpha = false, bool force = false) {
    int bits = -1;
    gridpack::findRedundantBits(img.f, img.rasterPos, img.cols, img.rows, img.maxval, img.format,
                                alpha, force, &bits);
    return bits;
}

} // namespace

TEST_F(SigBits, EdgeCases) {
    const struct {
        const char* magic;
        int cols;
        unsigned maxval;
        std::vector<unsigned> samples;
        int bits;
    } cases[] = {
        {"P5", 2, 65535, {0, 257, 65535, 0x1212}, 8}, // 16-bit bytes repeated, two rows
        {"P5", 2, 65535, {0, 65535}, 8},              // only 0 and 65535 stop at 8
        {"P5", 2, 65535, {257, 258}, 16},             // one byte not repeated
        {"P5", 4, 255, {0, 17, 34, 255}, 4},          // multiples of 17
        {"P5", 2, 255, {0, 255}, 4},                  // only 0 and 255 stop at 4
        {"P5", 2, 255, {17, 18}, 8},                  // nibbles differ
        {"P5", 4, 15, {0, 5, 10, 15}, 2},
        {"P5", 2, 3, {0, 3}, 1},
        {"P5", 2, 65535, {0, 0}, 1}, // all zero
        {"P5", 2, 255, {0, 0}, 1},
        {"P5", 2, 15, {0, 0}, 1},
        {"P5", 2, 3, {0, 0}, 1},
        {"P2", 2, 255, {68, 119}, 4},
        // Below a width's full scale a repeated pattern is no widened value: 187 of 200 is
        // not 11 of 15, so nothing is narrowed (likewise 10 of 14 and 2 bits).
        {"P5", 2, 200, {34, 187}, 8},
        {"P5", 3, 14, {0, 5, 10}, 4},
        {"P5", 2, 2, {0, 0}, 2},
        {"P6", 2, 65535, {0, 257, 514, 65535, 0, 0}, 8}, // colour bytes repeated
        {"P6", 2, 65535, {0, 257, 514, 65535, 0, 1}, 16},
        {"P6", 1, 255, {0, 0, 0}, 8}, // colour at 255 stays 8
        {"P4", 3, 1, {1, 0, 1}, 1},
    };
    for (const auto& c : cases) {
        const size_t perPixel = c.magic[1] == '6' ? 3 : 1;
        const int rows = int(c.samples.size() / perPixel) / c.cols;
        EXPECT_EQ(bitsOf(ImageFile(c.magic, c.cols, rows, c.maxval, c.samples)), c.bits)
            << c.magic << " maxval " << c.maxval << " " << c.samples.at(1);
    }
    // A colour image with an alpha mask is still analysed.
    EXPECT_EQ(bitsOf(ImageFile("P6", 1, 1, 65535, {257, 257, 257}), true, false), 8);
}

TEST_F(SigBits, PassesAreSkippedWhereNoLevelAppliesAndStopAtTheFirstFailingSample) {
    // Header only: any pass would stop the process on the missing raster.
    EXPECT_EQ(bitsOf(ImageFile("P5\n4 4\n100\n")), 7);
    const ImageFile gray16("P5\n4 4\n65535\n"), color16("P6\n4 4\n65535\n");
    EXPECT_EQ(bitsOf(gray16, true, false), 16) << "a gray image with an alpha mask";
    EXPECT_EQ(bitsOf(gray16, false, true), 16) << "force";
    EXPECT_EQ(bitsOf(color16, false, true), 16);
    // Rows after the first are missing: reading them would be fatal.
    EXPECT_EQ(bitsOf(ImageFile("P5", 2, 3, 65535, {0, 0x1234})), 16);
    EXPECT_EQ(bitsOf(ImageFile("P5", 2, 3, 255, {0, 18})), 8);
    EXPECT_EQ(bitsOf(ImageFile("P6", 2, 3, 65535, {0, 0x1234, 0, 0, 0, 0}), true, false), 16);
}

TEST_F(SigBits, VerboseReportsOnlyAReduction) {
    EXPECT_EQ(stderrOf([] { bitsOf(ImageFile("P5", 2, 1, 65535, {0, 0})); }), "");
    gridpack::verbose = 1;
    EXPECT_EQ(stderrOf([] {
                  EXPECT_EQ(bitsOf(ImageFile("P5", 2, 1, 65535, {257, 514})), 8);
              }),
              "gridpack: Using only 8 rightmost bits of input samples.  The rest are just copies "
              "of those.\n");
    EXPECT_EQ(stderrOf([] { EXPECT_EQ(bitsOf(ImageFile("P5", 2, 1, 255, {1, 2})), 8); }), "");
}
