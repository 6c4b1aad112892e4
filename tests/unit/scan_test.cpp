// Magic numbers, header integers with comments, raw samples and maxval/bit conversions.
#include <gtest/gtest.h>

#include "pixmill.h"
#include "testutil.h"

namespace {
unsigned getuintOf(const std::string& bytes) {
    FILE* f = tmpFileWith(bytes);
    const unsigned v = pm_getuint(f);
    std::fclose(f);
    return v;
}

// Reads two integers in a row, to see what the first one consumed.
std::pair<unsigned, unsigned> twoUintsOf(const std::string& bytes) {
    FILE* f = tmpFileWith(bytes);
    const unsigned a = pm_getuint(f);
    const unsigned b = pm_getuint(f);
    std::fclose(f);
    return {a, b};
}

int magicOf(const std::string& bytes) {
    FILE* f = tmpFileWith(bytes);
    const int m = pm_readmagicnumber(f);
    std::fclose(f);
    return m;
}
} // namespace

TEST(HeaderIntegers, LimitIsTenTimes214748364) {
    EXPECT_EQ(getuintOf("2147483640 "), 2147483640u);
    EXPECT_EXIT(getuintOf("2147483641 "), ::testing::ExitedWithCode(1),
                "ASCII decimal integer in file is too large to be processed.  \n");
    // Still below INT_MAX, but the last step passes the limit.
    EXPECT_EXIT(getuintOf("2147483647 "), ::testing::ExitedWithCode(1), "too large");
    EXPECT_EXIT(getuintOf("2147483639 "), ::testing::ExitedWithCode(1), "too large");
}

TEST(HeaderIntegers, LeadingZerosDoNotCount) { EXPECT_EQ(getuintOf("0000000000005 "), 5u); }

TEST(HeaderIntegers, WhiteSpaceAndCommentsBeforeANumber) {
    EXPECT_EQ(getuintOf(" \t\r\n# a comment\n  42\n"), 42u);
    EXPECT_EQ(getuintOf("#c1\r#c2\n7 "), 7u);
}

TEST(HeaderIntegers, CommentEndsANumber) {
    EXPECT_EQ(twoUintsOf("3#x\n2 "), std::make_pair(3u, 2u));
}

TEST(HeaderIntegers, AnyNonDigitEndsANumberAndIsConsumed) {
    EXPECT_EQ(twoUintsOf("12x3 "), std::make_pair(12u, 3u));
}

TEST(HeaderIntegers, JunkIsRefused) {
    for (const char* junk : {"+1 ", "-1 ", "\f1 ", "\v1 ", "x ", "\xff "}) {
        SCOPED_TRACE(junk);
        EXPECT_EXIT(getuintOf(junk), ::testing::ExitedWithCode(1),
                    "junk in file where an unsigned integer should be");
    }
}

TEST(HeaderIntegers, EndOfFileRightAfterTheDigits) {
    EXPECT_EXIT(getuintOf("12"), ::testing::ExitedWithCode(1), "EOF / read error reading a byte");
    EXPECT_EXIT(getuintOf("  "), ::testing::ExitedWithCode(1), "EOF / read error reading a byte");
    EXPECT_EXIT(getuintOf("1#comment without end"), ::testing::ExitedWithCode(1),
                "EOF / read error reading a byte");
}

TEST(CharacterReader, CommentComesBackAsItsLineEnd) {
    FILE* f = tmpFileWith("#abc\rX#\nY");
    EXPECT_EQ(pm_getc(f), '\r');
    EXPECT_EQ(pm_getc(f), 'X');
    EXPECT_EQ(pm_getc(f), '\n');
    EXPECT_EQ(pm_getc(f), 'Y');
    std::fclose(f);
}

TEST(MagicNumber, CodesAreFirstByteTimes256PlusSecond) {
    EXPECT_EQ(magicOf("P1"), PLAIN_PBM);
    EXPECT_EQ(magicOf("P6\n"), RAW_PPM);
    EXPECT_EQ(magicOf("P7"), 0x5037);
    EXPECT_EQ(PNM_FORMAT_TYPE(magicOf("P7")), -1);
    EXPECT_EQ(PNM_FORMAT_TYPE(magicOf("P5")), PLAIN_PGM);
    // No white space is skipped before the magic number.
    EXPECT_EQ(magicOf(" P5"), ' ' * 256 + 'P');
}

TEST(MagicNumber, ShortInputIsRefused) {
    for (const char* input : {"", "P"}) {
        SCOPED_TRACE(input);
        EXPECT_EXIT(magicOf(input), ::testing::ExitedWithCode(1),
                    "Error reading magic number from Pixmill image stream.  Most often, this "
                    "means your input file is empty.");
    }
}

TEST(RawSamples, OneOrTwoBytesByMaxval) {
    FILE* f = tmpFileWith("\x01\x02\x01\x02\xff");
    EXPECT_EQ(pgm_getrawsample(f, 256), 258u);
    EXPECT_EQ(pgm_getrawsample(f, 255), 1u);
    EXPECT_EQ(pgm_getrawsample(f, 255), 2u);
    // The byte 0xff is data, not end of file.
    EXPECT_EQ(pm_getrawbyte(f), 255u);
    EXPECT_EXIT(pm_getrawbyte(f), ::testing::ExitedWithCode(1),
                "EOF / read error reading a one-byte sample");
    std::fclose(f);
}

TEST(RawSamples, SampleAboveMaxvalPassesThrough) {
    FILE* f = tmpFileWith("\x03\xe8");
    EXPECT_EQ(pgm_getrawsample(f, 300), 1000u);
    std::fclose(f);
}

TEST(RawSamples, OddByteOfATwoByteSample) {
    FILE* f = tmpFileWith("\x03");
    EXPECT_EXIT(pgm_getrawsample(f, 65535), ::testing::ExitedWithCode(1),
                "EOF /read error while reading a long sample");
    std::fclose(f);
}

TEST(MaxvalBits, Conversions) {
    const std::pair<int, int> table[] = {{-5, 1},  {0, 1},      {1, 1},      {2, 2},     {3, 2},
                                         {4, 3},   {15, 4},     {16, 5},     {100, 7},   {255, 8},
                                         {256, 9}, {32767, 15}, {32768, 16}, {65535, 16}};
    for (auto [maxval, bits] : table) EXPECT_EQ(pm_maxvaltobits(maxval), bits) << maxval;
    EXPECT_EXIT(pm_maxvaltobits(65536), ::testing::ExitedWithCode(1),
                "maxval of 65536 is too large!");
    EXPECT_EQ(pm_bitstomaxval(1), 1);
    EXPECT_EQ(pm_bitstomaxval(8), 255);
    EXPECT_EQ(pm_bitstomaxval(16), 65535);
}

TEST(LeastCommonMultiple, BoundedByLimit) {
    EXPECT_EQ(pm_lcm(2, 3, 4, 100), 12u);
    EXPECT_EQ(pm_lcm(2, 3, 4, 10), 10u);
    EXPECT_EQ(pm_lcm(7, 7, 7, 5), 5u);
    EXPECT_EQ(pm_lcm(65535, 65534, 65533, 0xffffffffu), 0xffffffffu);
    EXPECT_EXIT(pm_lcm(0, 3, 4, 10), ::testing::ExitedWithCode(1),
                "pm_lcm\\(\\): Least common multiple of zero taken.");
}
