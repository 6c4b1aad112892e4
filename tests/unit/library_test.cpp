// Library behaviour the converter never calls: the writers, promotion in every direction, byte
// order, raster checks, file positions, packed bitmap rows, colour rows and histograms in memory,
// the reverse colour-name lookup, loading the whole dictionary, YCbCr and the bounded formatter.
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <gtest/gtest.h>

#include "harness.h"
#include "pixmill.h"

namespace {
// pm_error: the message on standard error and status 1.
#define EXPECT_FATAL(statement, regex) EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), regex)

// What f writes to the stream it is given.
template <typename F> std::string written(F f) {
    char* bytes = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&bytes, &size);
    f(out);
    std::fclose(out);
    std::string s(bytes, size);
    std::free(bytes);
    return s;
}

// Pixels as "r.g.b" joined by blanks; a gray xel (r = g = 0) as its value.
std::string str(const pixel* row, size_t n) {
    std::string s;
    for (const pixel* p = row; p < row + n; ++p) {
        const std::string rg =
            p->r || p->g ? std::to_string(p->r) + "." + std::to_string(p->g) + "." : "";
        s += (p > row ? " " : "") + rg + std::to_string(p->b);
    }
    return s;
}

// An image written by the library and read back whole by the anymap reader: "P6 255:" and the
// pixels.
std::string roundTrip(const std::string& bytes) {
    FILE* f = tmpFileWith(bytes);
    int cols, rows, format;
    pixval maxval;
    xel** xels = pnm_readpnm(f, &cols, &rows, &maxval, &format);
    std::string s = {'P', char(format & 255), ' '};
    s += std::to_string(maxval) + ":";
    for (int r = 0; r < rows; ++r) s += " " + str(xels[r], size_t(cols));
    pm_freearray(reinterpret_cast<char**>(xels), rows);
    std::fclose(f);
    return s;
}
std::string fmt(const char* format, ...) {
    char buf[64];
    va_list ap;
    va_start(ap, format);
    const int n = vsnprintfN(buf, sizeof buf, format, ap);
    va_end(ap);
    return std::to_string(n) + ":" + buf;
}

class Dictionary : public ::testing::Test {
protected:
    void SetUp() override { setenv("RGBDEF", testDataPath("rgb.txt").c_str(), 1); }
};
} // namespace

TEST(Writers, HeadersRawWidthsAndPlainLines) {
    pixel row[7];
    gray grays[18];
    for (unsigned i = 0; i < 18; ++i)
        grays[i] = i * 1000, row[i % 7] = pixel{i % 7, 10 * (i % 7), 100 * (i % 7)};
    EXPECT_EQ(written([&](FILE* f) { ppm_writeppm(f, nullptr, 3, 0, 255, 0); }), "P6\n3 0\n255\n");
    EXPECT_EQ(written([&](FILE* f) { pgm_writepgminit(f, 2, 1, 70000, 1); }), "P2\n2 1\n70000\n");
    EXPECT_EQ(written([&](FILE* f) { ppm_writeppmrow(f, row + 2, 1, 256, 0); }),
              std::string("\0\x02\0\x14\0\xc8", 6));
    EXPECT_EQ(written([&](FILE* f) { pgm_writepgmrow(f, grays + 1, 1, 70000, 0); }), "1000\n");
    // Plain lines hold six pixels or seventeen samples.
    EXPECT_EQ(written([&](FILE* f) { ppm_writeppmrow(f, row, 7, 700, 1); }),
              "0 0 0  1 10 100  2 20 200  3 30 300  4 40 400  5 50 500\n6 60 600\n");
    EXPECT_EQ(written([&](FILE* f) { pgm_writepgmrow(f, grays, 18, 65535, 1); }),
              "0 1000 2000 3000 4000 5000 6000 7000 8000 9000 10000 11000 12000 13000 14000 15000 "
              "16000\n17000\n");
    EXPECT_FATAL(ppm_writeppminit(stdout, 1, 1, 65536, 0),
                 "too-large maxval passed to ppm_writeppminit\\(\\): 65536");
    FILE* readOnly = std::fopen("/dev/null", "r");
    EXPECT_FATAL(pgm_writerawsample(readOnly, 1, 256), "Error writing double byte sample to file");
    std::fclose(readOnly);
}

