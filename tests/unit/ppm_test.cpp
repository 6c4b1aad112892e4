// Pixmap readers: header and maxval limit, plain and raw rows, poorer formats read as pixmaps,
// truncation and samples above maxval.
#include <string>
#include <vector>

#include "unitutil.h"

namespace {
// The maxval, then the pixels row by row.
std::string readPix(const std::string& bytes) {
    TmpFile f(bytes);
    int cols, rows;
    pixval maxval;
    pixel** pixels = ppm_readppm(f, &cols, &rows, &maxval);
    std::string out = std::to_string(maxval) + ":";
    for (int row = 0; row < rows; ++row) out += " " + str(pixels[row], size_t(cols));
    pm_freearray(reinterpret_cast<char**>(pixels), rows);
    return out;
}
} // namespace

TEST(Pixmap, EachFormInRedGreenBlueOrder) {
    const std::pair<std::string, const char*> cases[] = {
        {"P3 1 1 65535 1 2 3 ", "65535: 1,2,3"},
        {"P3 2 1 255\n1 2 # between green and blue\n3 4 5 6\n", "255: 1,2,3 4,5,6"},
        {std::string("P6 2 1 255\n\x01\x02\x03\xfd\xfe\xff", 17), "255: 1,2,3 253,254,255"},
        {std::string("P6 1 1 65535\n\x01\x00\x00\x02\xff\xfe", 19), "65535: 256,2,65534"},
        // Poorer formats are widened; a bitmap read as a pixmap has maxval 1 (255 as a graymap).
        {"P1 2 1 1 0 ", "1: 0,0,0 1,1,1"},
        {std::string("P4 2 1\n\x40", 8), "1: 1,1,1 0,0,0"},
        {"P2 2 1 9 7 9 ", "9: 7,7,7 9,9,9"},
        {std::string("P5 1 1 300\n\x01\x2c", 13), "300: 300,300,300"},
    };
    for (const auto& [image, pixels] : cases) EXPECT_EQ(readPix(image), pixels);
}

TEST(Pixmap, Refusals) {
    for (const char* magic : {"P7", "P0", "p3", "\x50\xb3"})
        EXPECT_FATAL(readPix(std::string(magic) + " 1 1 1\n0 0 0\n"),
                     "bad magic number - not a ppm, pgm, or pbm file");
    const std::pair<std::string, const char*> table[] = {
        {"P6 1 1 65536\n", "maxval \\(65536\\) is too large\\.\nThe maximum allowed by the PPM is "
                           "65535\\."},
        // A graymap read by the pixmap reader keeps the graymap's message.
        {"P5 1 1 65536\n", "The largest we can handle is 65535"},
        {std::string("P6 2 1 255\n\x01\x02\x03\x04\x05", 16),
         "EOF / read error reading a one-byte sample"},
        {std::string("P6 1 1 1000\n\x01\x02\x03\x04\x05", 17),
         "EOF /read error while reading a long sample"},
        {"P3 1 1 255\n1 2 3", "EOF / read error reading a byte"},
        // The first sample above maxval in row order is reported.
        {"P3 2 1 100\n1 2 3 4 200 150\n", "sample value 200 is greater than maxval 100"},
        {std::string("P6 2 1 100\n\x01\x02\x03\x04\xc8\x96", 17),
         "sample value 200 is greater than maxval 100"},
        {std::string("P6 1 1 1000\n\x00\x01\x03\xe9\x03\xe8", 18),
         "sample value 1001 is greater than maxval 1000"},
    };
    for (const auto& [image, message] : table) EXPECT_FATAL(readPix(image), message);
    pixel row[1];
    EXPECT_FATAL(ppm_readppmrow(TmpFile("1 2 3 "), row, 1, 255, 0x5037), "can't happen");
}
