// Every prefix of valid inputs, through the real binary: a download cut short at any byte ends
// with status 1 and one message line, never a signal, a hang or a PNG of half an image; only the
// whole input (a plain bitmap also without its last line feed) converts, to the same pixels.
#include <gtest/gtest.h>

#include "harness.h"
#include "pngdecode.h"

TEST(Sweep, EveryPrefixOfEveryEncoding) {
    // Each encoding at 8 and 16 bits (bitmaps once), a header full of comments, and a PAM.
    std::vector<std::string> images{"P5\n# made by hand\n3 # width\n1\n255\n\x01\x02\x03",
                                    "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nENDHDR\n"
                                    "\x01\x02\x03\x10\x04\x05\x06\x80"};
    for (const char* magic : {"P1", "P2", "P3", "P4", "P5", "P6"})
        for (unsigned maxval : {255u, 65535u}) {
            const bool bits = magic[1] == '1' || magic[1] == '4';
            std::vector<unsigned> ramp;
            for (unsigned i = 0; i < (magic[1] == '3' || magic[1] == '6' ? 18u : 6u); ++i)
                ramp.push_back(i * 4099 % (bits ? 2 : maxval + 1));
            if (maxval == 255 || !bits) images.push_back(pnmImage(magic, 3, 2, maxval, ramp));
        }
    // The three ways through the passes take turns, prefix by prefix.
    const std::vector<std::string> args[] = {
        {"-quiet"}, {"-quiet", "-interlace"}, {"-quiet", "-force", "-hist"}};
    for (const std::string& image : images) {
        const DecodedPng whole = decodePng(runGridpack(args[image.size() % 3], image).out);
        for (size_t n = 0; n <= image.size() && !HasFailure(); ++n) {
            SCOPED_TRACE(std::to_string(n) + " bytes of " + image.substr(0, 12));
            const RunResult r = runGridpack(args[n % 3], image.substr(0, n));
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(r.status, n >= image.size() - (image[1] == '1') ? 0 : 1) << r.err;
            if (r.status == 0) {
                EXPECT_EQ(decodePng(r.out).rows, whole.rows);
                EXPECT_EQ(decodePng(r.out).palette, whole.palette);
            } else {
                EXPECT_EQ(r.err.rfind("gridpack: ", 0), 0u) << r.err;
                EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
            }
        }
    }
}