TEST(Writers, WhatTheyWriteTheReadersReadBack) {
    for (const auto& [plain, maxval] :
         {std::pair{0, 1u}, {0, 255u}, {0, 256u}, {0, 65535u}, {1, 255u}, {1, 65535u}}) {
        pixel pixels[27];
        gray grays[27];
        std::string wantColour = (plain ? "P3 " : "P6 ") + std::to_string(maxval) + ":";
        std::string wantGray = (plain ? "P2 " : "P5 ") + std::to_string(maxval) + ":";
        for (unsigned i = 0; i < 27; ++i) {
            pixels[i] = pixel{(i * 37) % (maxval + 1), (i * 11 + 1) % (maxval + 1),
                              maxval - i % (maxval + 1)};
            grays[i] = (i * 4099) % (maxval + 1);
            wantColour += " " + str(pixels + i, 1);
            wantGray += " " + std::to_string(grays[i]);
        }
        pixel* pixelRows[] = {pixels, pixels + 9, pixels + 18};
        gray* grayRows[] = {grays, grays + 9, grays + 18};
        EXPECT_EQ(
            roundTrip(written([&](FILE* f) { ppm_writeppm(f, pixelRows, 9, 3, maxval, plain); })),
            wantColour);
        EXPECT_EQ(
            roundTrip(written([&](FILE* f) { pgm_writepgm(f, grayRows, 9, 3, maxval, plain); })),
            wantGray);
    }
}

TEST(Promotion, GrayTruncatesColourRoundsBitmapsBecomeFullScale) {
    // clang-format off
    const struct { int format; pixval maxval; int newformat; pixval newmaxval; pixel in; const char* out; } table[] = {
        {PLAIN_PBM, 1, PLAIN_PPM, 9, {0, 0, 1}, "9.9.9"},        {RAW_PBM, 7, RAW_PGM, 5, {0, 0, 3}, "5"},
        {PLAIN_PGM, 100, PLAIN_PPM, 255, {0, 0, 1}, "2.2.2"},    {PLAIN_PGM, 100, RAW_PGM, 255, {0, 0, 99}, "252"},
        {PLAIN_PGM, 255, PLAIN_PPM, 255, {0, 0, 7}, "7.7.7"},    {PLAIN_PPM, 100, RAW_PPM, 255, {1, 99, 2}, "3.252.5"},
        {PLAIN_PPM, 9, PLAIN_PPM, 9, {5, 6, 7}, "5.6.7"}};
    // clang-format on
    for (auto c : table) {
        pnm_promoteformatrow(&c.in, 1, c.maxval, c.format, c.newmaxval, c.newformat);
        EXPECT_EQ(str(&c.in, 1), c.out);
    }
    xel x{1, 2, 3};
    EXPECT_FATAL(pnm_promoteformatrow(&x, 1, 255, PLAIN_PGM, 254, PLAIN_PPM),
                 "can't decrease maxval");
}

TEST(ByteOrder, ShortsAndLongsBothWays) {
    const std::string bytes = written([](FILE* f) {
        pm_writebigshort(f, 0x1234), pm_writelittleshort(f, 0x1234);
        pm_writebiglong(f, 0x12345678), pm_writelittlelong(f, -2);
    });
    EXPECT_EQ(bytes, std::string("\x12\x34\x34\x12\x12\x34\x56\x78\xfe\xff\xff\xff", 12));
    FILE* f = tmpFileWith(bytes + "\x01");
    short s[2];
    long l[2];
    int status = pm_readbigshort(f, &s[0]);
    status |= pm_readlittleshort(f, &s[1]);
    status |= pm_readbiglong(f, &l[0]);
    status |= pm_readlittlelong(f, &l[1]);
    EXPECT_EQ(std::to_string(status) + " " + std::to_string(s[0]) + " " + std::to_string(s[1]) +
                  " " + std::to_string(l[0]) + " " + std::to_string(l[1]),
              "0 4660 4660 305419896 -2");
    // The last read finds one byte of two and fails.
    EXPECT_EQ(pm_readbigshort(f, &s[0]), -1);
    std::fclose(f);
}

