// Whole conversions through the real binary: every PNG form the converter can choose, checked
// chunk by chunk and pixel by pixel with libpng's reader.
#include <gtest/gtest.h>
#include <png.h>
#include <string>
#include <vector>

#include "pngdecode.h"
#include "process.h"
#include "testutil.h"

namespace {

DecodedPng convertOk(const std::vector<std::string>& args, const std::string& input,
                     std::string* stderrText = nullptr) {
    const RunResult r = runGridpack(args, input);
    EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
    if (stderrText) *stderrText = r.stderrText;
    return decodePng(r.stdoutBytes);
}

// A raw PPM, maxval 255, one row of n distinct colours (n <= 65536).
std::string ppmOfDistinctColors(int n) {
    std::vector<unsigned> samples;
    for (int i = 0; i < n; ++i) {
        samples.push_back(unsigned(i) & 0xff);
        samples.push_back(unsigned(i) >> 8);
        samples.push_back(7);
    }
    return pnmImage("P6", n, 1, 255, samples);
}

// A raw PGM, maxval 255, one row holding the levels 0..n-1.
std::string pgmOfLevels(int n) {
    std::vector<unsigned> samples;
    for (int i = 0; i < n; ++i) samples.push_back(unsigned(i));
    return pnmImage("P5", n, 1, 255, samples);
}

Rgb paletteColor(const DecodedPng& png, unsigned x, unsigned y) {
    return png.palette.at(png.index(x, y));
}

} // namespace

TEST(GrayForms, BitDepthFollowsTheMeaningfulBits) {
    struct Case {
        const char* name;
        std::string image;
        int depth;
        std::vector<unsigned> expected; // the PNG samples of the single row
    } cases[] = {
        {"bitmap", pnmImage("P1", 3, 1, 1, {1, 0, 1}), 1, {0, 1, 0}},
        {"maxval 3, three levels", pnmImage("P2", 3, 1, 3, {0, 1, 2}), 2, {0, 1, 2}},
        {"maxval 15, five levels", pnmImage("P5", 5, 1, 15, {0, 1, 2, 3, 4}), 4, {0, 1, 2, 3, 4}},
        {"maxval 255, 17 levels",
         pgmOfLevels(17),
         8,
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
        {"maxval 65535", pnmImage("P5", 2, 1, 65535, {1, 65534}), 16, {1, 65534}},
        {"maxval 65535 with repeated bytes",
         pnmImage("P5", 3, 1, 65535, {0x0101, 0x0202, 0xffff}),
         8,
         {1, 2, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodedPng png = convertOk({}, c.image);
        EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_GRAY);
        EXPECT_EQ(png.bitDepth, c.depth);
        EXPECT_EQ(png.rows.at(0), c.expected);
        EXPECT_FALSE(png.hasTrns);
    }
}

TEST(GrayForms, SixteenBitSamplesAreWrittenHighByteFirst) {
    const RunResult r =
        runGridpack({"-compression", "0", "-filter", "0"}, pnmImage("P5", 1, 1, 65535, {0x1234}));
    ASSERT_EQ(r.exitStatus, 0) << r.stderrText;
    // Stored, uncompressed deflate: the filter byte and the two sample bytes appear verbatim.
    EXPECT_NE(r.stdoutBytes.find(std::string("\x00\x12\x34", 3)), std::string::npos);
    EXPECT_EQ(decodePng(r.stdoutBytes).gray(0, 0), 0x1234u);
}

TEST(GrayForms, MaxvalOfAHundredIsScaledWithSignificantBits) {
    // Nine levels need a 4-bit index, more than half of maxval 100's 7 bits: no palette.
    const std::vector<unsigned> levels = {0, 1, 2, 3, 4, 5, 50, 99, 100};
    const DecodedPng png = convertOk({}, pnmImage("P2", 9, 1, 100, levels));
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_GRAY);
    EXPECT_EQ(png.bitDepth, 8);
    // (v * 255 + 50) / 100
    EXPECT_EQ(png.rows.at(0), (std::vector<unsigned>{0, 3, 5, 8, 10, 13, 128, 252, 255}));
    ASSERT_TRUE(png.hasSbit);
    EXPECT_EQ(png.sbitGray, 7u);
}

TEST(GrayForms, SixteenLevelsGetAPaletteSeventeenDoNot) {
    std::string err;
    const DecodedPng sixteen = convertOk({"-verbose"}, pgmOfLevels(16), &err);
    EXPECT_EQ(sixteen.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(sixteen.bitDepth, 4);
    for (unsigned x = 0; x < 16; ++x) EXPECT_EQ(paletteColor(sixteen, x, 0), (Rgb{x, x, x}));

    const DecodedPng seventeen = convertOk({"-verbose"}, pgmOfLevels(17), &err);
    EXPECT_EQ(seventeen.colorType, PNG_COLOR_TYPE_GRAY);
    EXPECT_NE(err.find("gridpack: palette index would be larger than the indexed value, so not "
                       "doing colormap\n"),
              std::string::npos);
}

TEST(GrayForms, GrayPixmapIsGrayUnlessForced) {
    const std::string image = pnmImage("P6", 2, 1, 255, {10, 10, 10, 20, 20, 20});
    // Two levels of 8 bits would take a 1-bit palette; -force keeps RGB.
    const DecodedPng png = convertOk({}, image);
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(paletteColor(png, 1, 0), (Rgb{20, 20, 20}));
    const DecodedPng forced = convertOk({"-force"}, image);
    EXPECT_EQ(forced.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(forced.bitDepth, 8);
    EXPECT_EQ(forced.rgb(1, 0), (Rgb{20, 20, 20}));

    // Many gray levels of a pixmap: gray, not RGB.
    std::vector<unsigned> samples;
    for (unsigned v = 0; v < 40; ++v) samples.insert(samples.end(), {v, v, v});
    const DecodedPng gray = convertOk({}, pnmImage("P3", 40, 1, 255, samples));
    EXPECT_EQ(gray.colorType, PNG_COLOR_TYPE_GRAY);
    EXPECT_EQ(gray.gray(39, 0), 39u);
}

TEST(PaletteForms, IndexDepthFollowsThePaletteSize) {
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 1},  {3, 2},  {4, 2},
                                         {5, 4}, {16, 4}, {17, 8}, {256, 8}};
    for (auto [colors, depth] : sizes) {
        SCOPED_TRACE(colors);
        const DecodedPng png = convertOk({}, ppmOfDistinctColors(colors));
        EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_PALETTE);
        EXPECT_EQ(png.bitDepth, depth);
        EXPECT_EQ(png.palette.size(), size_t(colors));
        for (int x = 0; x < colors; ++x)
            EXPECT_EQ(paletteColor(png, unsigned(x), 0),
                      (Rgb{unsigned(x) & 0xff, unsigned(x) >> 8, 7}));
    }
}

