// Whether an alpha mask reduces to one transparent colour.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gridpack.h"
#include "imagefile.h"

namespace {

struct Result {
    bool can;
    pixel color;
};

Result run(ImageFile& img, const AlphaMask& mask, gray alphaMaxval) {
    Result r{false, {99, 99, 99}};
    gridpack::alpha_trans(img.f, img.rasterPos, img.cols, img.rows, img.maxval, img.format,
                          mask.rows, alphaMaxval, &r.can, &r.color);
    return r;
}

const std::vector<unsigned> colours = {1, 2, 3, 10, 20, 30, 4, 5, 6, 10, 20, 30};

class AlphaTrans : public ::testing::Test {
protected:
    void SetUp() override {
        gridpack::resetOptions();
        pm_progname = "gridpack";
    }
};

} // namespace

TEST_F(AlphaTrans, OneTransparentColourOfItsOwn) {
    ImageFile img("P6", 2, 2, 255, colours);
    AlphaMask mask(2, 2, {255, 0, 255, 0});
    const Result r = run(img, mask, 255);
    EXPECT_TRUE(r.can);
    EXPECT_TRUE(PPM_EQUAL(r.color, (pixel{10, 20, 30})));
}

TEST_F(AlphaTrans, OpaqueMaskHasNoTransparentColour) {
    ImageFile img("P6", 2, 2, 255, colours);
    AlphaMask mask(2, 2, {255, 255, 255, 255});
    EXPECT_FALSE(run(img, mask, 255).can);
}

TEST_F(AlphaTrans, RuledOut) {
    const struct {
        const char* what;
        std::vector<unsigned> alpha;
    } cases[] = {
        {"an opaque pixel of the transparent colour", {255, 0, 255, 255}},
        {"a partly transparent pixel", {255, 0, 128, 0}},
        {"two transparent colours", {0, 0, 255, 255}},
    };
    for (const auto& c : cases) {
        ImageFile img("P6", 2, 2, 255, colours);
        AlphaMask mask(2, 2, c.alpha);
        EXPECT_FALSE(run(img, mask, 255).can) << c.what;
    }
}

TEST_F(AlphaTrans, GrayImagesCompareTheGrayValue) {
    ImageFile img("P5", 3, 1, 255, {7, 8, 7});
    AlphaMask mask(3, 1, {0, 255, 0});
    const Result r = run(img, mask, 255);
    EXPECT_TRUE(r.can);
    EXPECT_TRUE(PPM_EQUAL(r.color, (pixel{7, 7, 7})));
}

TEST_F(AlphaTrans, MaskOfMaxvalOne) {
    ImageFile img("P6", 2, 2, 255, colours);
    AlphaMask mask(2, 2, {1, 0, 1, 0});
    EXPECT_TRUE(run(img, mask, 1).can);
    AlphaMask asIf255(2, 2, {1, 0, 1, 0});
    EXPECT_FALSE(run(img, asIf255, 255).can) << "1 is partly transparent at maxval 255";
}

TEST_F(AlphaTrans, PassesEndEarly) {
    // Only the first row is in the file; the answer is decided within it.
    ImageFile img("P6", 2, 3, 255, {10, 20, 30, 10, 20, 30});
    AlphaMask mask(2, 3, {0, 255, 255, 255, 255, 255});
    EXPECT_FALSE(run(img, mask, 255).can);
    ImageFile grayImg("P5", 2, 3, 255, {5, 6});
    AlphaMask partly(2, 3, {0, 77, 0, 0, 0, 0});
    EXPECT_FALSE(run(grayImg, partly, 255).can);
}
