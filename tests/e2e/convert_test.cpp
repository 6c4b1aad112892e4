// Whole conversions through the real binary: every PNG form the converter can choose, checked
// chunk by chunk and pixel by pixel with libpng's reader.
#include <algorithm>
#include <gtest/gtest.h>
#include <png.h>
#include <string>
#include <vector>

#include "pngdecode.h"
#include "process.h"
#include "testutil.h"

namespace {

using Args = std::vector<std::string>;
using V = std::vector<unsigned>;

DecodedPng convertOk(const Args& args, const std::string& input,
                     std::string* stderrText = nullptr) {
    const RunResult r = runGridpack(args, input);
    EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
    if (stderrText) *stderrText = r.stderrText;
    return decodePng(r.stdoutBytes);
}

// n distinct colours (i & 255, i >> 8, 7), or (with gray) the levels 0..n-1 as colours.
V samplesOf(unsigned n, bool gray = false) {
    V v;
    for (unsigned i = 0; i < n; ++i)
        v.insert(v.end(), {gray ? i : i & 0xff, gray ? i : i >> 8, gray ? i : 7});
    return v;
}
V levels(unsigned n) {
    V v;
    for (unsigned i = 0; i < n; ++i) v.push_back(i);
    return v;
}
// One row of n distinct colours; one row of the levels 0..n-1; both raw with maxval 255.
std::string ppmOfDistinctColors(int n) { return pnmImage("P6", n, 1, 255, samplesOf(unsigned(n))); }
std::string pgmOfLevels(int n) { return pnmImage("P5", n, 1, 255, levels(unsigned(n))); }

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(Forms, TypeAndDepthFollowTheColoursAndTheMeaningfulBits) {
    struct Case {
        Args args;
        std::string image;
        std::string form;
        V pixels; // of the single row
    };
    std::vector<Case> cases = {
        {{}, pnmImage("P1", 3, 1, 1, {1, 0, 1}), "gray 1", {0, 1, 0}},
        {{}, pnmImage("P2", 3, 1, 3, {0, 1, 2}), "gray 2", {0, 1, 2}},
        {{}, pnmImage("P5", 5, 1, 15, {0, 1, 2, 3, 4}), "gray 4", {0, 1, 2, 3, 4}},
        {{}, pnmImage("P5", 2, 1, 65535, {1, 65534}), "gray 16", {1, 65534}},
        {{}, pnmImage("P5", 3, 1, 65535, {0x0101, 0x0202, 0xffff}), "gray 8 sBIT 8", {1, 2, 255}},
        // Nine levels need a 4-bit index, more than half of maxval 100's 7 bits: no palette;
        // the samples are scaled (v * 255 + 50) / 100 with 7 significant bits.
        {{},
         pnmImage("P2", 9, 1, 100, {0, 1, 2, 3, 4, 5, 50, 99, 100}),
         "gray 8 sBIT 7",
         V{0, 3, 5, 8, 10, 13, 128, 252, 255}},
        // A palette of gray levels only while its index takes at most half the sample's bits.
        {{}, pgmOfLevels(16), "palette 4 PLTE 16", samplesOf(16, true)},
        {{}, pgmOfLevels(17), "gray 8", levels(17)},
        // A gray pixmap is gray (here a 1-bit palette) unless forced.
        {{},
         pnmImage("P6", 2, 1, 255, {10, 10, 10, 20, 20, 20}),
         "palette 1 PLTE 2",
         V{10, 10, 10, 20, 20, 20}},
        {{"-force"},
         pnmImage("P6", 2, 1, 255, {10, 10, 10, 20, 20, 20}),
         "rgb 8",
         V{10, 10, 10, 20, 20, 20}},
        {{}, pnmImage("P3", 40, 1, 255, samplesOf(40, true)), "gray 8", levels(40)},
        {{}, pnmImage("P6", 1, 1, 65535, {1, 2, 65535}), "rgb 16", {1, 2, 65535}},
        // The significant bits are capped at the depth written (libpng drops the chunk else).
        {{},
         pnmImage("P6", 1, 1, 65535, {0x0101, 0x8080, 0xffff}),
         "rgb 8 sBIT 8/8/8",
         V{1, 128, 255}},
        {{}, ppmOfDistinctColors(257), "rgb 8", samplesOf(257)},
    };
    for (auto [colors, depth] :
         {std::pair{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 4}, {16, 4}, {17, 8}, {256, 8}})
        cases.push_back({{},
                         ppmOfDistinctColors(colors),
                         "palette " + std::to_string(depth) + " PLTE " + std::to_string(colors),
                         samplesOf(unsigned(colors))});
    for (const Case& c : cases) {
        const DecodedPng png = convertOk(c.args, c.image);
        EXPECT_EQ(png.form(), c.form);
        EXPECT_EQ(png.pixels(), c.pixels) << c.form;
    }

    // 16-bit samples go out high byte first: with stored deflate blocks the filter byte and
    // the sample bytes appear verbatim.
    const RunResult r =
        runGridpack({"-compression", "0", "-filter", "0"}, pnmImage("P5", 1, 1, 65535, {0x1234}));
    EXPECT_TRUE(contains(r.stdoutBytes, std::string("\x00\x12\x34", 3)));
    EXPECT_EQ(decodePng(r.stdoutBytes).gray(0, 0), 0x1234u);
}

TEST(Forms, PaletteFileGivesTheOrderAndAtMost256Colours) {
    TempDir dir;
    const std::string palette =
        dir.write("pal.ppm", pnmImage("P3", 3, 1, 255, {0, 0, 255, 0, 255, 0, 255, 0, 0}));
    const DecodedPng png = convertOk({"-palette", palette},
                                     pnmImage("P6", 3, 1, 255, {255, 0, 0, 0, 255, 0, 0, 0, 255}));
    EXPECT_EQ(png.palette, (std::vector<Rgb>{{0, 0, 255}, {0, 255, 0}, {255, 0, 0}}));
    EXPECT_EQ(png.rows.at(0), (V{2, 1, 0}));

    const RunResult r = runGridpack({"-palette", dir.write("pal.ppm", ppmOfDistinctColors(256))},
                                    ppmOfDistinctColors(257));
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.stderrText, "gridpack: You specified -palette, but there are more than 256 colors "
                            "in the image -- too many for a colormapped PNG\n");
}