TEST(Files, RasterChecksPositionsAndPackedRows) {
    FILE* f = tmpFileWith("P5\n2 2\n255\nabcde");
    int cols, rows, format, result;
    gray maxval;
    pgm_readpgminit(f, &cols, &rows, &maxval, &format);
    pgm_check(f, PM_CHECK_BASIC, format, cols, rows, maxval, &result);
    EXPECT_EQ(result, PM_CHECK_TOO_LONG);
    EXPECT_FATAL(pm_check(f, PM_CHECK_BASIC, 6, nullptr),
                 "The raster should contain 6 bytes, but\nthe file ends after only 5 bytes");
    long long position;
    pm_tell2(f, &position, sizeof position);
    EXPECT_EQ(pm_tell(f), 11);
    std::fseek(f, 0, SEEK_END);
    pm_seek2(f, &position, sizeof position);
    EXPECT_EQ(std::fgetc(f), 'a');
    EXPECT_FATAL(
        pm_tell2(f, &position, 2),
        "File position size passed to pm_tell\\(\\) is invalid: 2.  Valid sizes are 4 and 8");
    std::fclose(f);
    unsigned char packed[2] = {0, 0}; // plain bits into a row of bytes, first bit highest
    f = tmpFileWith("1 0 0 1 0 0 0 0 1 1");
    pbm_readpbmrow_packed(f, packed, 10, PLAIN_PBM);
    EXPECT_EQ(packed[0] << 8 | packed[1], 0x90c0);
    std::fclose(f);
}

TEST(Sizes, ProductsThatOverflowAllocateNothing) {
    void* p = &p;
    mallocProduct(&p, size_t(1) << 63, 2);
    EXPECT_EQ(p, nullptr);
    mallocProduct(&p, 0, 8); // a size of 0 is still a block
    EXPECT_NE(p, nullptr);
    std::free(p);
    EXPECT_EQ(pm_lcm(4, 6, 10, 1000) * 10000 + pm_lcm(7, 11, 13, 1000), 601000u);
}

TEST(ColorRows, FirstAppearanceOrderClosestTiesAndSorting) {
    pixel row0[] = {{1, 2, 3}, {4, 5, 6}}, row1[] = {{1, 2, 3}, {0, 0, 9}};
    pixel* rows[] = {row0, row1};
    int n;
    pixel* colours = ppm_computecolorrow(rows, 2, 2, 3, &n);
    EXPECT_EQ(str(colours, size_t(n)), "1.2.3 4.5.6 9");
    pixel extra{7, 7, 7};
    EXPECT_EQ(ppm_addtocolorrow(colours, &n, 3, &row0[1]), 1);
    EXPECT_EQ(ppm_addtocolorrow(colours, &n, 3, &extra), -1);
    ppm_sortcolorrow(colours, n, nullptr);
    EXPECT_EQ(str(colours, size_t(n)), "9 1.2.3 4.5.6");
    pm_freerow(colours);
    EXPECT_EQ(ppm_computecolorrow(rows, 2, 2, 2, &n), nullptr);
    EXPECT_EQ(n, -1);

    const pixel map[] = {{0, 0, 0}, {2, 2, 2}, {65535, 65535, 65535}}, between{1, 1, 1},
                light{40000, 40000, 40000};
    EXPECT_EQ(ppm_findclosestcolor(map, 3, &between), 0); // a tie goes to the lower index
    EXPECT_EQ(ppm_findclosestcolor(map, 3, &light), 2);
    EXPECT_EQ(ppm_findclosestcolor(map, 0, &light), -1);
}