TEST(PaletteForms, MoreThan256ColoursAreRgbAndRefusedWithAPaletteFile) {
    const std::string image = ppmOfDistinctColors(257);
    const DecodedPng png = convertOk({}, image);
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(png.rgb(256, 0), (Rgb{0, 1, 7}));

    TempDir dir;
    const std::string palette = dir.write("pal.ppm", ppmOfDistinctColors(256));
    const RunResult r = runGridpack({"-palette", palette}, image);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.stderrText, "gridpack: You specified -palette, but there are more than 256 colors "
                            "in the image -- too many for a colormapped PNG\n");
}

TEST(PaletteForms, OrderedPaletteFileGivesTheOrder) {
    TempDir dir;
    const std::string palette =
        dir.write("pal.ppm", pnmImage("P3", 3, 1, 255, {0, 0, 255, 0, 255, 0, 255, 0, 0}));
    const std::string image = pnmImage("P6", 3, 1, 255, {255, 0, 0, 0, 255, 0, 0, 0, 255});
    const DecodedPng png = convertOk({"-palette", palette}, image);
    EXPECT_EQ(png.palette, (std::vector<Rgb>{{0, 0, 255}, {0, 255, 0}, {255, 0, 0}}));
    EXPECT_EQ(png.rows.at(0), (std::vector<unsigned>{2, 1, 0}));
}

TEST(RgbForms, SixteenBitColour) {
    const DecodedPng png = convertOk({}, pnmImage("P6", 1, 1, 65535, {1, 2, 65535}));
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(png.bitDepth, 16);
    EXPECT_EQ(png.rgb(0, 0), (Rgb{1, 2, 65535}));
    EXPECT_FALSE(png.hasSbit);
}

