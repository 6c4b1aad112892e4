// Magic numbers, header integers with comments, raw samples and maxval/bit conversions.
#include <string>

#include "unitutil.h"

namespace {
unsigned getuintOf(const std::string& bytes) { return pm_getuint(TmpFile(bytes)); }

// Reads two integers in a row, to see what the first one consumed.
std::pair<unsigned, unsigned> twoUintsOf(const std::string& bytes) {
    TmpFile f(bytes);
    const unsigned a = pm_getuint(f);
    return {a, pm_getuint(f)};
}

int magicOf(const std::string& bytes) { return pm_readmagicnumber(TmpFile(bytes)); }
} // namespace

TEST(HeaderIntegers, LimitIsTenTimes214748364) {
    EXPECT_EQ(getuintOf("2147483640 "), 2147483640u);
    EXPECT_FATAL(getuintOf("2147483641 "),
                 "ASCII decimal integer in file is too large to be processed.  \n");
    // Still below INT_MAX, but the last step passes the limit.
    EXPECT_FATAL(getuintOf("2147483647 "), "too large");
    EXPECT_FATAL(getuintOf("2147483639 "), "too large");
    EXPECT_EQ(getuintOf("0000000000005 "), 5u) << "leading zeros do not count";
}

TEST(HeaderIntegers, WhiteSpaceCommentsAndWhatEndsANumber) {
    EXPECT_EQ(getuintOf(" \t\r\n# a comment\n  42\n"), 42u);
    EXPECT_EQ(getuintOf("#c1\r#c2\n7 "), 7u);
    // A comment ends a number, as does any other non-digit, which is consumed.
    EXPECT_EQ(twoUintsOf("3#x\n2 "), std::make_pair(3u, 2u));
    EXPECT_EQ(twoUintsOf("12x3 "), std::make_pair(12u, 3u));
    for (const char* junk : {"+1 ", "-1 ", "\f1 ", "\v1 ", "x ", "\xff "})
        EXPECT_FATAL(getuintOf(junk), "junk in file where an unsigned integer should be");
    for (const char* cut : {"12", "  ", "1#comment without end"})
        EXPECT_FATAL(getuintOf(cut), "EOF / read error reading a byte");
    // The character reader returns a comment as its line end.
    TmpFile f("#abc\rX#\nY");
    std::string chars;
    for (int i = 0; i < 4; ++i) chars += pm_getc(f);
    EXPECT_EQ(chars, "\rX\nY");
}

TEST(MagicNumber, CodesAreFirstByteTimes256PlusSecond) {
    EXPECT_EQ(magicOf("P1"), PLAIN_PBM);
    EXPECT_EQ(magicOf("P6\n"), RAW_PPM);
    EXPECT_EQ(magicOf("P7"), 0x5037);
    EXPECT_EQ(PNM_FORMAT_TYPE(magicOf("P7")), -1);
    EXPECT_EQ(PNM_FORMAT_TYPE(magicOf("P5")), PLAIN_PGM);
    EXPECT_EQ(magicOf(" P5"), ' ' * 256 + 'P') << "no white space is skipped";
    for (const char* input : {"", "P"})
        EXPECT_FATAL(magicOf(input), "Error reading magic number from Pixmill image stream.  "
                                     "Most often, this means your input file is empty.");
}

TEST(RawSamples, OneOrTwoBytesByMaxval) {
    TmpFile f("\x01\x02\x01\x02\xff\x03\xe8");
    EXPECT_EQ(pgm_getrawsample(f, 256), 258u);
    EXPECT_EQ(pgm_getrawsample(f, 255), 1u);
    EXPECT_EQ(pgm_getrawsample(f, 255), 2u);
    EXPECT_EQ(pm_getrawbyte(f), 255u) << "the byte 0xff is data, not end of file";
    EXPECT_EQ(pgm_getrawsample(f, 300), 1000u) << "a sample above maxval passes through";
    EXPECT_FATAL(pm_getrawbyte(f), "EOF / read error reading a one-byte sample");
    EXPECT_FATAL(pgm_getrawsample(TmpFile("\x03"), 65535),
                 "EOF /read error while reading a long sample");
}

TEST(MaxvalBits, ConversionsAndLeastCommonMultiple) {
    const std::pair<int, int> table[] = {{-5, 1},  {0, 1},      {1, 1},      {2, 2},     {3, 2},
                                         {4, 3},   {15, 4},     {16, 5},     {100, 7},   {255, 8},
                                         {256, 9}, {32767, 15}, {32768, 16}, {65535, 16}};
    for (auto [maxval, bits] : table) EXPECT_EQ(pm_maxvaltobits(maxval), bits) << maxval;
    EXPECT_FATAL(pm_maxvaltobits(65536), "maxval of 65536 is too large!");
    EXPECT_EQ(pm_bitstomaxval(1), 1);
    EXPECT_EQ(pm_bitstomaxval(8), 255);
    EXPECT_EQ(pm_bitstomaxval(16), 65535);

    // Bounded by the limit.
    EXPECT_EQ(pm_lcm(2, 3, 4, 100), 12u);
    EXPECT_EQ(pm_lcm(2, 3, 4, 10), 10u);
    EXPECT_EQ(pm_lcm(7, 7, 7, 5), 5u);
    EXPECT_EQ(pm_lcm(65535, 65534, 65533, 0xffffffffu), 0xffffffffu);
    EXPECT_FATAL(pm_lcm(0, 3, 4, 10), "pm_lcm\\(\\): Least common multiple of zero taken.");
}
