// Bitmap readers: header, plain and raw rows, packed rows and whole images.
#include <string>
#include <vector>

#include "unitutil.h"

namespace {
// The rows of a bitmap raster read with pbm_readpbmrow as a string of bits, then what follows
// the raster: "." for end of file, else the next byte.
std::string bitsOf(const std::string& image) {
    TmpFile f(image);
    int cols, rows, format;
    pbm_readpbminit(f, &cols, &rows, &format);
    std::string out;
    std::vector<bit> row(size_t(cols) + 1);
    for (int r = 0; r < rows; ++r) {
        pbm_readpbmrow(f, row.data(), cols, format);
        for (int c = 0; c < cols; ++c) out += char('0' + row[size_t(c)]);
        out += " ";
    }
    const int next = std::getc(f);
    return out + (next == EOF ? '.' : char(next));
}
} // namespace

TEST(Bitmap, RowsOfEachForm) {
    const std::pair<std::string, const char*> cases[] = {
        // Plain: separators and comments are optional; no byte needed after the last bit.
        {"P1\n3 2\n1 0 1\n0 1 1", "101 011 ."},
        {"P1\n3 2\n101011", "101 011 ."},
        {"P1\n3 2\n1\t0#c 2\n1\r\n0#\r11", "101 011 ."},
        {"P1\n3 2\n10\n# comment\n1011", "101 011 ."},
        // Raw: 10 columns, two bytes per row, the low six bits of the second byte are padding.
        {std::string("P4\n10 3\n\xaa\xff\x00\x7f\x00\x00", 14),
         "1010101011 0000000001 0000000000 ."},
        {"P4\n0 5\nZ", "     Z"}, // zero columns consume nothing
        // One separator byte before the raster: CR ends the header and LF (00001010) is
        // raster; a comment right after the last number goes with it; a space before a comment
        // leaves '#' (00100011) as raster.
        {"P4\n8 1\r\n", "00001010 ."},
        {"P4\n8 1#c\n\x01", "00000001 ."},
        {"P4\n8 1 #", "00100011 ."},
    };
    for (const auto& [image, bits] : cases) EXPECT_EQ(bitsOf(image), bits) << image;

    TmpFile f("P1 2 2 10 01 ");
    int cols, rows;
    bit** whole = pbm_readpbm(f, &cols, &rows);
    EXPECT_EQ((std::vector<int>{cols, rows, whole[0][0], whole[0][1], whole[1][0], whole[1][1]}),
              (std::vector<int>{2, 2, 1, 0, 0, 1}));
    pm_freearray(reinterpret_cast<char**>(whole), rows);
}

TEST(Bitmap, RefusalsAndTruncation) {
    for (const char* magic : {"P2", "P3", "P5", "P6", "P7", "Q1"})
        EXPECT_FATAL(bitsOf(std::string(magic) + " 1 1\n"), "bad magic number - not a pbm file");
    const std::pair<const char*, const char*> cases[] = {
        {"P1 3 1\n1 2 1\n", "junk in file where bits should be"},
        {"P1 3 1\n1 \xb1 1\n", "junk in file where bits should be"},
        {"P1 3 1\n1 0", "EOF / read error reading a byte"},
        {"P1 3 1\n1 0 # no end", "EOF / read error reading a byte"},
        {"P4\n10 2\n\x01\x02\x03", "EOF / read error reading a one-byte sample"},
    };
    for (const auto& [image, message] : cases) EXPECT_FATAL(bitsOf(image), message);
    bit row[1];
    unsigned char packed[1] = {0};
    EXPECT_FATAL(pbm_readpbmrow(TmpFile("1"), row, 1, RAW_PGM), "can't happen");
    EXPECT_FATAL(pbm_readpbmrow_packed(TmpFile("1"), packed, 1, PLAIN_PGM),
                 "Internal error in pbm_readpbmrow_packed\\.");
}

TEST(PackedBitmapRows, PlainBitsAreOredRawBytesCopiedAsTheyStand) {
    unsigned char packed[2] = {0, 0};
    pbm_readpbmrow_packed(TmpFile("1 0 1 1 0 0 0 0 0 1\n"), packed, 10, PLAIN_PBM);
    EXPECT_EQ(packed[0], 0xb0);
    EXPECT_EQ(packed[1], 0x40);
    pbm_readpbmrow_packed(TmpFile("\xaa\xff"), packed, 10, RAW_PBM);
    EXPECT_EQ(packed[0], 0xaa);
    EXPECT_EQ(packed[1], 0xff); // padding included

    EXPECT_FATAL(pbm_readpbmrow_packed(TmpFile(""), packed, 10, RAW_PBM),
                 "Attempt to read a raw PBM image row, but no more rows left in file\\.");
    EXPECT_FATAL(pbm_readpbmrow_packed(TmpFile("\x01"), packed, 10, RAW_PBM),
                 "EOF in the middle of a raw PBM row\\.");
    FILE* writeOnly = std::fopen("/dev/null", "w");
    EXPECT_FATAL(pbm_readpbmrow_packed(writeOnly, packed, 10, RAW_PBM),
                 "I/O error reading raw PBM row");
    std::fclose(writeOnly);
}
