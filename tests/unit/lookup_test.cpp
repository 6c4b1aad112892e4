// Index lookup, bit depth, and the palette and single colours in PNG form.
#include <gtest/gtest.h>
#include <string>

#include "gridpack.h"

namespace {

class LookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        pm_progname = "gridpack";
        pm_setMessage(1, nullptr);
    }
};

struct DepthCase {
    bool colorMapped;
    unsigned paletteSize;
    int pnmType;
    int meaningfulBits;
    bool alpha;
    int bitDepth;
    int pixelWidth;
};

} // namespace

TEST_F(LookupTest, PaletteSizesGiveIndexDepths) {
    // Boundaries first, then every size in each band.
    const struct {
        unsigned from, to;
        int depth;
    } bands[] = {{1, 2, 1}, {3, 4, 2}, {5, 16, 4}, {17, 256, 8}};
    for (const auto& band : bands) {
        for (unsigned size = band.from; size <= band.to; ++size) {
            int depth = 0, width = 0;
            gridpack::computePixelWidth(true, size, PLAIN_PPM, 8, false, &depth, &width);
            EXPECT_EQ(depth, band.depth) << size;
            EXPECT_EQ(width, band.depth) << size;
        }
    }
}

TEST_F(LookupTest, MeaningfulBitsGiveSampleDepths) {
    const DepthCase cases[] = {
        {false, 0, PLAIN_PGM, 1, false, 1, 1},   {false, 0, PLAIN_PGM, 2, false, 2, 2},
        {false, 0, PLAIN_PGM, 3, false, 4, 4},   {false, 0, PLAIN_PGM, 4, false, 4, 4},
        {false, 0, PLAIN_PGM, 5, false, 8, 8},   {false, 0, PLAIN_PGM, 8, false, 8, 8},
        {false, 0, PLAIN_PGM, 9, false, 16, 16}, {false, 0, PLAIN_PGM, 16, false, 16, 16},
        {false, 0, PLAIN_PBM, 1, false, 1, 1},   {false, 0, PLAIN_PPM, 4, false, 8, 24},
        {false, 0, PLAIN_PPM, 4, true, 8, 32},   {false, 0, PLAIN_PPM, 16, false, 16, 48},
        {false, 0, PLAIN_PGM, 16, true, 16, 32}, {false, 0, PLAIN_PGM, 1, true, 8, 16},
    };
    for (const DepthCase& c : cases) {
        int depth = 0, width = 0;
        gridpack::computePixelWidth(c.colorMapped, c.paletteSize, c.pnmType, c.meaningfulBits,
                                    c.alpha, &depth, &width);
        EXPECT_EQ(depth, c.bitDepth) << c.pnmType << " bits " << c.meaningfulBits;
        EXPECT_EQ(width, c.pixelWidth) << c.pnmType << " bits " << c.meaningfulBits;
    }
}

TEST_F(LookupTest, DepthMessagesOnlyWhenVerbose) {
    int depth, width;
    ::testing::internal::CaptureStderr();
    gridpack::computePixelWidth(true, 3, PLAIN_PPM, 8, false, &depth, &width);
    gridpack::computePixelWidth(false, 0, PLAIN_PPM, 8, false, &depth, &width);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    gridpack::verbose = 1;
    ::testing::internal::CaptureStderr();
    gridpack::computePixelWidth(true, 3, PLAIN_PPM, 8, false, &depth, &width);
    gridpack::computePixelWidth(false, 0, PLAIN_PGM, 16, false, &depth, &width);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: Writing 2-bit color indexes\n"
              "gridpack: Writing 16 bits per component per pixel\n");
}

TEST_F(LookupTest, PngPaletteIsScaledTo255) {
    const pixel at15[] = {{15, 7, 0}};
    const pixel at3[] = {{1, 2, 3}};
    png_color out[1];
    png_byte trans[1] = {42};
    gridpack::createPngPalette(at15, 1, 15, nullptr, 0, 255, out, trans);
    EXPECT_EQ(out[0].red, 255);
    EXPECT_EQ(out[0].green, 119);
    EXPECT_EQ(out[0].blue, 0);
    EXPECT_EQ(trans[0], 42) << "entries from transSize on get no transparency value";
    gridpack::createPngPalette(at3, 1, 3, nullptr, 0, 255, out, trans);
    EXPECT_EQ(out[0].red, 85);
    EXPECT_EQ(out[0].green, 170);
    EXPECT_EQ(out[0].blue, 255);
}