TEST(AlphaForms, MaskWithPartialOpacityBecomesAnAlphaChannel) {
    TempDir dir;
    V alphas(257, 255);
    alphas[3] = 128;
    const std::string mask = dir.write("mask.pgm", pnmImage("P5", 257, 1, 255, alphas));
    std::string err;
    const DecodedPng png = convertOk({"-alpha", mask, "-verbose"}, ppmOfDistinctColors(257), &err);
    EXPECT_EQ(png.form(), "rgba 8");
    EXPECT_EQ(png.sample(3, 0, 3), 128u);
    EXPECT_EQ(png.sample(4, 0, 3), 255u);
    EXPECT_EQ(err, "gridpack: reading a PPM file (maxval=255)\n"
                   "gridpack: reading alpha-channel image...\n"
                   "gridpack: Finding colors in input image...\n"
                   "gridpack: More than 256 colors found -- too many for a colormapped PNG\n"
                   "gridpack: Writing 8 bits per component per pixel\n"
                   "gridpack: writing a 32-bit RGB+alpha file\n"
                   "gridpack: No transparent color\n");

    // Seventeen gray levels: too many for a gray palette.
    alphas.resize(17);
    const DecodedPng gray = convertOk(
        {"-alpha", dir.write("gray.pgm", pnmImage("P5", 17, 1, 255, alphas))}, pgmOfLevels(17));
    EXPECT_EQ(gray.form(), "graya 8");
    EXPECT_EQ(V(gray.rows.at(0).begin() + 4, gray.rows.at(0).begin() + 10),
              (V{2, 255, 3, 128, 4, 255}));
}

