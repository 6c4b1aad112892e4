// Palette construction, and the transparent and background entries added to a palette.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "gridpack.h"
#include "imagefile.h"
#include "testutil.h"

namespace {

class PaletteTest : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        gridpack::errorlevel = 0;
        pm_progname = "gridpack";
        pm_setMessage(1, nullptr);
        gridpack::freeChv();
    }
    void TearDown() override { gridpack::freeChv(); }
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

// ---- palettes without an alpha mask --------------------------------------------------------

namespace {

// Three colours whose census order (by hash chain: 941, 6988, 13976) is A, B, C.
const pixel A{0, 0, 3}, B{0, 0, 1}, C{0, 0, 2};

std::string threeColourImage() {
    return pnmImage("P6", 4, 1, 255, {0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 1});
}

struct Built {
    std::vector<pixel> palette = std::vector<pixel>(256);
    std::vector<gray> trans = std::vector<gray>(256, 77);
    unsigned size = 999, transSize = 999;
};

Built nonAlphaPalette(const std::string& image, FILE* pfP) {
    ImageFile img(image);
    color_hist chv;
    int colors;
    gridpack::getChv(img.f, img.rasterPos, img.cols, img.rows, img.maxval, img.format, 256, &chv,
                     &colors);
    Built b;
    gridpack::compute_nonalpha_palette(chv, colors, pfP, b.palette.data(), &b.size, b.trans.data(),
                                       &b.transSize);
    return b;
}

void expectPalette(const Built& b, const std::vector<pixel>& expected) {
    ASSERT_EQ(b.size, expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(PPM_EQUAL(b.palette[i], expected[i]))
            << i << ": " << b.palette[i].r << "," << b.palette[i].g << "," << b.palette[i].b;
}

} // namespace

TEST_F(PaletteTest, DefaultPaletteFollowsTheCensus) {
    ::testing::internal::CaptureStderr();
    Built b = nonAlphaPalette(threeColourImage(), nullptr);
    ::testing::internal::GetCapturedStderr();
    expectPalette(b, {A, B, C});
    EXPECT_EQ(b.transSize, 0u);
    EXPECT_EQ(b.trans[0], 77u) << "transValues untouched";
}

TEST_F(PaletteTest, OrderedPaletteGivesTheOrder) {
    FILE* pf = tmpFileWith(pnmImage("P3", 3, 1, 255, {0, 0, 2, 0, 0, 3, 0, 0, 1}));
    gridpack::verbose = 1;
    ::testing::internal::CaptureStderr();
    Built b = nonAlphaPalette(threeColourImage(), pf);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gridpack: Finding colors in input image...\n"
              "gridpack: 3 colors found\n"
              "gridpack: reading ordered palette (colormap)...\n"
              "gridpack: 3 colors found\n");
    std::fclose(pf);
    expectPalette(b, {C, A, B});
    EXPECT_EQ(b.transSize, 0u);
}

TEST_F(PaletteTest, OrderedPaletteFailures) {
    const struct {
        const char* what;
        std::string file;
        const char* message;
    } cases[] = {
        {"four for three", pnmImage("P6", 4, 1, 255, {0, 0, 1, 0, 0, 2, 0, 0, 3, 9, 9, 9}),
         "sizes of ordered palette \\(4\\) and existing palette \\(3\\) differ"},
        {"first census colour missing", pnmImage("P6", 3, 1, 255, {9, 9, 9, 0, 0, 2, 8, 8, 8}),
         "failed to find color \\(0, 0, 3\\), which is in the input image, in the ordered "
         "palette"},
        {"raw graymap", pnmImage("P5", 3, 1, 255, {1, 2, 3}),
         "ordered palette must be a PPM file, not type 20533"},
        {"plain graymap", pnmImage("P2", 3, 1, 255, {1, 2, 3}),
         "ordered palette must be a PPM file, not type 20530"},
        {"17 x 16", pnmImage("P6", 17, 16, 255, std::vector<unsigned>(17 * 16 * 3, 0)),
         "ordered-palette image contains 272 pixels.  Maximum is 256"},
    };
    for (const auto& c : cases) {
        EXPECT_EXIT(
            {
                FILE* pf = tmpFileWith(c.file);
                pm_setMessage(0, nullptr);
                nonAlphaPalette(threeColourImage(), pf);
            },
            ::testing::ExitedWithCode(1), c.message)
            << c.what;
    }
}

TEST_F(PaletteTest, OrderedPaletteIsJudgedByItsHeaderFirst) {
    const struct {
        const char* what;
        std::string file;
        const char* message;
    } cases[] = {
        // Once pnm_readpnm of 2^31 empty rows: a 16 GB row index.
        {"zero width, 2^31 rows", "P6\n0 2147483640\n255\n",
         "sizes of ordered palette \\(0\\) and existing palette \\(3\\) differ"},
        {"2^31 square", "P6\n2147483640 2147483640\n255\n",
         "ordered-palette image contains 4611685984067649600 pixels.  Maximum is 256"},
        {"graymap with a short raster", "P5\n3 1\n255\n",
         "ordered palette must be a PPM file, not type 20533"},
        {"short raster", "P6\n3 1\n255\n\x01", "EOF / read error reading a one-byte sample"},
    };
    for (const auto& c : cases) {
        EXPECT_EXIT(
            {
                alarm(10); // reading 2^31 rows would take minutes
                FILE* pf = tmpFileWith(c.file);
                pm_setMessage(0, nullptr);
                nonAlphaPalette(threeColourImage(), pf);
            },
            ::testing::ExitedWithCode(1), c.message)
            << c.what;
    }
}