TEST(RgbForms, SixteenBitSamplesThatRepeatTheirByteAreWrittenAtEight) {
    std::string err;
    const DecodedPng png =
        convertOk({}, pnmImage("P6", 1, 1, 65535, {0x0101, 0x8080, 0xffff}), &err);
    EXPECT_EQ(err, ""); // no libpng warning about the sBIT chunk
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(png.rgb(0, 0), (Rgb{1, 128, 255}));
    // The significant bits are capped at the depth written.
    ASSERT_TRUE(png.hasSbit);
    EXPECT_EQ(png.sbitRed, 8u);
}

TEST(AlphaForms, MaskWithPartialOpacityBecomesAnAlphaChannel) {
    TempDir dir;
    std::vector<unsigned> alphas(257, 255);
    alphas[3] = 128;
    const std::string mask = dir.write("mask.pgm", pnmImage("P5", 257, 1, 255, alphas));
    std::string err;
    const DecodedPng png = convertOk({"-alpha", mask, "-verbose"}, ppmOfDistinctColors(257), &err);
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(png.sample(3, 0, 3), 128u);
    EXPECT_EQ(png.sample(4, 0, 3), 255u);
    EXPECT_EQ(err, "gridpack: reading a PPM file (maxval=255)\n"
                   "gridpack: reading alpha-channel image...\n"
                   "gridpack: Finding colors in input image...\n"
                   "gridpack: More than 256 colors found -- too many for a colormapped PNG\n"
                   "gridpack: Writing 8 bits per component per pixel\n"
                   "gridpack: writing a 32-bit RGB+alpha file\n"
                   "gridpack: No transparent color\n");

    const std::vector<unsigned> grayAlphas(alphas.begin(), alphas.begin() + 17);
    const std::string grayMask = dir.write("graymask.pgm", pnmImage("P5", 17, 1, 255, grayAlphas));
    const DecodedPng gray = convertOk({"-alpha", grayMask}, pgmOfLevels(17));
    EXPECT_EQ(gray.colorType, PNG_COLOR_TYPE_GRAY_ALPHA);
    EXPECT_EQ(gray.sample(3, 0, 0), 3u);
    EXPECT_EQ(gray.sample(3, 0, 1), 128u);
}

TEST(AlphaForms, MaskOfOneTransparentColourBecomesATransparentColour) {
    TempDir dir;
    // Pixels: A B A C; transparent exactly where the colour is A.
    const std::string image = pnmImage("P6", 4, 1, 255, {10, 20, 30, 1, 1, 1, 10, 20, 30, 2, 2, 2});
    const std::string mask = dir.write("mask.pbm", pnmImage("P1", 4, 1, 1, {1, 0, 1, 0}));
    // A bitmap mask reads as 0 (black, transparent) and 255 (white, opaque).
    const DecodedPng png = convertOk({"-alpha", mask}, image);
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_PALETTE);
    ASSERT_TRUE(png.hasTrns);
    EXPECT_EQ(png.transAlpha, (std::vector<unsigned>{0}));
    EXPECT_EQ(png.palette.at(0), (Rgb{10, 20, 30}));
    EXPECT_EQ(png.index(0, 0), 0u);
    EXPECT_EQ(png.index(2, 0), 0u);

    // With -force the mask stays a channel: maxval 1 scales to 255.
    const std::string mask1 = dir.write("mask1.pgm", pnmImage("P2", 4, 1, 1, {0, 1, 0, 1}));
    const DecodedPng forced = convertOk({"-force", "-alpha", mask1}, image);
    EXPECT_EQ(forced.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_EQ(forced.bitDepth, 8);
    EXPECT_EQ(forced.sample(0, 0, 3), 0u);
    EXPECT_EQ(forced.sample(1, 0, 3), 255u);
    ASSERT_TRUE(forced.hasSbit);
    EXPECT_EQ(forced.sbitAlpha, 1u);

    // On an RGB image the colour goes into a one-colour tRNS.
    std::vector<unsigned> samples;
    std::vector<unsigned> alphas;
    for (int i = 0; i < 300; ++i) {
        samples.insert(samples.end(), {unsigned(i % 256), unsigned(i / 256), 9});
        alphas.push_back(i == 5 ? 0 : 65535);
    }
    const std::string bigMask = dir.write("big.pgm", pnmImage("P5", 300, 1, 65535, alphas));
    const DecodedPng rgb = convertOk({"-alpha", bigMask}, pnmImage("P6", 300, 1, 255, samples));
    EXPECT_EQ(rgb.colorType, PNG_COLOR_TYPE_RGB);
    ASSERT_TRUE(rgb.hasTrns);
    EXPECT_EQ(rgb.transColor.red, 5u);
    EXPECT_EQ(rgb.transColor.green, 0u);
    EXPECT_EQ(rgb.transColor.blue, 9u);
}