TEST(AlphaForms, MaskOfOneTransparentColourOrOpacitiesInThePalette) {
    TempDir dir;
    // Pixels: A B A C; transparent exactly where the colour is A. A bitmap mask reads as 0
    // (black, transparent) and 255 (white, opaque).
    const std::string image = pnmImage("P6", 4, 1, 255, {10, 20, 30, 1, 1, 1, 10, 20, 30, 2, 2, 2});
    const DecodedPng png =
        convertOk({"-alpha", dir.write("mask.pbm", pnmImage("P1", 4, 1, 1, {1, 0, 1, 0}))}, image);
    EXPECT_EQ(png.form(), "palette 2 PLTE 3");
    EXPECT_EQ(png.transAlpha, (V{0}));
    EXPECT_EQ(png.pixels(), (V{10, 20, 30, 0, 1, 1, 1, 255, 10, 20, 30, 0, 2, 2, 2, 255}));

    // With -force the mask stays a channel: maxval 1 scales to 255.
    const DecodedPng forced = convertOk(
        {"-force", "-alpha", dir.write("mask1.pgm", pnmImage("P2", 4, 1, 1, {0, 1, 0, 1}))}, image);
    EXPECT_EQ(forced.form(), "rgba 8 sBIT 8/8/8/1");
    EXPECT_EQ(forced.pixels(), (V{10, 20, 30, 0, 1, 1, 1, 255, 10, 20, 30, 0, 2, 2, 2, 255}));

    // On an RGB image the colour goes into a one-colour tRNS.
    V samples, alphas;
    for (unsigned i = 0; i < 300; ++i) {
        samples.insert(samples.end(), {i % 256, i / 256, 9});
        alphas.push_back(i == 5 ? 0 : 65535);
    }
    const DecodedPng rgb =
        convertOk({"-alpha", dir.write("big.pgm", pnmImage("P5", 300, 1, 65535, alphas))},
                  pnmImage("P6", 300, 1, 255, samples));
    EXPECT_EQ(rgb.form(), "rgb 8");
    ASSERT_TRUE(rgb.hasTrns);
    EXPECT_EQ((V{rgb.transColor.red, rgb.transColor.green, rgb.transColor.blue}), (V{5, 0, 9}));

    // Colours X X Y Y with opacities 255, 0, 100, 255: each pair its own entry.
    std::string err;
    const DecodedPng pairs = convertOk(
        {"-alpha", dir.write("m.pgm", pnmImage("P2", 4, 1, 255, {255, 0, 100, 255})), "-verbose"},
        pnmImage("P6", 4, 1, 255, {9, 9, 9, 9, 9, 9, 5, 6, 7, 5, 6, 7}), &err);
    EXPECT_EQ(pairs.form(), "palette 2 PLTE 4");
    EXPECT_EQ(pairs.transAlpha.size(), 2u);
    EXPECT_EQ(pairs.pixels(), (V{9, 9, 9, 255, 9, 9, 9, 0, 5, 6, 7, 100, 5, 6, 7, 255}));
    EXPECT_TRUE(contains(err, "gridpack: PNG palette has 4 entries, 2 of them non-opaque\n"
                              "gridpack: Writing 2-bit color indexes\n"
                              "gridpack: writing a 2-bit palette+transparency file\n"))
        << err;
}

