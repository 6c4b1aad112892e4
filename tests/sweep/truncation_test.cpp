// Every prefix of valid inputs of every format, run through the real binary: a download cut
// short at any byte must end with status 1 and one message, never with a signal, a hang or a
// PNG made from half an image. Only the whole input (or, for the comment file, any prefix that is
// itself a valid comment file) converts, to exactly the pixels of the whole input.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "pngdecode.h"
#include "process.h"
#include "testutil.h"

namespace {

struct Input {
    const char* name;
    std::string bytes;
    // The shortest prefix that is a whole image: plain bits need no byte after the last one, so
    // a plain bitmap is whole without its final line feed; every other image needs every byte.
    size_t wholeFrom = 0;
};

std::vector<unsigned> ramp(size_t count, unsigned maxval, unsigned step) {
    std::vector<unsigned> v;
    for (size_t i = 0; i < count; ++i) v.push_back(unsigned(i * step) % (maxval + 1));
    return v;
}

// Images of every encoding, small enough that every prefix can be run.
std::vector<Input> images() {
    std::vector<Input> inputs{
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
    for (Input& in : inputs) in.wholeFrom = in.bytes.size();
    inputs[0].wholeFrom = inputs[0].bytes.size() - 1;
    return inputs;
}

struct Counts {
    int runs = 0;
    int converted = 0;
};

// One run of a prefix: status 1 with exactly one message line, or (when allowed) status 0 with
// a PNG of the reference pixels.
void checkRun(const RunResult& r, bool successAllowed, const DecodedPng& reference,
              Counts* counts) {
    ++counts->runs;
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.signal, 0);
    if (r.exitStatus == 0 && successAllowed) {
        ++counts->converted;
        const DecodedPng png = decodePng(r.stdoutBytes);
        EXPECT_EQ(png.rows, reference.rows);
        EXPECT_EQ(png.palette, reference.palette);
        return;
    }
    ASSERT_EQ(r.exitStatus, 1) << r.stderrText;
    EXPECT_EQ(r.stderrText.rfind("gridpack: ", 0), 0u) << r.stderrText;
    EXPECT_EQ(r.stderrText.find('\n'), r.stderrText.size() - 1) << r.stderrText;
}

RunResult run(const std::vector<std::string>& args, const std::string& input) {
    RunOptions options;
    options.stdinBytes = input;
    options.timeoutSeconds = 10;
    return runGridpack(args, options);
}

DecodedPng reference(const std::vector<std::string>& args, const std::string& input) {
    const RunResult r = run(args, input);
    EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
    return decodePng(r.stdoutBytes);
}

} // namespace

TEST(Truncation, EveryPrefixOfEveryFormat) {
    Counts counts;
    int inputs = 0;
    for (const Input& in : images()) {
        SCOPED_TRACE(in.name);
        ++inputs;
        for (const std::vector<std::string>& args : {std::vector<std::string>{"-quiet"},
                                                     {"-quiet", "-interlace"},
                                                     {"-quiet", "-force", "-hist"}}) {
            const DecodedPng ref = reference(args, in.bytes);
            for (size_t n = 0; n <= in.bytes.size(); ++n) {
                SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes");
                checkRun(run(args, in.bytes.substr(0, n)), n >= in.wholeFrom, ref, &counts);
                if (HasFatalFailure()) return;
            }
        }
    }
    std::printf("%d inputs, %d runs, %d converted\n", inputs, counts.runs, counts.converted);
    // Each input once per option set, the plain bitmap also without its last byte.
    EXPECT_EQ(counts.converted, 3 * inputs + 3);
}

TEST(Truncation, AlphaMaskAndImageCutShort) {
    TempDir dir;
    const std::string image = pnmImage("P6", 3, 2, 255, ramp(18, 255, 41));
    Counts counts;
    for (const Input& mask : {Input{"raw mask", pnmImage("P5", 3, 2, 255, {0, 64, 255, 255, 0, 9})},
                              Input{"plain mask", pnmImage("P2", 3, 2, 3, {0, 1, 2, 3, 3, 0})},
                              Input{"bitmap mask", pnmImage("P4", 3, 2, 1, {1, 0, 1, 0, 0, 1})}}) {
        SCOPED_TRACE(mask.name);
        const std::string fullMask = dir.write("full.pgm", mask.bytes);
        const DecodedPng ref = reference({"-quiet", "-alpha", fullMask}, image);
        for (size_t n = 0; n <= image.size(); ++n) {
            SCOPED_TRACE("image prefix of " + std::to_string(n) + " bytes");
            checkRun(run({"-quiet", "-alpha", fullMask}, image.substr(0, n)), n == image.size(),
                     ref, &counts);
            if (HasFatalFailure()) return;
        }
        for (size_t n = 0; n <= mask.bytes.size(); ++n) {
            SCOPED_TRACE("mask prefix of " + std::to_string(n) + " bytes");
            const std::string cut = dir.write("cut.pgm", mask.bytes.substr(0, n));
            checkRun(run({"-quiet", "-alpha", cut}, image), n == mask.bytes.size(), ref, &counts);
            if (HasFatalFailure()) return;
        }
    }
    std::printf("%d runs, %d converted\n", counts.runs, counts.converted);
    EXPECT_EQ(counts.converted, 6);
}

TEST(Truncation, CommentFileAndImageCutShort) {
    TempDir dir;
    const std::string image = pnmImage("P5", 4, 2, 255, ramp(8, 255, 31));
    const std::string comments =
        "Title A test\n \tcontinued\n\"Quoted key\" quoted text\nAuthor someone\r\n\nComment x\n";
    const std::string fullComments = dir.write("full.txt", comments);
    Counts counts;
    for (const char* option : {"-text", "-ztxt"}) {
        SCOPED_TRACE(option);
        const DecodedPng ref = reference({"-quiet", option, fullComments}, image);
        for (size_t n = 0; n <= image.size(); ++n) {
            SCOPED_TRACE("image prefix of " + std::to_string(n) + " bytes");
            checkRun(run({"-quiet", option, fullComments}, image.substr(0, n)), n == image.size(),
                     ref, &counts);
            if (HasFatalFailure()) return;
        }
        // Most prefixes of a comment file are comment files themselves; one cut inside the
        // quoted keyword is not.
        for (size_t n = 0; n <= comments.size(); ++n) {
            SCOPED_TRACE("comment prefix of " + std::to_string(n) + " bytes");
            const std::string cut = dir.write("cut.txt", comments.substr(0, n));
            const RunResult r = run({"-quiet", option, cut}, image);
            checkRun(r, true, ref, &counts);
            if (HasFatalFailure()) return;
            const bool insideQuote = n > comments.find('"') && n <= comments.find('"', 30);
            EXPECT_EQ(r.exitStatus, insideQuote ? 1 : 0) << r.stderrText;
        }
    }
    std::printf("%d runs, %d converted\n", counts.runs, counts.converted);
}