TEST_F(PaletteTest, OrderedPaletteIsComparedUnscaled) {
    // The same three colours at maxval 15 hold other sample values than at 255.
    const std::string image = pnmImage("P6", 3, 1, 255, {0, 0, 17, 0, 0, 34, 0, 0, 51});
    EXPECT_EXIT(
        {
            FILE* pf = tmpFileWith(pnmImage("P6", 3, 1, 15, {0, 0, 1, 0, 0, 2, 0, 0, 3}));
            pm_setMessage(0, nullptr);
            nonAlphaPalette(image, pf);
        },
        ::testing::ExitedWithCode(1), "failed to find color \\(0, 0, (17|34|51)\\)");
}

// ---- palettes with an alpha mask -----------------------------------------------------------

namespace {

struct AlphaBuilt : Built {
    bool tooMany = false;
};

AlphaBuilt alphaPalette(const std::string& image, const std::vector<unsigned>& alpha,
                        gray alphaMaxval) {
    ImageFile img(image);
    AlphaMask mask(img.cols, img.rows, alpha);
    AlphaBuilt b;
    ::testing::internal::CaptureStderr();
    gridpack::compute_alpha_palette(img.f, img.cols, img.rows, img.maxval, img.format,
                                    img.rasterPos, mask.rows, alphaMaxval, b.palette.data(),
                                    b.trans.data(), &b.size, &b.transSize, &b.tooMany);
    ::testing::internal::GetCapturedStderr();
    return b;
}

// X = (0, 0, 1) comes before Y = (0, 0, 2) in the census (chains 6988 and 13976).
const pixel X = B, Y = C;
const std::string xyxy = pnmImage("P6", 4, 1, 255, {0, 0, 1, 0, 0, 2, 0, 0, 1, 0, 0, 2});

} // namespace

TEST_F(PaletteTest, AlphaPaletteTranslucentFirstOpaqueReversed) {
    // X with 255 then 0, Y with 100 then 255: pairs (X,255) (X,0) (Y,100) (Y,255).
    AlphaBuilt b = alphaPalette(xyxy, {255, 100, 0, 255}, 255);
    EXPECT_FALSE(b.tooMany);
    expectPalette(b, {X, Y, Y, X});
    EXPECT_EQ(b.transSize, 2u);
    EXPECT_EQ(b.trans[0], 0u);
    EXPECT_EQ(b.trans[1], 100u);
    EXPECT_EQ(b.trans[2], 255u);
    EXPECT_EQ(b.trans[3], 255u);
}

TEST_F(PaletteTest, AlphaPaletteAllOpaqueIsReverseCensusOrder) {
    AlphaBuilt b = alphaPalette(xyxy, {255, 255, 255, 255}, 255);
    expectPalette(b, {Y, X});
    EXPECT_EQ(b.transSize, 0u);
}

TEST_F(PaletteTest, AlphaPaletteAllTransparentIsCensusOrder) {
    AlphaBuilt b = alphaPalette(xyxy, {0, 0, 0, 0}, 255);
    expectPalette(b, {X, Y});
    EXPECT_EQ(b.transSize, 2u);
}

TEST_F(PaletteTest, AlphaPaletteOnlyTheMaskMaxvalIsOpaque) {
    AlphaBuilt b = alphaPalette(xyxy, {65535, 65534, 65535, 65534}, 65535);
    expectPalette(b, {Y, X});
    EXPECT_EQ(b.transSize, 1u);
    EXPECT_EQ(b.trans[0], 65534u);
}

TEST_F(PaletteTest, AlphaPaletteOfAGrayImage) {
    AlphaBuilt b = alphaPalette(pnmImage("P5", 3, 1, 255, {7, 7, 7}), {0, 255, 0}, 255);
    expectPalette(b, {{7, 7, 7}, {7, 7, 7}});
    EXPECT_EQ(b.transSize, 1u);
}

TEST_F(PaletteTest, TooManyColourAlphaPairs) {
    // 200 colours, each with alpha 0 and then 255: 400 pairs. Counting stops as soon as the
    // 257th pair is met, so the count reached is what comes back.
    std::vector<unsigned> samples, alpha;
    for (unsigned i = 0; i < 200; ++i) {
        for (int k = 0; k < 2; ++k) samples.insert(samples.end(), {i, 1, 2});
        alpha.insert(alpha.end(), {0, 255});
    }
    AlphaBuilt b = alphaPalette(pnmImage("P6", 20, 20, 255, samples), alpha, 255);
    EXPECT_TRUE(b.tooMany);
    EXPECT_EQ(b.size, 257u);
    EXPECT_EQ(b.transSize, 999u) << "not filled";
}

TEST_F(PaletteTest, ExactlyTwoHundredFiftySixPairsFit) {
    std::vector<unsigned> samples, alpha;
    for (unsigned i = 0; i < 128; ++i) {
        for (int k = 0; k < 2; ++k) samples.insert(samples.end(), {i, 1, 2});
        alpha.insert(alpha.end(), {3, 255});
    }
    AlphaBuilt b = alphaPalette(pnmImage("P6", 16, 16, 255, samples), alpha, 255);
    EXPECT_FALSE(b.tooMany);
    EXPECT_EQ(b.size, 256u);
    EXPECT_EQ(b.transSize, 128u);
}