TEST(TransparentAndBackground, ExactRequestAbsentWarnsAndClosestIsTakenOtherwise) {
    const std::string image = pnmImage("P6", 3, 1, 255, {255, 0, 0, 0, 255, 0, 0, 0, 255});
    std::string err;
    const DecodedPng exact = convertOk({"-transparent", "=rgb:f0/10/10"}, image, &err);
    EXPECT_EQ(err, "gridpack: 3 colors found\n"
                   "gridpack: specified transparent color not present in palette; ignoring "
                   "-transparent\n");
    EXPECT_FALSE(exact.hasTrns);

    const DecodedPng closest = convertOk({"-tr", "rgb:f0/10/10", "-verbose"}, image, &err);
    EXPECT_EQ(closest.transAlpha, (V{0}));
    EXPECT_EQ(closest.pixels(), (V{255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 255, 255}));
    EXPECT_TRUE(
        contains(err, "gridpack: Making all occurences of color (255, 0, 0) transparent.\n"));

    // A gray image takes a one-value tRNS; names come from the tests' dictionary.
    const DecodedPng gray = convertOk({"-tr", "gray", "-force"}, pgmOfLevels(200), &err);
    ASSERT_TRUE(gray.hasTrns);
    EXPECT_EQ(gray.transColor.gray, 128u);

    // Bitmap colours are scaled to maxval 1.
    const DecodedPng bits = convertOk({"-tr", "rgb:e0/e0/e0", "-background", "#101010"},
                                      pnmImage("P4", 9, 1, 1, {1, 0, 1, 0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(bits.form(), "gray 1");
    ASSERT_TRUE(bits.hasTrns && bits.hasBkgd);
    EXPECT_EQ((V{bits.transColor.gray, bits.bkgd.gray}), (V{1, 0}));
    EXPECT_EQ(bits.pixels(), (V{0, 1, 0, 1, 0, 1, 0, 1, 0}));

    const DecodedPng rgb =
        convertOk({"-background", "rgb:10/20/30", "-verbose"}, ppmOfDistinctColors(300), &err);
    ASSERT_TRUE(rgb.hasBkgd);
    EXPECT_EQ((V{rgb.bkgd.red, rgb.bkgd.green, rgb.bkgd.blue}), (V{0x10, 0x20, 0x30}));
    EXPECT_TRUE(contains(err, "gridpack: Writing bKGD chunk with background color  {gray, red, "
                              "green, blue} = {48, 16, 32, 48}\n"));
}

TEST(TransparentAndBackground, BackgroundAppendedToThePaletteWithAZeroHistogramEntry) {
    const DecodedPng png =
        convertOk({"-background", "black", "-hist"},
                  pnmImage("P6", 4, 1, 255, {255, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
    ASSERT_EQ(png.palette.size(), 4u);
    EXPECT_EQ(png.palette.at(3), (Rgb{0, 0, 0}));
    ASSERT_TRUE(png.hasBkgd);
    EXPECT_EQ(png.bkgd.index, 3u);
    ASSERT_EQ(png.hist.size(), 4u);
    EXPECT_EQ((V{png.hist[png.index(0, 0)], png.hist[png.index(2, 0)], png.hist[3]}), (V{2, 1, 0}));

    // hIST entries are 16 bits: a colour of 70,000 pixels counts 65535.
    V samples(70001, 0);
    samples[0] = 1;
    const DecodedPng many = convertOk({"-hist"}, pnmImage("P5", 70001, 1, 255, samples));
    EXPECT_EQ(many.form(), "palette 1 PLTE 2");
    EXPECT_EQ((V{many.hist.at(many.index(0, 0)), many.hist.at(many.index(1, 0))}), (V{1, 65535}));
}

TEST(Chunks, TimeGammaChromaPhysicalSizeAndText) {
    const DecodedPng png = convertOk({"-time", "01-02-03", "04:05:06", "-gamma", "0.45455",
                                      "-chroma", "0.3127", "0.329", "0.64", "0.33", "0.3", "0.6",
                                      "0.15", "0.06", "-phys", "2835", "2836", "1"},
                                     pgmOfLevels(3));
    EXPECT_EQ(png.time, "1901-2-3 4:5:6");
    EXPECT_EQ(png.count("tIME"), 1);
    EXPECT_NEAR(png.gamma, 0.45455, 1e-5);
    ASSERT_EQ(png.chrm.size(), 8u);
    EXPECT_NEAR(png.chrm[0], 0.3127, 1e-5);
    EXPECT_NEAR(png.chrm[7], 0.06, 1e-5);
    EXPECT_EQ(png.phys, "2835 2836 1");
    EXPECT_EQ(convertOk({"-time", "2026-12-06", "12:00"}, pgmOfLevels(3)).time, "2026-12-6 12:0:0");
    // Arguments that do not scan leave the chunk out.
    const DecodedPng none =
        convertOk({"-gamma", "abc", "-phys", "1", "2", "metre"}, pgmOfLevels(3));
    EXPECT_EQ(none.gamma, 0);
    EXPECT_EQ(none.phys, "");

    TempDir dir;
    const std::string comments =
        dir.write("c.txt", "Title A title\nauthor someone\n  and more\n\"quoted key\" text\n");
    for (const char* option : {"-text", "-ztxt"}) {
        const DecodedPng text = convertOk({option, comments}, pgmOfLevels(3));
        std::string all;
        for (const PngText& t : text.texts) all += t.key + "=" + t.text + "|";
        EXPECT_EQ(all, "Title=A title|author=someone\nand more|quoted key=text|");
        const bool z = std::string(option) == "-ztxt";
        EXPECT_EQ(text.count("tEXt"), z ? 1 : 3);
        EXPECT_EQ(text.count("zTXt"), z ? 2 : 0);
        // Text goes out once, before the image data.
        const auto idat = std::find(text.chunks.begin(), text.chunks.end(), "IDAT");
        EXPECT_EQ(std::count(idat, text.chunks.end(), "IDAT") + 1, text.chunks.end() - idat);
        EXPECT_EQ(text.chunks.back(), "IEND");
    }
}

// (Interlacing is checked pixel by pixel by the soak.)
TEST(Rows, FilterOptionSetsEveryRowsFilter) {
    V samples;
    for (unsigned i = 0; i < 20 * 15; ++i) samples.insert(samples.end(), {i % 256, i / 256, 1});
    for (int f = 0; f <= 4; ++f) {
        const RunResult r =
            runGridpack({"-filter", std::to_string(f)}, pnmImage("P6", 20, 15, 255, samples));
        EXPECT_EQ(rowFilters(r.stdoutBytes), std::vector<int>(15, f));
    }
}

TEST(Input, PipeAndFileGiveTheSameBytes) {
    // 400 x 300 colours: larger than the pipe's buffer and the copy made of it to rewind.
    TempDir dir;
    V samples;
    for (unsigned i = 0; i < 400 * 300; ++i)
        samples.insert(samples.end(), {i & 0xff, (i >> 8) & 0xff, i >> 16});
    const std::string image = pnmImage("P6", 400, 300, 255, samples);
    const std::string file = dir.write("in.ppm", image);
    const RunResult fromFile = runGridpack({file}, std::string());
    RunOptions redirected;
    redirected.stdinFile = file;
    ASSERT_EQ(fromFile.exitStatus, 0);
    EXPECT_EQ(runGridpack({"-"}, image).stdoutBytes, fromFile.stdoutBytes);
    EXPECT_EQ(runGridpack({}, redirected).stdoutBytes, fromFile.stdoutBytes);
    EXPECT_EQ(decodePng(fromFile.stdoutBytes).pixels(299), V(samples.end() - 1200, samples.end()));
    // The bundled example converts.
    const DecodedPng example =
        convertOk({testDataPath("../../examples/testpattern.ppm")}, std::string());
    EXPECT_EQ((V{example.width, example.height}), (V{64, 48}));
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
    EXPECT_TRUE(contains(err, "gridpack: writing an 8-bit palette file\n"));
    convertOk({"-verbose", "-interlace"}, pnmImage("P5", 3, 2, 65535, {1, 2, 3, 4, 5, 6}), &err);
    EXPECT_EQ(err, "gridpack: reading a PGM file (maxval=65535)\n"
                   "gridpack: Writing 16 bits per component per pixel\n"
                   "gridpack: writing a 16-bit gray file (interlaced)\n"
                   "gridpack: No transparent color\n");
    // Without -verbose only the colour count, which -quiet silences too.
    EXPECT_EQ(runGridpack({}, ppmOfDistinctColors(5)).stderrText, "gridpack: 5 colors found\n");
    EXPECT_EQ(runGridpack({"-quiet"}, ppmOfDistinctColors(5)).stderrText, "");
}

TEST(Failures, MessagesAndExitStatus) {
    TempDir dir;
    const std::string image = pnmImage("P6", 2, 1, 255, {1, 2, 3, 4, 5, 6});
    // A bitmap takes no colour census, whose count would come first on standard error.
    const std::string bitmap = pnmImage("P1", 2, 1, 1, {0, 1});
    const std::string noPixels =
        "gridpack: the input image has no pixels; a PNG needs at least one\n";
    const struct {
        Args args;
        std::string input, message;
    } cases[] = {
        {Args{"-alpha", dir.write("small.pgm", pnmImage("P5", 1, 1, 255, {0}))}, image,
         "gridpack: dimensions for image and alpha mask do not agree\n"},
        {Args{"-alpha", dir.write("half.pgm", pnmImage("P5", 2, 1, 255, {128, 255})), "-palette",
              dir.write("pal.ppm", image)},
         image,
         "gridpack: 2 colors found\ngridpack: This program is not capable of generating a PNG "
         "with transparency when you specify the palette with -palette.\n"},
        {Args{"-alpha", dir.write("zero.pgm", pnmImage("P2", 2, 1, 0, {0, 0}))}, image,
         "gridpack: the alpha mask has maxval 0; it must be at least 1\n"},
        {Args{}, pnmImage("P2", 1, 1, 0, {0}),
         "gridpack: the input image has maxval 0; it must be at least 1\n"},
        {Args{"-tr", "no such colour"}, image, "gridpack: unknown color - \"no such colour\"\n"},
        {Args{"-text", dir.write("cont.txt", " indented first line\n")}, bitmap,
         "gridpack: Invalid comment file format: first line is a continuation line! (It starts "
         "with whitespace)\n"},
        {Args{}, "P6\n2 1\n255\n\x01\x02",
         "gridpack: EOF / read error reading a one-byte sample\n"},
        // Refused before any pass: a zero-width header of 2^31 rows would otherwise be read
        // row by empty row, pass after pass.
        {Args{"-verbose"}, "P5\n0 3\n255\n", noPixels},
        {Args{"-verbose"}, "P6\n3 0\n255\n", noPixels},
        {Args{"-verbose"}, "P5\n0 2147483640\n255\n", noPixels},
    };
    for (const auto& c : cases) {
        const RunResult r = runGridpack(c.args, c.input);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.stderrText, c.message);
    }
    // libpng refuses an empty keyword while writing: the bridge stops the conversion.
    const RunResult r = runGridpack({"-text", dir.write("empty.txt", "\"\" text\n")}, image);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.stderrText, "gridpack:  fatal libpng error: "));
    EXPECT_TRUE(contains(r.stderrText, "gridpack: setjmp returns error condition (2)\n"))
        << r.stderrText;
}