TEST(ColorHist, UnlimitedCountingKeepsTheChainOrder) {
    // (0,0,0) and (1,139,0) share a hash chain, whose newest entry comes first.
    pixel row[] = {{0, 0, 0}, {1, 139, 0}, {0, 0, 0}};
    pixel* rows[] = {row};
    int n;
    color_hist hist = ppm_computecolorhist(rows, 3, 1, 0, &n);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(str(&hist[0].color, 1) + "x" + std::to_string(hist[0].value) + " " +
                  str(&hist[1].color, 1) + "x" + std::to_string(hist[1].value),
              "1.139.0x1 0x2");
    ppm_freecolorhist(hist);
}

TEST_F(Dictionary, ReverseLookupAndWholeLoad) {
    // clang-format off
    const struct { pixel color; pixval maxval; int hexOk; const char* name; } names[] = {
        {{10, 20, 30}, 255, 1, "test navy"}, {{11, 20, 30}, 255, 1, "#0b141e"}, {{11, 20, 30}, 255, 0, "test navy"},
        {{2570, 5140, 7710}, 65535, 1, "test navy"}, {{50, 50, 50}, 100, 1, "#7f7f7f"}, {{50, 50, 50}, 100, 0, "gray"}};
    // clang-format on
    for (const auto& c : names) EXPECT_STREQ(ppm_colorname(&c.color, c.maxval, c.hexOk), c.name);

    color_hash cht;
    const char** table;
    ppm_readcolornamefile(nullptr, 1, &cht, &table);
    const pixel mid{128, 128, 128}, white{255, 255, 255};
    EXPECT_STREQ(table[ppm_lookupcolor(cht, &mid)], "gray"); // the first name of a colour
    EXPECT_STREQ(table[ppm_lookupcolor(cht, &white)], "white");
    EXPECT_EQ(table[7], nullptr);
    ppm_freecolornames(table);
    ppm_freecolorhash(cht);

    const pixel a = color_from_ycbcr(100, 10, 20), b = color_from_ycbcr(0, -100, -100);
    EXPECT_EQ(str(&a, 1) + " " + str(&b, 1), "128.82.117 0.106.0");
}

TEST(Formatter, ConversionsTruncationAndFullLength) {
    const std::pair<std::string, std::string> cases[] = {
        {fmt("%+d|% d|%-4d|%4d|%04d", 5, 5, 7, -7, -7), "20:+5| 5|7   |  -7|-007"},
        {fmt("[%04.2d][%.0d][%.3d]", 7, 0, -7), "14:[  07][][-007]"},
        {fmt("%#x|%#X|%#x|%#06x|%#o|%#o", 255u, 255u, 0u, 10u, 8u, 0u),
         "24:0xff|0XFF|0|0x000a|010|0"},
        {fmt("%hd|%ld|%llx|%lu", 65537, -5000000000L, 0x123456789aULL, 5000000000UL),
         "35:1|-5000000000|123456789a|5000000000"},
        {fmt("[%*d][%.*d][%*.*s]", -4, 7, 3, 7, 5, 2, "abcdef"), "18:[7   ][007][   ab]"},
        {fmt("%c%3c|%s|%.2s|%5%|%f%d", 'A', 'b', static_cast<const char*>(nullptr), "abc", 9),
         "17:A  b||ab|    %|f9"},
        {fmt("%s", std::string(100, 'x').c_str()), "100:" + std::string(63, 'x')},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
    char* s;
    EXPECT_EQ(asprintfN(&s, "%s-%d", "ab", 12), 5);
    EXPECT_STREQ(s, "ab-12");
    strfree(s);
    EXPECT_EQ(asnprintfN(&s, 3, "hello"), 5);
    EXPECT_STREQ(s, "he");
    strfree(s);
    EXPECT_DEATH(asprintfN(&s, "%*d%*d", INT_MAX, 1, INT_MAX, 1),
                 "nstring:[0-9]+: failed assertion `str_l >= 0'");
    char text[] = "a,,b;c";
    char* pos = text;
    std::string tokens;
    while (pos) tokens += std::string(strsepN(&pos, ",;")) + "|";
    EXPECT_EQ(tokens, "a||b|c|");
}
