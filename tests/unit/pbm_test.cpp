// Bitmap readers: header, plain and raw rows, packed rows, whole images, raster check.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "anymaptest.h"

using ::testing::ExitedWithCode;

namespace {
// The rows of a bitmap raster read with pbm_readpbmrow, after a header read by pbm_readpbminit.
std::vector<int> bitsOf(const std::string& image) {
    FILE* f = tmpFileWith(image);
    int cols, rows, format;
    pbm_readpbminit(f, &cols, &rows, &format);
    std::vector<int> out;
    std::vector<bit> row(size_t(cols) + 1);
    for (int r = 0; r < rows; ++r) {
        pbm_readpbmrow(f, row.data(), cols, format);
        out.insert(out.end(), row.begin(), row.begin() + cols);
    }
    out.push_back(std::getc(f)); // what follows the raster: EOF unless the test put more
    std::fclose(f);
    return out;
}
} // namespace

TEST(BitmapHeader, RefusesEveryOtherMagicNumber) {
    for (const char* magic : {"P2", "P3", "P5", "P6", "P7", "Q1"}) {
        SCOPED_TRACE(magic);
        EXPECT_EXIT(bitsOf(std::string(magic) + " 1 1\n"), ExitedWithCode(1),
                    "bad magic number - not a pbm file");
    }
}

TEST(PlainBitmap, SeparatorsAndCommentsAreOptional) {
    const std::vector<int> expected = {1, 0, 1, 0, 1, 1, EOF};
    for (const char* raster :
         {"1 0 1\n0 1 1\n", "101011\n", "1\t0#c 2\n1\r\n0#\r11 ", "10\n# comment\n1011\n"}) {
        SCOPED_TRACE(raster);
        std::string image = std::string("P1\n3 2\n") + raster;
        image.pop_back(); // the raster needs no byte after its last bit
        EXPECT_EQ(bitsOf(image), expected);
    }
}

TEST(PlainBitmap, JunkAndEndOfFile) {
    EXPECT_EXIT(bitsOf("P1 3 1\n1 2 1\n"), ExitedWithCode(1), "junk in file where bits should be");
    EXPECT_EXIT(bitsOf("P1 3 1\n1 \xb1 1\n"), ExitedWithCode(1),
                "junk in file where bits should be");
    EXPECT_EXIT(bitsOf("P1 3 1\n1 0"), ExitedWithCode(1), "EOF / read error reading a byte");
    EXPECT_EXIT(bitsOf("P1 3 1\n1 0 # no end"), ExitedWithCode(1),
                "EOF / read error reading a byte");
}

TEST(RawBitmap, PaddingBitsAreIgnoredAndEachRowStartsOnAByte) {
    // 10 columns: two bytes per row, the low six bits of the second byte are padding.
    const std::vector<int> expected = {1, 0, 1, 0, 1, 0, 1, 0, 1, 1, // 0xaa 0xff
                                       0, 0, 0, 0, 0, 0, 0, 0, 0, 1, // 0x00 0x7f
                                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, EOF};
    EXPECT_EQ(bitsOf(std::string("P4\n10 3\n\xaa\xff\x00\x7f\x00\x00", 14)), expected);
}

TEST(RawBitmap, ZeroColumnsConsumeNothing) {
    EXPECT_EQ(bitsOf("P4\n0 5\nZ"), std::vector<int>{'Z'});
}

TEST(RawBitmap, OneSeparatorByteBeforeTheRaster) {
    // CR ends the header and LF (0x0a = 00001010) is raster; a comment right after the last
    // number goes with it; a space before a comment leaves '#' (0x23 = 00100011) as raster.
    EXPECT_EQ(bitsOf("P4\n8 1\r\n"), (std::vector<int>{0, 0, 0, 0, 1, 0, 1, 0, EOF}));
    EXPECT_EQ(bitsOf("P4\n8 1#c\n\x01"), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 1, EOF}));
    EXPECT_EQ(bitsOf("P4\n8 1 #"), (std::vector<int>{0, 0, 1, 0, 0, 0, 1, 1, EOF}));
}

TEST(RawBitmap, TruncatedRow) {
    EXPECT_EXIT(bitsOf("P4\n10 2\n\x01\x02\x03"), ExitedWithCode(1),
                "EOF / read error reading a one-byte sample");
}

TEST(BitmapRows, UnknownFormatCantHappen) {
    bit row[1];
    unsigned char packed[1] = {0};
    FILE* f = tmpFileWith("1");
    EXPECT_EXIT(pbm_readpbmrow(f, row, 1, RAW_PGM), ExitedWithCode(1), "can't happen");
    EXPECT_EXIT(pbm_readpbmrow_packed(f, packed, 1, PLAIN_PGM), ExitedWithCode(1),
                "Internal error in pbm_readpbmrow_packed\\.");
    std::fclose(f);
}

TEST(PackedBitmapRows, PlainBitsAreOredRawBytesCopiedAsTheyStand) {
    unsigned char packed[2] = {0, 0};
    FILE* f = tmpFileWith("1 0 1 1 0 0 0 0 0 1\n");
    pbm_readpbmrow_packed(f, packed, 10, PLAIN_PBM);
    EXPECT_EQ(packed[0], 0xb0);
    EXPECT_EQ(packed[1], 0x40);
    std::fclose(f);

    f = tmpFileWith("\xaa\xff");
    pbm_readpbmrow_packed(f, packed, 10, RAW_PBM);
    EXPECT_EQ(packed[0], 0xaa);
    EXPECT_EQ(packed[1], 0xff); // padding included
    std::fclose(f);
}

TEST(PackedBitmapRows, ShortReadMessages) {
    unsigned char packed[2];
    FILE* empty = tmpFileWith("");
    EXPECT_EXIT(pbm_readpbmrow_packed(empty, packed, 10, RAW_PBM), ExitedWithCode(1),
                "Attempt to read a raw PBM image row, but no more rows left in file\\.");
    std::fclose(empty);
    FILE* half = tmpFileWith("\x01");
    EXPECT_EXIT(pbm_readpbmrow_packed(half, packed, 10, RAW_PBM), ExitedWithCode(1),
                "EOF in the middle of a raw PBM row\\.");
    std::fclose(half);
    FILE* writeOnly = std::fopen("/dev/null", "w");
    EXPECT_EXIT(pbm_readpbmrow_packed(writeOnly, packed, 10, RAW_PBM), ExitedWithCode(1),
                "I/O error reading raw PBM row");
    std::fclose(writeOnly);
}

TEST(WholeBitmap, ReadsEveryRow) {
    FILE* f = tmpFileWith("P1 2 2 10 01 ");
    int cols, rows;
    bit** bits = pbm_readpbm(f, &cols, &rows);
    EXPECT_EQ(cols, 2);
    EXPECT_EQ(rows, 2);
    EXPECT_EQ((std::vector<int>{bits[0][0], bits[0][1], bits[1][0], bits[1][1]}),
              (std::vector<int>{1, 0, 0, 1}));
    pm_freearray(reinterpret_cast<char**>(bits), rows);
    std::fclose(f);
}