TEST(AlphaForms, PaletteWithOpacities) {
    TempDir dir;
    // Colours X X Y Y with opacities 255, 0, 100, 255.
    const std::string image = pnmImage("P6", 4, 1, 255, {9, 9, 9, 9, 9, 9, 5, 6, 7, 5, 6, 7});
    const std::string mask = dir.write("m.pgm", pnmImage("P2", 4, 1, 255, {255, 0, 100, 255}));
    std::string err;
    const DecodedPng png = convertOk({"-alpha", mask, "-verbose"}, image, &err);
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(png.bitDepth, 2);
    ASSERT_EQ(png.palette.size(), 4u);
    EXPECT_EQ(png.transAlpha.size(), 2u);
    // Every pixel keeps its colour and opacity through the palette.
    const unsigned expectedAlpha[] = {255, 0, 100, 255};
    const Rgb expectedColor[] = {{9, 9, 9}, {9, 9, 9}, {5, 6, 7}, {5, 6, 7}};
    for (unsigned x = 0; x < 4; ++x) {
        const unsigned i = png.index(x, 0);
        EXPECT_EQ(png.palette.at(i), expectedColor[x]);
        EXPECT_EQ(i < png.transAlpha.size() ? png.transAlpha[i] : 255u, expectedAlpha[x]);
    }
    EXPECT_NE(err.find("gridpack: PNG palette has 4 entries, 2 of them non-opaque\n"
                       "gridpack: Writing 2-bit color indexes\n"
                       "gridpack: writing a 2-bit palette+transparency file\n"),
              std::string::npos)
        << err;
}

TEST(TransparentColor, ExactRequestAbsentWarnsAndClosestIsTakenOtherwise) {
    const std::string image = pnmImage("P6", 3, 1, 255, {255, 0, 0, 0, 255, 0, 0, 0, 255});
    std::string err;
    const DecodedPng exact = convertOk({"-transparent", "=rgb:f0/10/10"}, image, &err);
    EXPECT_EQ(err, "gridpack: 3 colors found\n"
                   "gridpack: specified transparent color not present in palette; ignoring "
                   "-transparent\n");
    EXPECT_FALSE(exact.hasTrns);

    const DecodedPng closest = convertOk({"-tr", "rgb:f0/10/10", "-verbose"}, image, &err);
    ASSERT_TRUE(closest.hasTrns);
    EXPECT_EQ(closest.transAlpha, (std::vector<unsigned>{0}));
    EXPECT_EQ(closest.palette.at(0), (Rgb{255, 0, 0}));
    EXPECT_EQ(closest.index(0, 0), 0u);
    EXPECT_NE(err.find("gridpack: Making all occurences of color (255, 0, 0) transparent.\n"),
              std::string::npos);

    // A gray image takes a one-value tRNS; names come from the tests' dictionary.
    const DecodedPng gray = convertOk({"-tr", "gray", "-force"}, pgmOfLevels(200), &err);
    ASSERT_TRUE(gray.hasTrns);
    EXPECT_EQ(gray.transColor.gray, 128u);
}

