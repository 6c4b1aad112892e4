// Every prefix of valid inputs, through the real binary: a download cut short at any byte ends
// with status 1 and one message line, never a signal, a hang or a PNG of half an image; only the
// whole input (a plain bitmap also without its last line feed) converts, to the same pixels.
#include <functional>
#include <gtest/gtest.h>

#include "harness.h"
#include "pngdecode.h"

namespace {
std::vector<unsigned> ramp(size_t count, unsigned maxval, unsigned step) {
    std::vector<unsigned> v;
    for (size_t i = 0; i < count; ++i) v.push_back(unsigned(i * step) % (maxval + 1));
    return v;
}

// run(prefix) for every prefix of bytes: a PNG of the whole input's pixels where converts(n)
// says so, else status 1 with one message line.
void sweep(const std::string& bytes, const std::function<bool(size_t)>& converts,
           const std::function<RunResult(const std::string&)>& run) {
    const DecodedPng whole = decodePng(run(bytes).out);
    for (size_t n = 0; n <= bytes.size() && !::testing::Test::HasFailure(); ++n) {
        SCOPED_TRACE(std::to_string(n) + " bytes of " + bytes.substr(0, 12));
        const RunResult r = run(bytes.substr(0, n));
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, converts(n) ? 0 : 1) << r.err;
        if (r.status == 0) {
            EXPECT_EQ(decodePng(r.out).rows, whole.rows);
            EXPECT_EQ(decodePng(r.out).palette, whole.palette);
        } else {
            EXPECT_EQ(r.err.rfind("gridpack: ", 0), 0u) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        }
    }
}
} // namespace

TEST(Sweep, EveryPrefixOfEveryEncoding) {
    // Each encoding at 8 and 16 bits (bitmaps once), and a header full of comments.
    std::vector<std::string> images{"P5\n# made by hand\n3 # width\n1\n255\n\x01\x02\x03"};
    for (const char* magic : {"P1", "P2", "P3", "P4", "P5", "P6"})
        for (unsigned maxval : {255u, 65535u}) {
            const size_t per = magic[1] == '3' || magic[1] == '6' ? 3 : 1;
            if (maxval == 65535 && (magic[1] == '1' || magic[1] == '4')) continue;
            images.push_back(
                pnmImage(magic, 3, 2, maxval,
                         ramp(6 * per, magic[1] == '1' || magic[1] == '4' ? 1 : maxval, 4099)));
        }
    // The three ways through the passes take turns, prefix by prefix.
    const std::vector<std::string> args[] = {
        {"-quiet"}, {"-quiet", "-interlace"}, {"-quiet", "-force", "-hist"}};
    for (const std::string& image : images)
        sweep(
            image, [&](size_t n) { return n >= image.size() - (image[1] == '1'); },
            [&](const std::string& in) { return runGridpack(args[in.size() % 3], in); });
}

TEST(Sweep, SideFilesCutShort) {
    TempDir dir;
    const std::string image = pnmImage("P6", 3, 2, 255, ramp(18, 255, 41));
    for (const std::string& mask : {pnmImage("P5", 3, 2, 255, {0, 64, 255, 255, 0, 9}),
                                    pnmImage("P4", 3, 2, 1, {1, 0, 1, 0, 0, 1})})
        sweep(
            mask, [&](size_t n) { return n == mask.size(); },
            [&](const std::string& cut) {
                return runGridpack({"-quiet", "-alpha", dir.write("mask", cut)}, image);
            });
    // Every prefix of a comment file is one, except where it cuts a quoted keyword open.
    const std::string text =
        "Title A test\n \tcontinued\nAuthor someone\r\n\nComment x\n\"Quoted key\" t\n";
    for (const char* option : {"-text", "-ztxt"})
        sweep(
            text, [&](size_t n) { return n <= text.find('"') || n > text.rfind('"'); },
            [&](const std::string& cut) {
                return runGridpack({"-quiet", option, dir.write("text", cut)}, image);
            });
}
