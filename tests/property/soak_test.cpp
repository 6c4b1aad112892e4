// The soak: thousands of random small valid images under random options, converted in this
// process, each PNG decoded by libpng and compared with the input pixel by pixel:
//   samples   (v * pngMaxval + maxval / 2) / maxval, and scaled back they give v again
//   palette   each entry at 8 bits by the same rule
//   alpha     float(a) * float(pngMaxval) / float(alphaMaxval) + 0.5 in a channel, the same rule
//             as samples for a palette's opacity, 0 or full for one clear colour
// and the form must be the smallest the rules allow: no RGB for an all-gray image, a palette for
// at most 256 colours (for gray, while the index needs at most half a sample's bits), 8 bits
// for 16-bit samples that only repeat their high byte. GRIDPACK_SOAK_COUNT and
// GRIDPACK_SOAK_SEED change the count (10,000) and the seed.
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <random>

#include "gridpack.h"
#include "harness.h"
#include "pngdecode.h"

namespace {

using Px = std::array<unsigned, 3>;

struct Case {
    std::string magic, maskMagic;
    int cols = 0, rows = 0;
    unsigned maxval = 1, alphaMaxval = 255;
    std::vector<Px> pixels;       // at maxval; a bitmap's white is 1
    std::vector<unsigned> alphas; // of -alpha
    std::vector<std::string> args;
    bool has(const char* option) const { return std::count(args.begin(), args.end(), option); }
};

unsigned ruleS(unsigned v, unsigned n, unsigned m) { return (v * n + m / 2) / m; }
bool bitmap(const std::string& magic) { return magic == "P1" || magic == "P4"; }

Case generate(std::mt19937& rng) {
    const auto pick = [&rng](unsigned n) { return unsigned(rng() % n); };
    static const unsigned maxvals[] = {1, 2, 3, 7, 15, 16, 100, 255, 256, 1000, 4095, 65535};
    Case c;
    c.magic = std::string("P") + char('1' + pick(6));
    c.cols = 1 + int(pick(9)), c.rows = 1 + int(pick(7));
    c.maxval = bitmap(c.magic) ? 1 : pick(4) == 0 ? 1 + pick(65535) : maxvals[pick(12)];
    // 0: any samples, 1: low bits repeating the high ones, 2: a few colours, 3: gray pixmap
    const unsigned mode = pick(4), repeat = c.maxval == 65535 ? 257 : c.maxval == 255 ? 17 : 1;
    const auto sample = [&] {
        return mode == 1 ? repeat * pick(c.maxval / repeat + 1) : pick(c.maxval + 1);
    };
    std::vector<Px> few(1 + pick(5));
    for (Px& p : few) p = {sample(), sample(), sample()};
    for (int i = 0; i < c.cols * c.rows; ++i) {
        Px p = mode == 2 ? few[pick(unsigned(few.size()))] : Px{sample(), sample(), sample()};
        if (mode == 3 || (c.magic != "P3" && c.magic != "P6")) p[1] = p[2] = p[0];
        c.pixels.push_back(p);
    }
    // Colours for -background and (gray, so that every image can have it) -transparent.
    char hex[8], grayHex[8];
    const unsigned level = pick(256);
    std::snprintf(hex, sizeof hex, "#%02x%02x%02x", pick(256), pick(256), pick(256));
    std::snprintf(grayHex, sizeof grayHex, "#%02x%02x%02x", level, level, level);
    for (const char* flag : {"-interlace", "-force", "-hist"})
        if (pick(4) == 0) c.args.push_back(flag);
    if (pick(3) == 0) c.args.insert(c.args.end(), {"-filter", std::to_string(pick(5))});
    if (pick(3) == 0) c.args.insert(c.args.end(), {"-compression", std::to_string(pick(10))});
    if (pick(4) == 0) c.args.insert(c.args.end(), {"-background", hex});
    if (pick(3) == 0) {
        static const unsigned alphaMaxvals[] = {1, 3, 100, 255, 65535};
        c.maskMagic = std::string("P") + "1245"[pick(4)];
        c.alphaMaxval = bitmap(c.maskMagic) ? 255 : alphaMaxvals[pick(5)]; // a bitmap reads 0/255
        const bool binary = bitmap(c.maskMagic) || pick(2);
        for (size_t i = 0; i < c.pixels.size(); ++i)
            c.alphas.push_back(binary ? (pick(3) ? c.alphaMaxval : 0) : pick(c.alphaMaxval + 1));
        c.args.insert(c.args.end(), {"-alpha", "mask"});
    } else if (pick(4) == 0) {
        c.args.insert(c.args.end(), {"-transparent", grayHex});
    }
    return c;
}

std::string image(const std::string& magic, int cols, int rows, unsigned maxval,
                  const std::vector<Px>& pixels) {
    std::vector<unsigned> s;
    for (const Px& p : pixels) {
        const unsigned px[] = {bitmap(magic) ? p[0] == 0 : p[0], p[1], p[2]};
        s.insert(s.end(), px, px + (magic == "P3" || magic == "P6" ? 3 : 1));
    }
    return pnmImage(magic, cols, rows, maxval, s);
}

// Through the real command-line scan, the files passed open, the PNG into memory.
std::string convert(const Case& c) {
    static std::vector<std::string> args; // the option settings point into it
    args = c.args;
    args.insert(args.begin(), "gridpack");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    const char* paletteFile;
    gridpack::parseOptions(int(argv.size()), argv.data(), &paletteFile);
    std::vector<Px> alphas;
    for (unsigned a : c.alphas) alphas.push_back({a, a, a});
    FILE* files[] = {tmpFileWith(image(c.magic, c.cols, c.rows, c.maxval, c.pixels)),
                     alphas.empty()
                         ? nullptr
                         : tmpFileWith(image(c.maskMagic, c.cols, c.rows, c.alphaMaxval, alphas))};
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    EXPECT_EQ(gridpack::convertpnmTo(files[0], files[1], nullptr, nullptr, out), 0);
    std::fclose(out);
    for (FILE* f : files)
        if (f) std::fclose(f);
    std::string png(buffer, size);
    std::free(buffer);
    return png;
}

void verify(const Case& c, const DecodedPng& png) {
    ASSERT_EQ(png.width * 1000 + png.height, unsigned(c.cols * 1000 + c.rows));
    const bool palette = png.colorType == 3, rgb = png.colorType == 2 || png.colorType == 6;
    const unsigned pngMax = palette ? 255 : (1u << png.depth) - 1;
    std::map<Px, unsigned> census;
    for (int y = 0; y < c.rows; ++y)
        for (int x = 0; x < c.cols; ++x) {
            const size_t i = size_t(y * c.cols + x);
            const std::array<unsigned, 4> p = png.pixel(unsigned(x), unsigned(y));
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(p[k], ruleS(c.pixels[i][k], pngMax, c.maxval))
                    << "pixel " << x << "," << y;
                ASSERT_EQ(ruleS(p[k], c.maxval, pngMax), c.pixels[i][k])
                    << "a sample lost information";
            }
            ++census[{p[0], p[1], p[2]}];
            const unsigned a = c.alphas.empty() ? c.alphaMaxval : c.alphas[i];
            const unsigned want =
                palette ? ruleS(a, 255, c.alphaMaxval)
                : png.colorType & 4
                    ? unsigned(double(float(a) * float(pngMax) / float(c.alphaMaxval)) + 0.5)
                : a ? pngMax
                    : 0;
            ASSERT_TRUE(p[3] == want || c.has("-transparent")) << "opacity of " << x << "," << y;
        }
    // -transparent always gives a tRNS chunk; without it or a mask, nothing is transparent.
    const bool opaque = png.trns.empty() && !(png.colorType & 4);
    ASSERT_TRUE(c.has("-transparent") ? !png.trns.empty() : c.alphas.empty() ? opaque : true);
    // The smallest faithful form.
    const bool allGray = std::all_of(c.pixels.begin(), c.pixels.end(),
                                     [](const Px& p) { return p[0] == p[1] && p[1] == p[2]; });
    const bool repeats = std::all_of(c.pixels.begin(), c.pixels.end(), [](const Px& p) {
        return p[0] % 257 + p[1] % 257 + p[2] % 257 == 0;
    });
    const int bits = int(std::ceil(std::log2(c.maxval + 1.0)));
    const double indexBits = std::max(1.0, std::ceil(std::log2(double(census.size()))));
    const bool free = !c.has("-force") && c.alphas.empty();
    ASSERT_FALSE(free && rgb && allGray) << "an all-gray image as RGB";
    ASSERT_FALSE(free && c.maxval <= 255 && !bitmap(c.magic) &&
                 palette != (census.size() <= 256 && (!allGray || indexBits <= bits / 2)))
        << census.size() << " colours";
    ASSERT_FALSE(!c.has("-force") && c.maxval == 65535 && (rgb || free) && repeats &&
                 png.depth > 8);
    for (size_t i = 0; i < png.palette.size() && c.has("-hist"); ++i) {
        const auto it = census.find(png.palette[i]);
        ASSERT_EQ(png.hist.at(i), it == census.end() ? 0 : std::min(it->second, 65535u));
    }
    ASSERT_EQ(png.chunks.count("bKGD") + (png.interlace != 0),
              c.has("-background") + c.has("-interlace"));
}

} // namespace

TEST(Soak, RandomImagesAndOptionsDecodeToTheirInputInTheSmallestForm) {
    const char* count = std::getenv("GRIDPACK_SOAK_COUNT");
    const char* seed = std::getenv("GRIDPACK_SOAK_SEED");
    std::mt19937 rng(seed ? unsigned(std::stoul(seed)) : 20261207u);
    for (long i = 0, n = count ? std::stol(count) : 10000; i < n && !HasFatalFailure(); ++i) {
        const Case c = generate(rng);
        std::string what = c.magic + " " + std::to_string(c.cols) + "x" + std::to_string(c.rows) +
                           " " + std::to_string(c.maxval) + " mask " + c.maskMagic;
        for (const std::string& a : c.args) what += " " + a;
        SCOPED_TRACE("case " + std::to_string(i) + ": " + what);
        DecodedPng png;
        ASSERT_NO_THROW(png = decodePng(convert(c)));
        verify(c, png);
    }
}
