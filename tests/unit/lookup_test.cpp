// Index lookup, bit depth, and the palette and single colours in PNG form.
#include <string>

#include "unitutil.h"

namespace {
using LookupTest = ConverterTest;

// Bit depth and pixel width as "depth/width".
std::string widthOf(bool colorMapped, unsigned paletteSize, int pnmType, int bits, bool alpha) {
    int depth = 0, width = 0;
    gridpack::computePixelWidth(colorMapped, paletteSize, pnmType, bits, alpha, &depth, &width);
    return std::to_string(depth) + "/" + std::to_string(width);
}
} // namespace

TEST_F(LookupTest, PaletteSizesGiveIndexDepths) {
    // Every size in each band.
    const struct {
        unsigned from, to;
        const char* depth;
    } bands[] = {{1, 2, "1/1"}, {3, 4, "2/2"}, {5, 16, "4/4"}, {17, 256, "8/8"}};
    for (const auto& band : bands)
        for (unsigned size = band.from; size <= band.to; ++size)
            EXPECT_EQ(widthOf(true, size, PLAIN_PPM, 8, false), band.depth) << size;
}

TEST_F(LookupTest, MeaningfulBitsGiveSampleDepths) {
    const struct {
        int pnmType, bits;
        bool alpha;
        const char* depth;
    } cases[] = {
        {PLAIN_PGM, 1, false, "1/1"},   {PLAIN_PGM, 2, false, "2/2"},
        {PLAIN_PGM, 3, false, "4/4"},   {PLAIN_PGM, 4, false, "4/4"},
        {PLAIN_PGM, 5, false, "8/8"},   {PLAIN_PGM, 8, false, "8/8"},
        {PLAIN_PGM, 9, false, "16/16"}, {PLAIN_PGM, 16, false, "16/16"},
        {PLAIN_PBM, 1, false, "1/1"},   {PLAIN_PPM, 4, false, "8/24"},
        {PLAIN_PPM, 4, true, "8/32"},   {PLAIN_PPM, 16, false, "16/48"},
        {PLAIN_PGM, 16, true, "16/32"}, {PLAIN_PGM, 1, true, "8/16"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(widthOf(false, 0, c.pnmType, c.bits, c.alpha), c.depth)
            << c.pnmType << " " << c.bits;
    // The depth is reported only with -verbose.
    EXPECT_EQ(stderrOf(widthOf, true, 3, PLAIN_PPM, 8, false) +
                  stderrOf(widthOf, false, 0, PLAIN_PPM, 8, false),
              "");
    gridpack::verbose = 1;
    EXPECT_EQ(stderrOf(widthOf, true, 3, PLAIN_PPM, 8, false) +
                  stderrOf(widthOf, false, 0, PLAIN_PGM, 16, false),
              "gridpack: Writing 2-bit color indexes\n"
              "gridpack: Writing 16 bits per component per pixel\n");
}

TEST_F(LookupTest, PaletteOpacitiesAndSingleColoursAreScaled) {
    // Entries to 255, rounding; opacities likewise, for the first transSize entries only.
    const pixel palette[] = {{15, 7, 0}, {1, 2, 3}, {2, 2, 2}};
    const gray transValues[] = {0, 32768, 65535};
    png_color out[3];
    png_byte trans[3] = {7, 7, 7};
    gridpack::createPngPalette(palette, 1, 15, transValues, 2, 65535, out, trans);
    EXPECT_EQ((std::vector<int>{out[0].red, out[0].green, out[0].blue}),
              (std::vector<int>{255, 119, 0}));
    EXPECT_EQ((std::vector<int>{trans[0], trans[1], trans[2]}), (std::vector<int>{0, 128, 7}));
    gridpack::createPngPalette(palette + 1, 1, 3, nullptr, 0, 255, out, trans);
    EXPECT_EQ((std::vector<int>{out[0].red, out[0].green, out[0].blue}),
              (std::vector<int>{85, 170, 255}));

    // A gray colour keeps its value in the blue sample.
    const png_color_16 c = gridpack::xelToPngColor_16(xel{255, 128, 0}, 255, 15);
    EXPECT_EQ((std::vector<int>{c.index, c.red, c.green, c.blue, c.gray}),
              (std::vector<int>{0, 15, 8, 0, 0}));
    const png_color_16 g = gridpack::xelToPngColor_16(xel{0, 0, 1}, 1, 65535);
    EXPECT_EQ((std::vector<int>{g.red, g.gray}), (std::vector<int>{0, 65535}));
}

TEST_F(LookupTest, NoPaletteNoLookupAndNoMessage) {
    gridpack::verbose = 1;
    color_hash cht = reinterpret_cast<color_hash>(1);
    gridpack::color_alpha_hash cah = reinterpret_cast<gridpack::color_alpha_hash>(1);
    EXPECT_EQ(stderrOf(gridpack::computeColorMapLookupTable, false, nullptr, 0, nullptr, 0, false,
                       255, &cht, &cah),
              "");
    EXPECT_EQ(cht, nullptr);
    EXPECT_EQ(cah, nullptr);
}

TEST_F(LookupTest, ColourLookupMapsEachEntryToItsIndex) {
    const pixel palette[] = {{9, 9, 9}, {1, 2, 3}, {0, 0, 0}};
    const gray trans[] = {0, 255, 255};
    color_hash cht = nullptr;
    gridpack::color_alpha_hash cah = nullptr;
    gridpack::verbose = 1;
    EXPECT_EQ(stderrOf(gridpack::computeColorMapLookupTable, true, palette, 3, trans, 1, false, 255,
                       &cht, &cah),
              "gridpack: PNG palette has 3 entries, 1 of them non-opaque\n");
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