TEST_F(LookupTest, OpacitiesAreScaledTo255) {
    const pixel palette[] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}};
    const gray transValues[] = {0, 32768, 65535};
    png_color out[3];
    png_byte trans[3] = {7, 7, 7};
    gridpack::createPngPalette(palette, 3, 255, transValues, 2, 65535, out, trans);
    EXPECT_EQ(trans[0], 0);
    EXPECT_EQ(trans[1], 128);
    EXPECT_EQ(trans[2], 7);
}

TEST_F(LookupTest, SingleColourToPng16) {
    const png_color_16 c = gridpack::xelToPngColor_16(xel{255, 128, 0}, 255, 15);
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.red, 15);
    EXPECT_EQ(c.green, 8);
    EXPECT_EQ(c.blue, 0);
    EXPECT_EQ(c.gray, 0);
    const png_color_16 g = gridpack::xelToPngColor_16(xel{0, 0, 1}, 1, 65535);
    EXPECT_EQ(g.gray, 65535);
    EXPECT_EQ(g.red, 0);
}

TEST_F(LookupTest, NoPaletteNoLookupAndNoMessage) {
    gridpack::verbose = 1;
    color_hash cht = reinterpret_cast<color_hash>(1);
    gridpack::color_alpha_hash cah = reinterpret_cast<gridpack::color_alpha_hash>(1);
    ::testing::internal::CaptureStderr();
    gridpack::computeColorMapLookupTable(false, nullptr, 0, nullptr, 0, false, 255, &cht, &cah);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(cht, nullptr);
    EXPECT_EQ(cah, nullptr);
}

TEST_F(LookupTest, ColourLookupMapsEachEntryToItsIndex) {
    const pixel palette[] = {{9, 9, 9}, {1, 2, 3}, {0, 0, 0}};
    const gray trans[] = {0, 255, 255};
    color_hash cht = nullptr;
    gridpack::color_alpha_hash cah = nullptr;
    gridpack::verbose = 1;
    ::testing::internal::CaptureStderr();
    gridpack::computeColorMapLookupTable(true, palette, 3, trans, 1, false, 255, &cht, &cah);
    int depth, width;
    gridpack::computePixelWidth(true, 3, PLAIN_PPM, 8, false, &depth, &width);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: PNG palette has 3 entries, 1 of them non-opaque\n"
              "gridpack: Writing 2-bit color indexes\n");
    ASSERT_NE(cht, nullptr);
    EXPECT_EQ(cah, nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ppm_lookupcolor(cht, &palette[i]), i);
    const pixel absent{1, 2, 4};
    EXPECT_EQ(ppm_lookupcolor(cht, &absent), -1);
    ppm_freecolorhash(cht);
}

TEST_F(LookupTest, ColourAlphaLookupKeepsOneEntryPerPair) {
    // An alpha palette: (X, 0), (Y, 100), (Y, opaque), (X, opaque), then an appended background
    // whose transparency slot the driver left opaque.
    const pixel x{10, 10, 10}, y{20, 20, 20}, bg{5, 5, 5};
    const pixel palette[] = {x, y, y, x, bg};
    const gray trans[] = {0, 100, 255, 255, 255};
    color_hash cht = nullptr;
    gridpack::color_alpha_hash cah = nullptr;
    gridpack::computeColorMapLookupTable(true, palette, 5, trans, 2, true, 255, &cht, &cah);
    ASSERT_NE(cah, nullptr);
    EXPECT_EQ(cht, nullptr);
    const gray a0 = 0, a100 = 100, a255 = 255, a50 = 50;
    EXPECT_EQ(gridpack::lookupColorAlpha(cah, &x, &a0), 0);
    EXPECT_EQ(gridpack::lookupColorAlpha(cah, &y, &a100), 1);
    EXPECT_EQ(gridpack::lookupColorAlpha(cah, &y, &a255), 2);
    EXPECT_EQ(gridpack::lookupColorAlpha(cah, &x, &a255), 3);
    EXPECT_EQ(gridpack::lookupColorAlpha(cah, &bg, &a255), 4);
    EXPECT_EQ(gridpack::lookupColorAlpha(cah, &x, &a50), -1);
    gridpack::freecoloralphahash(cah);
}
