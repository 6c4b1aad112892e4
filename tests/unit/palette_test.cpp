// Palette construction, and the transparent and background entries added to a palette.
#include <string>
#include <unistd.h>
#include <vector>

#include "unitutil.h"

namespace {

using PaletteTest = ConverterTest;

// Eight distinct colours, entry i (10 i, 20, 30), with room for 256 like the driver's palette.
std::vector<pixel> eightColors() {
    std::vector<pixel> p(256, pixel{0, 0, 0});
    for (unsigned i = 0; i < 8; ++i) p[i] = {10 * i, 20, 30};
    return p;
}

// The reds of a palette of eightColors(), in order.
std::string reds(const std::vector<pixel>& p) {
    std::string s;
    for (unsigned i = 0; i < 8; ++i) s += (i ? " " : "") + std::to_string(p[i].r);
    return s;
}

} // namespace

TEST_F(PaletteTest, ClosestColourTiesGoToTheLowestIndex) {
    const pixel palette[] = {pixel{9, 9, 9}, {0, 0, 0}, {2, 0, 0}};
    unsigned index = 99, distance = 99;
    ASSERT_TRUE(gridpack::closestColorInPalette(1, 0, 0, palette, 3, &index, &distance));
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(distance, 1u);
    ASSERT_TRUE(gridpack::closestColorInPalette(2, 0, 1, palette, 3, &index, nullptr));
    EXPECT_EQ(index, 2u);
    ASSERT_TRUE(gridpack::closestColorInPalette(255, 0, 0, palette, 3, nullptr, &distance));
    EXPECT_EQ(distance, 60678u); // 246² + 9² + 9², entry 0
    // An empty palette stores nothing.
    EXPECT_FALSE(gridpack::closestColorInPalette(1, 2, 3, palette, 0, &index, &distance));
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(distance, 60678u);
}

