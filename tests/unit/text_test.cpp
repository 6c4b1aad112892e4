// Library behaviour the converter never calls: colour rows and histograms in memory, the reverse
// colour-name lookup, loading the whole dictionary, YCbCr, and the bounded formatter.
#include <climits>
#include <cstdarg>

#include "unit.h"

namespace {
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
    const struct {
        pixel color;
        pixval maxval;
        int hexOk;
        const char* name;
    } names[] = {{{10, 20, 30}, 255, 1, "test navy"}, {{11, 20, 30}, 255, 1, "#0b141e"},
                 {{11, 20, 30}, 255, 0, "test navy"}, {{2570, 5140, 7710}, 65535, 1, "test navy"},
                 {{50, 50, 50}, 100, 1, "#7f7f7f"},   {{50, 50, 50}, 100, 0, "gray"}};
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
    TempDir dir;
    std::string many;
    for (int i = 0; i <= 1000; ++i)
        many += std::to_string(i % 256) + " " + std::to_string(i / 256) + " 0 c\n";
    EXPECT_FATAL(ppm_readcolornamefile(dir.write("many", many).c_str(), 1, &cht, &table),
                 "Too many colors in colorname dictionary.  Max allowed is 1000");

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
