// Whether an alpha mask reduces to one transparent colour.
#include <string>
#include <vector>

#include "unitutil.h"

namespace {

using AlphaTrans = ConverterTest;

// The transparent colour as r,g,b, or "no".
std::string transparentOf(const std::string& magic, int cols, int rows,
                          const std::vector<unsigned>& samples, const std::vector<unsigned>& alpha,
                          gray alphaMaxval = 255) {
    const ImageFile img(magic, cols, rows, 255, samples);
    const AlphaMask mask(cols, rows, alpha);
    bool can = false;
    pixel color{99, 99, 99};
    gridpack::alpha_trans(img.f, img.rasterPos, img.cols, img.rows, img.maxval, img.format,
                          mask.rows, alphaMaxval, &can, &color);
    return can ? str(color) : "no";
}

const std::vector<unsigned> colours = {1, 2, 3, 10, 20, 30, 4, 5, 6, 10, 20, 30};

} // namespace

TEST_F(AlphaTrans, OneTransparentColourOfItsOwnOrNone) {
    EXPECT_EQ(transparentOf("P6", 2, 2, colours, {255, 0, 255, 0}), "10,20,30");
    EXPECT_EQ(transparentOf("P6", 2, 2, colours, {1, 0, 1, 0}, 1), "10,20,30");
    EXPECT_EQ(transparentOf("P5", 3, 1, {7, 8, 7}, {0, 255, 0}), "7,7,7") << "gray compares gray";
    const std::vector<unsigned> ruledOut[] = {
        {255, 255, 255, 255}, // an opaque mask
        {255, 0, 255, 255},   // an opaque pixel of the transparent colour
        {255, 0, 128, 0},     // a partly transparent pixel
        {0, 0, 255, 255},     // two transparent colours
        {1, 0, 1, 0},         // 1 is partly transparent at maxval 255
    };
    for (const auto& alpha : ruledOut) EXPECT_EQ(transparentOf("P6", 2, 2, colours, alpha), "no");
}

TEST_F(AlphaTrans, PassesEndEarly) {
    // Only the first row is in the file; the answer is decided within it.
    EXPECT_EQ(transparentOf("P6", 2, 3, {10, 20, 30, 10, 20, 30}, {0, 255, 255, 255, 255, 255}),
              "no");
    EXPECT_EQ(transparentOf("P5", 2, 3, {5, 6}, {0, 77, 0, 0, 0, 0}), "no");
}