TEST_F(PaletteTest, TransparentEntryIsTheClosestColourSwappedToTheFront) {
    const struct {
        pixel color;
        bool exact, verbose;
        unsigned transSize;
        const char *reds, *message;
    } cases[] = {
        {pixel{50, 20, 30}, true, false, 1, "50 10 20 30 40 0 60 70", ""},
        {pixel{0, 20, 30}, false, false, 1, "0 10 20 30 40 50 60 70", ""},
        {pixel{32, 21, 30}, false, true, 1, "30 10 20 0 40 50 60 70",
         "gridpack: Making all occurences of color (30, 20, 30) transparent.\n"},
        // An exact request that is absent warns even without -verbose, and is no error.
        {pixel{51, 20, 30}, true, false, 0, "0 10 20 30 40 50 60 70",
         "gridpack: specified transparent color not present in palette; ignoring "
         "-transparent\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reds);
        std::vector<pixel> p = eightColors();
        gray trans[256] = {99};
        unsigned transSize = 0;
        gridpack::verbose = c.verbose;
        gridpack::errorlevel = 5;
        EXPECT_EQ(stderrOf(gridpack::makeOneColorTransparentInPalette, c.color.r, c.color.g,
                           c.color.b, c.exact, p.data(), 8, trans, &transSize),
                  c.message);
        EXPECT_EQ(transSize, c.transSize);
        EXPECT_EQ(trans[0], c.transSize ? 0u : 99u);
        EXPECT_EQ(reds(p), c.reds);
        EXPECT_EQ(gridpack::errorlevel, c.transSize ? 5 : 0);
    }
    // An empty palette is left alone; a second transparent entry is an internal error.
    std::vector<pixel> p = eightColors();
    gray trans[1] = {5};
    unsigned transSize = 0;
    gridpack::makeOneColorTransparentInPalette(0, 20, 30, false, p.data(), 0, trans, &transSize);
    EXPECT_EQ(transSize, 0u);
    EXPECT_EQ(trans[0], 5u);
    transSize = 1;
    EXPECT_FATAL(gridpack::makeOneColorTransparentInPalette(0, 20, 30, false, p.data(), 8, trans,
                                                            &transSize),
                 "Internal error: trying to make a color in the palette transparent where there "
                 "already is one.");
}

TEST_F(PaletteTest, BackgroundIsFoundAppendedOrTheClosestTaken) {
    std::vector<pixel> ramp(256); // reds 0..255
    for (unsigned i = 0; i < 256; ++i) ramp[i] = {i, 0, 0};
    std::vector<pixel> twice = eightColors(); // 0 50 20 50 40: an alpha palette's repeat
    twice[1] = twice[3] = {50, 20, 30};
    const struct {
        std::vector<pixel> palette;
        unsigned size;
        pixel color;
        int index;
        unsigned newSize;
        const char* message;
    } cases[] = {
        {eightColors(), 8, pixel{40, 20, 30}, 4, 8,
         "gridpack: background color (40, 20, 30) appears in image.\n"},
        {twice, 5, pixel{50, 20, 30}, 3, 5,
         "gridpack: background color (50, 20, 30) appears in image.\n"},
        {ramp, 255, pixel{1, 2, 3}, 255, 256,
         "gridpack: added background color (1, 2, 3) to palette.\n"},
        {ramp, 256, pixel{100, 2, 0}, 100, 256,
         "gridpack: no room in palette for background color; using closest match (100, 0, 0) "
         "instead\n"},
        {eightColors(), 0, pixel{1, 2, 3}, 0, 0, ""}, // no pixels, nothing to do
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        for (int verbose : {0, 1}) {
            std::vector<pixel> p = c.palette;
            unsigned size = c.size;
            int index = -1;
            gridpack::verbose = verbose;
            gridpack::errorlevel = 3;
            EXPECT_EQ(stderrOf(gridpack::findOrAddBackgroundInPalette, c.color.r, c.color.g,
                               c.color.b, p.data(), &size, &index),
                      verbose ? c.message : "");
            EXPECT_EQ(index, c.index);
            EXPECT_EQ(size, c.newSize);
            std::vector<pixel> expected = c.palette;
            if (c.newSize > c.size) expected[c.size] = c.color;
            EXPECT_EQ(str(p.data(), 256), str(expected.data(), 256));
            EXPECT_EQ(gridpack::errorlevel, c.size == 256 ? 0 : 3);
        }
    }
}

// ---- palettes without an alpha mask --------------------------------------------------------

namespace {

// Three colours whose census order (by hash chain: 941, 6988, 13976) is (0,0,3) (0,0,1) (0,0,2).
const std::string threeColours = pnmImage("P6", 4, 1, 255, {0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 1});

struct Built {
    std::vector<pixel> palette = std::vector<pixel>(256);
    std::vector<gray> trans = std::vector<gray>(256, 77);
    unsigned size = 999, transSize = 999;
    bool tooMany = false;
    std::string str() const { return ::str(palette.data(), size); }
};

// Each from a fresh census: the driver's census is cached for the image being converted.
Built nonAlphaPalette(const std::string& image, FILE* pfP) {
    gridpack::freeChv();
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

} // namespace

TEST_F(PaletteTest, DefaultPaletteFollowsTheCensusAnOrderedOneTheFile) {
    Built b;
    stderrOf([&] { b = nonAlphaPalette(threeColours, nullptr); });
    EXPECT_EQ(b.str(), "0,0,3 0,0,1 0,0,2");
    EXPECT_EQ(b.transSize, 0u);
    EXPECT_EQ(b.trans[0], 77u) << "transValues untouched";

    TmpFile pf(pnmImage("P3", 3, 1, 255, {0, 0, 2, 0, 0, 3, 0, 0, 1}));
    gridpack::verbose = 1;
    EXPECT_EQ(stderrOf([&] { b = nonAlphaPalette(threeColours, pf); }),
              "gridpack: Finding colors in input image...\n"
              "gridpack: 3 colors found\n"
              "gridpack: reading ordered palette (colormap)...\n"
              "gridpack: 3 colors found\n");
    EXPECT_EQ(b.str(), "0,0,2 0,0,3 0,0,1");
    EXPECT_EQ(b.transSize, 0u);
}

TEST_F(PaletteTest, OrderedPaletteFailuresJudgeTheHeaderFirst) {
    const struct {
        std::string file;
        const char* message;
    } cases[] = {
        {pnmImage("P6", 4, 1, 255, {0, 0, 1, 0, 0, 2, 0, 0, 3, 9, 9, 9}),
         "sizes of ordered palette \\(4\\) and existing palette \\(3\\) differ"},
        {pnmImage("P6", 3, 1, 255, {9, 9, 9, 0, 0, 2, 8, 8, 8}),
         "failed to find color \\(0, 0, 3\\), which is in the input image, in the ordered "
         "palette"},
        {pnmImage("P6", 17, 16, 255, std::vector<unsigned>(17 * 16 * 3, 0)),
         "ordered-palette image contains 272 pixels.  Maximum is 256"},
        // The type and size are judged before the raster is read: once pnm_readpnm of 2^31
        // empty rows, a 16 GB row index.
        {"P5\n3 1\n255\n", "ordered palette must be a PPM file, not type 20533"},
        {"P6\n0 2147483640\n255\n",
         "sizes of ordered palette \\(0\\) and existing palette \\(3\\) differ"},
        {"P6\n2147483640 2147483640\n255\n",
         "ordered-palette image contains 4611685984067649600 pixels.  Maximum is 256"},
        {"P6\n3 1\n255\n\x01", "EOF / read error reading a one-byte sample"},
    };
    for (const auto& c : cases) {
        EXPECT_FATAL(
            {
                alarm(10); // reading 2^31 rows would take minutes
                pm_setMessage(0, nullptr);
                nonAlphaPalette(threeColours, TmpFile(c.file));
            },
            c.message);
    }
    // Samples are compared unscaled: at maxval 15 these are 17, 34 and 51 of maxval 255.
    EXPECT_FATAL(nonAlphaPalette(pnmImage("P6", 3, 1, 255, {0, 0, 17, 0, 0, 34, 0, 0, 51}),
                                 TmpFile(pnmImage("P6", 3, 1, 15, {0, 0, 1, 0, 0, 2, 0, 0, 3}))),
                 "failed to find color \\(0, 0, (17|34|51)\\)");
}

// ---- palettes with an alpha mask -----------------------------------------------------------

namespace {

Built alphaPalette(const std::string& image, const std::vector<unsigned>& alpha, gray alphaMaxval) {
    gridpack::freeChv();
    ImageFile img(image);
    AlphaMask mask(img.cols, img.rows, alpha);
    Built b;
    stderrOf([&] {
        gridpack::compute_alpha_palette(img.f, img.cols, img.rows, img.maxval, img.format,
                                        img.rasterPos, mask.rows, alphaMaxval, b.palette.data(),
                                        b.trans.data(), &b.size, &b.transSize, &b.tooMany);
    });
    return b;
}

} // namespace

TEST_F(PaletteTest, AlphaPaletteTranslucentInCensusOrderThenOpaqueReversed) {
    // X = (0, 0, 1) comes before Y = (0, 0, 2) in the census (chains 6988 and 13976).
    using V = std::vector<unsigned>;
    const std::string xyxy = pnmImage("P6", 4, 1, 255, {0, 0, 1, 0, 0, 2, 0, 0, 1, 0, 0, 2});
    const struct {
        std::string image;
        std::vector<unsigned> alpha;
        gray alphaMaxval;
        const char* palette;
        std::vector<unsigned> trans;
    } cases[] = {
        // Pairs (X,255) (Y,100) (X,0) (Y,255).
        {xyxy, V{255, 100, 0, 255}, 255, "0,0,1 0,0,2 0,0,2 0,0,1", V{0, 100}},
        {xyxy, V{255, 255, 255, 255}, 255, "0,0,2 0,0,1", V{}},
        {xyxy, V{0, 0, 0, 0}, 255, "0,0,1 0,0,2", V{0, 0}},
        {xyxy, V{65535, 65534, 65535, 65534}, 65535, "0,0,2 0,0,1", V{65534}},
        {pnmImage("P5", 3, 1, 255, {7, 7, 7}), V{0, 255, 0}, 255, "7,7,7 7,7,7", V{0}},
    };
    for (const auto& c : cases) {
        const Built b = alphaPalette(c.image, c.alpha, c.alphaMaxval);
        EXPECT_FALSE(b.tooMany);
        EXPECT_EQ(b.str(), c.palette);
        ASSERT_EQ(b.transSize, c.trans.size());
        EXPECT_EQ(V(b.trans.begin(), b.trans.begin() + b.transSize), c.trans);
        // The opaque entries hold the mask's maxval.
        for (unsigned i = b.transSize; i < b.size; ++i) EXPECT_EQ(b.trans[i], c.alphaMaxval);
    }
}

TEST_F(PaletteTest, TwoHundredFiftySixColourAlphaPairsFitNotMore) {
    // n colours, each with alpha a and then 255. Counting stops as soon as the 257th pair is
    // met, so the count reached is what comes back.
    for (unsigned n : {128u, 200u}) {
        std::vector<unsigned> samples, alpha;
        for (unsigned i = 0; i < n; ++i) {
            for (int k = 0; k < 2; ++k) samples.insert(samples.end(), {i, 1, 2});
            alpha.insert(alpha.end(), {n == 128 ? 3u : 0u, 255});
        }
        const Built b = alphaPalette(pnmImage("P6", int(n), 2, 255, samples), alpha, 255);
        EXPECT_EQ(b.tooMany, n == 200);
        EXPECT_EQ(b.size, n == 200 ? 257u : 256u);
        EXPECT_EQ(b.transSize, n == 200 ? 999u : 128u) << "not filled when too many";
    }
}
