// Graymap readers: header and maxval limit, plain and raw rows, bitmaps read as graymaps,
// truncation, samples above maxval, whole images from files and pipes.
#include <string>
#include <unistd.h>
#include <vector>

#include "unitutil.h"

namespace {
struct GrayImage {
    int cols, rows;
    gray maxval;
    std::vector<unsigned> samples;
};

GrayImage readGray(const std::string& bytes) {
    TmpFile f(bytes);
    GrayImage img;
    gray** grays = pgm_readpgm(f, &img.cols, &img.rows, &img.maxval);
    for (int row = 0; row < img.rows; ++row)
        img.samples.insert(img.samples.end(), grays[row], grays[row] + img.cols);
    pm_freearray(reinterpret_cast<char**>(grays), img.rows);
    return img;
}

using V = std::vector<unsigned>;
V graySamples(const std::string& bytes) { return readGray(bytes).samples; }
} // namespace

TEST(GraymapHeader, MagicAndMaxvalLimits) {
    for (const char* magic : {"P3", "P6", "P7", "P0", "PP"})
        EXPECT_FATAL(readGray(std::string(magic) + " 1 1 1\n0\n"),
                     "bad magic number - not a pgm or pbm file");
    EXPECT_EQ(readGray("P2\n# comment\n1 1\n65535\n65535\n").maxval, 65535u);
    EXPECT_EQ(readGray("P2 1 1 0\n0\n").maxval, 0u);
    EXPECT_FATAL(readGray("P5 1 1 65536\n"),
                 "maxval is too large\\.  The largest we can handle is 65535\\.");
    // A bitmap reads with maxval 255.
    const GrayImage img = readGray("P1 3 1 1 0 1 ");
    EXPECT_EQ(img.maxval, 255u);
    EXPECT_EQ(img.samples, (V{0, 255, 0}));
    EXPECT_EQ(graySamples(std::string("P4 3 1\n\x40", 8)), (V{255, 0, 255}));
}

TEST(GraymapRows, SamplesOfEachWidthAndForm) {
    const std::pair<std::string, V> cases[] = {
        {std::string("P5 2 1 255\n\x01\x02", 13), V{1, 2}},
        {std::string("P5 2 1 300\n\x01\x02\x00\xff", 15), V{258, 255}},
        {std::string("P5 2 1 65535\n\xff\xff\x00\x00", 17), V{65535, 0}},
        // One separator byte before the raster; a comment right after maxval goes with it.
        {"P5\n1 1\n255\r\n", V{'\n'}},
        {"P5\n1 1\n255#c\n\x07", V{7}},
        {"P5\n1 1\n255 #", V{'#'}},
        // Plain samples with comments and any terminator.
        {"P2 4 1 300 1#a\n22x300\r\n0 ", V{1, 22, 300, 0}},
        {"P2 2 1 100 100 0 ", V{100, 0}},
    };
    for (const auto& [image, samples] : cases) EXPECT_EQ(graySamples(image), samples) << image;
}

TEST(GraymapRows, TruncationAndSamplesAboveMaxval) {
    const std::pair<std::string, const char*> table[] = {
        {std::string("P5 2 1 255\n\x01", 12), "EOF / read error reading a one-byte sample"},
        {std::string("P5 2 1 65535\n\x00\x01\x02", 16),
         "EOF /read error while reading a long sample"},
        {std::string("P5 2 1 65535\n", 13), "EOF /read error while reading a long sample"},
        {"P2 2 1 255\n1 2", "EOF / read error reading a byte"},
        {"P2 2 1 255\n1 ", "EOF / read error reading a byte"},
        {"P2 2 1 255\n1 -2 ", "junk in file where an unsigned integer should be"},
        {"P2 3 1 100\n5 101 200\n", "sample value 101 is greater than maxval 100"},
        {std::string("P5 3 1 100\n\x05\x96\xc8", 14),
         "sample value 150 is greater than maxval 100"},
        {std::string("P5 2 1 300\n\x01\x2c\x03\xe8", 15),
         "sample value 1000 is greater than maxval 300"},
        {std::string("P5 1 1 0\n\x01", 10), "sample value 1 is greater than maxval 0"},
        // The row is one read, so its truncation is found before the sample above maxval in it.
        {std::string("P5 3 1 100\n\xc8\x01", 13), "EOF / read error reading a one-byte sample"},
        // Once a 16 GB row index, written before the first row failed (48 s, 16.7 GB
        // resident): the alarm turns such slowness into a failure.
        {std::string("P5\n1 2147483640\n255\n\x01", 21),
         "EOF / read error reading a one-byte sample"},
        {"P2\n3 2147483640\n255\n1 2 3 4 5", "EOF / read error reading a byte"},
    };
    for (const auto& [image, message] : table)
        EXPECT_FATAL(
            {
                alarm(10);
                readGray(image);
            },
            message);
    gray row[1];
    EXPECT_FATAL(pgm_readpgmrow(TmpFile("1 "), row, 1, 255, RAW_PPM), "can't happen");
}

TEST(GraymapImage, RasterAfterTheHeaderFromAFileOrAPipe) {
    const std::string image = pnmImage("P2", 2, 2, 9, {1, 2, 3, 9});
    TmpFile file(image);
    int cols, rows, format;
    gray maxval;
    pgm_readpgminit(file, &cols, &rows, &maxval, &format);
    gray** fromFile = pgm_readpgmraster(file, cols, rows, maxval, format);
    EXPECT_EQ(fromFile[1][1], 9u);
    EXPECT_NE(fromFile[2], nullptr) << "a file that holds the raster gets one block";
    pm_freearray(reinterpret_cast<char**>(fromFile), rows);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], image.data(), image.size()), ssize_t(image.size()));
    close(fds[1]);
    FILE* pipeIn = fdopen(fds[0], "rb");
    gray** fromPipe = pgm_readpgm(pipeIn, &cols, &rows, &maxval);
    EXPECT_EQ((V{fromPipe[0][0], fromPipe[0][1], fromPipe[1][0], fromPipe[1][1]}), (V{1, 2, 3, 9}));
    EXPECT_EQ(fromPipe[2], nullptr) << "rows of a pipe are allocated as they arrive";
    pm_freearray(reinterpret_cast<char**>(fromPipe), rows);
    std::fclose(pipeIn);
}
