// Every prefix of valid inputs of every format, run through the real binary: a download cut
// short at any byte must end with status 1 and one message, never with a signal, a hang or a
// PNG made from half an image. Only the whole input (or, for the comment file, any prefix that is
// itself a valid comment file) converts, to exactly the pixels of the whole input.
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "pngdecode.h"
#include "process.h"
#include "testutil.h"

namespace {

using Args = std::vector<std::string>;

std::vector<unsigned> ramp(size_t count, unsigned maxval, unsigned step) {
    std::vector<unsigned> v;
    for (size_t i = 0; i < count; ++i) v.push_back(unsigned(i * step) % (maxval + 1));
    return v;
}

RunResult run(const Args& args, const std::string& input) { return runGridpack(args, input, 10); }

DecodedPng reference(const Args& args, const std::string& input) {
    const RunResult r = run(args, input);
    EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
    return decodePng(r.stdoutBytes);
}

struct Counts {
    int runs = 0, converted = 0;
};

// Runs every prefix of bytes through runPrefix: status 1 with exactly one message line, or
// (from wholeFrom bytes on) status 0 with a PNG of the reference pixels. Returns false after a
// fatal failure.
bool sweep(const std::string& what, const std::string& bytes, size_t wholeFrom,
           const DecodedPng& ref, Counts* counts,
           const std::function<RunResult(const std::string&)>& runPrefix) {
    for (size_t n = 0; n <= bytes.size(); ++n) {
        SCOPED_TRACE(what + " prefix of " + std::to_string(n) + " bytes");
        const RunResult r = runPrefix(bytes.substr(0, n));
        ++counts->runs;
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.signal, 0);
        if (r.exitStatus == 0 && n >= wholeFrom) {
            ++counts->converted;
            const DecodedPng png = decodePng(r.stdoutBytes);
            EXPECT_EQ(png.rows, ref.rows);
            EXPECT_EQ(png.palette, ref.palette);
        } else {
            EXPECT_EQ(r.exitStatus, 1) << r.stderrText;
            EXPECT_EQ(r.stderrText.rfind("gridpack: ", 0), 0u) << r.stderrText;
            EXPECT_EQ(r.stderrText.find('\n'), r.stderrText.size() - 1) << r.stderrText;
        }
        if (::testing::Test::HasFailure()) return false;
    }
    return true;
}

} // namespace

TEST(Truncation, EveryPrefixOfEveryFormat) {
    const std::pair<const char*, std::string> images[] = {
        {"plain bitmap", pnmImage("P1", 5, 3, 1, {1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 0, 0, 1, 0})},
        {"raw bitmap", pnmImage("P4", 10, 3, 1, ramp(30, 1, 1))},
        {"plain 8-bit graymap", pnmImage("P2", 4, 3, 255, ramp(12, 255, 23))},
        {"plain 16-bit graymap", pnmImage("P2", 3, 2, 65535, ramp(6, 65535, 12345))},
        {"raw 8-bit graymap", pnmImage("P5", 4, 3, 255, ramp(12, 255, 23))},
        {"raw 16-bit graymap", pnmImage("P5", 3, 3, 65535, ramp(9, 65535, 7001))},
        {"plain 8-bit pixmap", pnmImage("P3", 3, 2, 255, ramp(18, 255, 37))},
        {"plain 16-bit pixmap", pnmImage("P3", 2, 2, 65535, ramp(12, 65535, 4099))},
        {"raw 8-bit pixmap", pnmImage("P6", 4, 3, 255, ramp(36, 255, 29))},
        {"raw 16-bit pixmap", pnmImage("P6", 3, 2, 65535, ramp(18, 65535, 3001))},
        {"header comments", "P5\n# made by hand\n3 # width\n1\n255\n\x01\x02\x03"},
    };
    Counts counts;
    for (const auto& [name, bytes] : images) {
        // Plain bits need no byte after the last one, so a plain bitmap is whole without its
        // final line feed; every other image needs every byte.
        const size_t wholeFrom = bytes.size() - (bytes[1] == '1' ? 1 : 0);
        for (const Args& args :
             {Args{"-quiet"}, {"-quiet", "-interlace"}, {"-quiet", "-force", "-hist"}}) {
            const DecodedPng ref = reference(args, bytes);
            if (!sweep(name, bytes, wholeFrom, ref, &counts,
                       [&](const std::string& prefix) { return run(args, prefix); }))
                return;
        }
    }
    std::printf("%d runs, %d converted\n", counts.runs, counts.converted);
    // Each input once per option set, the plain bitmap also without its last byte.
    EXPECT_EQ(counts.converted, 3 * 11 + 3);
}

TEST(Truncation, SideFilesAndImageCutShort) {
    TempDir dir;
    Counts counts;
    const std::string image = pnmImage("P6", 3, 2, 255, ramp(18, 255, 41));
    for (const std::string& mask : {pnmImage("P5", 3, 2, 255, {0, 64, 255, 255, 0, 9}),
                                    pnmImage("P2", 3, 2, 3, {0, 1, 2, 3, 3, 0}),
                                    pnmImage("P4", 3, 2, 1, {1, 0, 1, 0, 0, 1})}) {
        const Args args = {"-quiet", "-alpha", dir.write("full.pgm", mask)};
        const DecodedPng ref = reference(args, image);
        if (!sweep("image", image, image.size(), ref, &counts,
                   [&](const std::string& prefix) { return run(args, prefix); }) ||
            !sweep(mask.substr(0, 2) + " mask", mask, mask.size(), ref, &counts,
                   [&](const std::string& prefix) {
                       return run({"-quiet", "-alpha", dir.write("cut.pgm", prefix)}, image);
                   }))
            return;
    }
    EXPECT_EQ(counts.converted, 6);

    const std::string gray = pnmImage("P5", 4, 2, 255, ramp(8, 255, 31));
    const std::string comments =
        "Title A test\n \tcontinued\n\"Quoted key\" quoted text\nAuthor someone\r\n\nComment x\n";
    for (const char* option : {"-text", "-ztxt"}) {
        const Args args = {"-quiet", option, dir.write("full.txt", comments)};
        const DecodedPng ref = reference(args, gray);
        // Most prefixes of a comment file are comment files themselves; one cut inside the
        // quoted keyword is not.
        if (!sweep("image", gray, gray.size(), ref, &counts,
                   [&](const std::string& prefix) { return run(args, prefix); }) ||
            !sweep(
                std::string(option) + " comments", comments, 0, ref, &counts,
                [&](const std::string& prefix) {
                    const RunResult r = run({"-quiet", option, dir.write("cut.txt", prefix)}, gray);
                    const bool insideQuote = prefix.size() > comments.find('"') &&
                                             prefix.size() <= comments.find('"', 30);
                    EXPECT_EQ(r.exitStatus, insideQuote ? 1 : 0) << r.stderrText;
                    return r;
                }))
            return;
    }
    std::printf("%d runs, %d converted\n", counts.runs, counts.converted);
}