TEST(TransparentColor, BitmapColoursAreScaledToMaxvalOne) {
    const DecodedPng png = convertOk({"-tr", "rgb:e0/e0/e0", "-background", "#101010"},
                                     pnmImage("P4", 9, 1, 1, {1, 0, 1, 0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_GRAY);
    EXPECT_EQ(png.bitDepth, 1);
    ASSERT_TRUE(png.hasTrns);
    EXPECT_EQ(png.transColor.gray, 1u);
    ASSERT_TRUE(png.hasBkgd);
    EXPECT_EQ(png.bkgd.gray, 0u);
    EXPECT_EQ(png.rows.at(0), (std::vector<unsigned>{0, 1, 0, 1, 0, 1, 0, 1, 0}));
}

TEST(Background, AppendedToThePaletteWithAZeroHistogramEntry) {
    const std::string image =
        pnmImage("P6", 4, 1, 255, {255, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
    const DecodedPng png = convertOk({"-background", "black", "-hist"}, image);
    ASSERT_EQ(png.palette.size(), 4u);
    EXPECT_EQ(png.palette.at(3), (Rgb{0, 0, 0}));
    ASSERT_TRUE(png.hasBkgd);
    EXPECT_EQ(png.bkgd.index, 3u);
    ASSERT_TRUE(png.hasHist);
    ASSERT_EQ(png.hist.size(), 4u);
    EXPECT_EQ(png.hist[3], 0u);
    EXPECT_EQ(png.hist[png.index(0, 0)], 2u);
    EXPECT_EQ(png.hist[png.index(2, 0)], 1u);
}

TEST(Background, RgbImageWithVerboseReport) {
    std::string err;
    const DecodedPng png =
        convertOk({"-background", "rgb:10/20/30", "-verbose"}, ppmOfDistinctColors(300), &err);
    ASSERT_TRUE(png.hasBkgd);
    EXPECT_EQ(png.bkgd.red, 0x10u);
    EXPECT_EQ(png.bkgd.blue, 0x30u);
    EXPECT_NE(err.find("gridpack: Writing bKGD chunk with background color  {gray, red, green, "
                       "blue} = {48, 16, 32, 48}\n"),
              std::string::npos);
}

TEST(Chunks, TimeGammaChromaAndPhysicalSize) {
    const DecodedPng png = convertOk({"-time", "01-02-03", "04:05:06", "-gamma", "0.45455",
                                      "-chroma", "0.3127", "0.329", "0.64", "0.33", "0.3", "0.6",
                                      "0.15", "0.06", "-phys", "2835", "2836", "1"},
                                     pgmOfLevels(3));
    ASSERT_TRUE(png.hasTime);
    EXPECT_EQ(png.year, 1901u);
    EXPECT_EQ(png.month, 2u);
    EXPECT_EQ(png.day, 3u);
    EXPECT_EQ(png.hour, 4u);
    EXPECT_EQ(png.minute, 5u);
    EXPECT_EQ(png.second, 6u);
    EXPECT_EQ(png.count("tIME"), 1);
    ASSERT_TRUE(png.hasGamma);
    EXPECT_NEAR(png.gamma, 0.45455, 1e-5);
    ASSERT_TRUE(png.hasChrm);
    EXPECT_NEAR(png.chrm[0], 0.3127, 1e-5);
    EXPECT_NEAR(png.chrm[7], 0.06, 1e-5);
    ASSERT_TRUE(png.hasPhys);
    EXPECT_EQ(png.physX, 2835u);
    EXPECT_EQ(png.physY, 2836u);
    EXPECT_EQ(png.physUnit, 1);

    const DecodedPng fourDigits = convertOk({"-time", "2026-12-06", "12:00"}, pgmOfLevels(3));
    EXPECT_EQ(fourDigits.year, 2026u);
    EXPECT_EQ(fourDigits.second, 0u);
}

TEST(Chunks, ArgumentsThatDoNotScanLeaveTheChunkOut) {
    const DecodedPng png = convertOk({"-gamma", "abc", "-phys", "1", "2", "metre"}, pgmOfLevels(3));
    EXPECT_FALSE(png.hasGamma);
    EXPECT_FALSE(png.hasPhys);
}

TEST(Chunks, TextChunksOnceBeforeTheImageData) {
    TempDir dir;
    const std::string comments =
        dir.write("c.txt", "Title A title\nauthor someone\n  and more\n\"quoted key\" text\n");
    for (const char* option : {"-text", "-ztxt"}) {
        SCOPED_TRACE(option);
        const DecodedPng png = convertOk({option, comments}, pgmOfLevels(3));
        ASSERT_EQ(png.texts.size(), 3u);
        EXPECT_EQ(png.texts[0].key, "Title");
        EXPECT_EQ(png.texts[0].text, "A title");
        EXPECT_EQ(png.texts[1].key, "author");
        EXPECT_EQ(png.texts[1].text, "someone\nand more");
        EXPECT_EQ(png.texts[2].key, "quoted key");
        const bool z = std::string(option) == "-ztxt";
        EXPECT_EQ(png.count("tEXt"), z ? 1 : 3);
        EXPECT_EQ(png.count("zTXt"), z ? 2 : 0);
        // Everything textual precedes the first IDAT.
        const int idat = png.position("IDAT");
        for (size_t i = size_t(idat); i < png.chunks.size(); ++i)
            EXPECT_TRUE(png.chunks[i] == "IDAT" || png.chunks[i] == "IEND") << png.chunks[i];
    }
}

TEST(Rows, InterlacedDecodesToTheSamePixels) {
    std::vector<unsigned> samples;
    for (int i = 0; i < 20 * 15; ++i)
        samples.insert(samples.end(),
                       {unsigned(i % 256), unsigned(i / 256 + 3), unsigned(i * 7 % 256)});
    const std::string image = pnmImage("P6", 20, 15, 255, samples);
    const DecodedPng plain = convertOk({}, image);
    const DecodedPng interlaced = convertOk({"-interlace"}, image);
    EXPECT_EQ(interlaced.interlace, PNG_INTERLACE_ADAM7);
    EXPECT_EQ(plain.interlace, PNG_INTERLACE_NONE);
    EXPECT_EQ(plain.rows, interlaced.rows);
    EXPECT_EQ(plain.colorType, PNG_COLOR_TYPE_RGB);
}

TEST(Rows, FilterOptionSetsEveryRowsFilter) {
    std::vector<unsigned> samples;
    for (int i = 0; i < 30 * 10; ++i)
        samples.insert(samples.end(), {unsigned(i % 256), unsigned(i / 256), 1});
    const std::string image = pnmImage("P6", 30, 10, 255, samples);
    for (int f = 0; f <= 4; ++f) {
        const RunResult r = runGridpack({"-filter", std::to_string(f)}, image);
        ASSERT_EQ(r.exitStatus, 0) << r.stderrText;
        EXPECT_EQ(rowFilters(r.stdoutBytes), std::vector<int>(10, f));
    }
}

TEST(Input, PipeAndFileGiveTheSameBytes) {
    TempDir dir;
    const std::string image = ppmOfDistinctColors(300);
    const std::string file = dir.write("in.ppm", image);
    const RunResult fromFile = runGridpack({file}, std::string());
    RunOptions redirected;
    redirected.stdinFile = file;
    const RunResult fromRedirect = runGridpack({}, redirected);
    const RunResult fromPipe = runGridpack({"-"}, image);
    ASSERT_EQ(fromFile.exitStatus, 0);
    EXPECT_EQ(fromPipe.stdoutBytes, fromFile.stdoutBytes);
    EXPECT_EQ(fromRedirect.stdoutBytes, fromFile.stdoutBytes);
}

TEST(Verbose, ReportsForAPaletteAndAnInterlacedSixteenBitGrayImage) {
    std::string err;
    convertOk({"-verbose"}, pnmImage("P6", 2, 1, 255, {255, 0, 0, 0, 0, 255}), &err);
    EXPECT_EQ(err, "gridpack: reading a PPM file (maxval=255)\n"
                   "gridpack: Finding colors in input image...\n"
                   "gridpack: 2 colors found\n"
                   "gridpack: PNG palette has 2 entries, 0 of them non-opaque\n"
                   "gridpack: Writing 1-bit color indexes\n"
                   "gridpack: writing a 1-bit palette file\n");

    convertOk({"-verbose"}, ppmOfDistinctColors(200), &err);
    EXPECT_NE(err.find("gridpack: writing an 8-bit palette file\n"), std::string::npos);

    convertOk({"-verbose", "-interlace"}, pnmImage("P5", 3, 2, 65535, {1, 2, 3, 4, 5, 6}), &err);
    EXPECT_EQ(err, "gridpack: reading a PGM file (maxval=65535)\n"
                   "gridpack: Writing 16 bits per component per pixel\n"
                   "gridpack: writing a 16-bit gray file (interlaced)\n"
                   "gridpack: No transparent color\n");
}

TEST(Verbose, QuietSilencesTheColourCount) {
    const RunResult r = runGridpack({}, ppmOfDistinctColors(5));
    EXPECT_EQ(r.stderrText, "gridpack: 5 colors found\n");
    const RunResult q = runGridpack({"-quiet"}, ppmOfDistinctColors(5));
    EXPECT_EQ(q.stderrText, "");
}

TEST(Failures, MessagesAndExitStatus) {
    TempDir dir;
    const std::string image = pnmImage("P6", 2, 1, 255, {1, 2, 3, 4, 5, 6});
    // A bitmap takes no colour census, whose count would come first on standard error.
    const std::string bitmap = pnmImage("P1", 2, 1, 1, {0, 1});
    const std::string smallMask = dir.write("small.pgm", pnmImage("P5", 1, 1, 255, {0}));
    const std::string halfMask = dir.write("half.pgm", pnmImage("P5", 2, 1, 255, {128, 255}));
    const std::string palette = dir.write("pal.ppm", pnmImage("P6", 2, 1, 255, {1, 2, 3, 4, 5, 6}));
    const std::string zeroMask = dir.write("zero.pgm", pnmImage("P2", 2, 1, 0, {0, 0}));
    const std::string continuation = dir.write("cont.txt", " indented first line\n");
    const std::string unclosed = dir.write("quote.txt", "\"open key text\n");
    const std::string emptyKey = dir.write("empty.txt", "\"\" text\n");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string message;
    } cases[] = {
        {{"-alpha", smallMask},
         image,
         "gridpack: dimensions for image and alpha mask do not agree\n"},
        {{"-alpha", halfMask, "-palette", palette},
         image,
         "gridpack: 2 colors found\n"
         "gridpack: This program is not capable of generating a PNG with transparency when you "
         "specify the palette with -palette.\n"},
        {{"-alpha", zeroMask},
         image,
         "gridpack: the alpha mask has maxval 0; it must be at least 1\n"},
        {{},
         pnmImage("P2", 1, 1, 0, {0}),
         "gridpack: the input image has maxval 0; it must be at least 1\n"},
        {{"-tr", "no such colour"}, image, "gridpack: unknown color - \"no such colour\"\n"},
        {{"-text", continuation},
         bitmap,
         "gridpack: Invalid comment file format: first line is a continuation line! (It starts "
         "with whitespace)\n"},
        {{"-text", unclosed},
         bitmap,
         "gridpack: Invalid comment file format:  keyword contains a NUL character.  Text "
         "leading up to the NUL character is 'open key text'\n"},
        {{}, "P6\n2 1\n255\n\x01\x02", "gridpack: EOF / read error reading a one-byte sample\n"},
        {{}, "P7\n", "gridpack: bad magic number - not a ppm, pgm, or pbm file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const RunResult r = runGridpack(c.args, c.input);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.stderrText, c.message);
    }

    // libpng refuses an empty keyword while writing: the bridge stops the conversion.
    const RunResult r = runGridpack({"-text", emptyKey}, image);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.stderrText.find("gridpack:  fatal libpng error: "), std::string::npos);
    EXPECT_NE(r.stderrText.find("gridpack: setjmp returns error condition (2)\n"),
              std::string::npos)
        << r.stderrText;
}

TEST(Failures, ImageWithoutPixelsIsRefusedAfterTheHeader) {
    // Refused before any pass: a zero-width header of 2^31 rows would otherwise be read row by
    // empty row, pass after pass.
    for (const char* image : {"P5\n0 3\n255\n", "P6\n3 0\n255\n", "P5\n0 2147483640\n255\n"}) {
        SCOPED_TRACE(image);
        RunOptions options;
        options.stdinBytes = image;
        options.timeoutSeconds = 10;
        const RunResult r = runGridpack({"-verbose"}, options);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.stderrText,
                  "gridpack: the input image has no pixels; a PNG needs at least one\n");
    }
}

TEST(Output, WriteFailureOfStandardOutputIsAnError) {
    RunOptions options;
    options.stdinBytes = ppmOfDistinctColors(300);
    options.stdoutFile = "/dev/full";
    const RunResult r = runGridpack({}, options);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.stderrText, "");
}

TEST(Output, ExampleImageConverts) {
    const RunResult r =
        runGridpack({testDataPath("../../examples/testpattern.ppm")}, std::string());
    ASSERT_EQ(r.exitStatus, 0) << r.stderrText;
    const DecodedPng png = decodePng(r.stdoutBytes);
    EXPECT_EQ(png.width, 64u);
    EXPECT_EQ(png.height, 48u);
}
