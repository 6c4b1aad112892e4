// The command line: common options, the option table, argument scans, usage and the version
// report, as the user sees them from the real binary.
#include <gtest/gtest.h>
#include <png.h>
#include <string>
#include <zlib.h>

#include "process.h"
#include "testutil.h"

namespace {
const std::string usageLine =
    "usage:  gridpack [-verbose] [-downscale] [-interlace] [-force] [-alpha file] ...\n"
    "             ... [-transparent color] [-background color] [-gamma value] ...\n"
    "             ... [-hist] [-chroma wx wy rx ry gx gy bx by] [-phys x y unit] ...\n"
    "             ... [-text file] [-ztxt file] [-time [yy]yy-mm-dd hh:mm:ss] ...\n"
    "             ... [-palette file] [-filter 0..4] [-compression 0..9] [pnmfile]\n";

const std::string versionReport =
    std::string("gridpack version 1.0.0 (6 December 2026) +pixmill.\n") +
    "   Compiled with libpng " PNG_LIBPNG_VER_STRING ".\n" +
    "   Compiled with zlib " ZLIB_VERSION "; using zlib " + zlibVersion() + ".\n" +
    "   Compiled with 16-bit pixmill support (PPM_OVERALLMAXVAL = "
    "65535).\n\n";

const std::string missingFile = "/nonexistent/in.ppm";
const std::string missingFileError = "gridpack: Unable to open file '/nonexistent/in.ppm' for "
                                     "reading.  fopen() returns errno 2 (No such file or "
                                     "directory)\n";

RunResult run(const std::vector<std::string>& args) { return runGridpack(args, std::string()); }
} // namespace

TEST(Usage, MissingOptionArgumentsAndSurplusArguments) {
    const std::vector<std::vector<std::string>> cases = {
        {"-alpha"},          {"-tr"},
        {"-background"},     {"-chroma", "1", "2", "3", "4", "5", "6", "7"},
        {"-phys", "1", "2"}, {"-time", "2026-12-06"},
        {"-palette"},        {"-filter"},
        {"-", "extra"},
    };
    for (const auto& args : cases) {
        const RunResult r = run(args);
        EXPECT_EQ(r.exitStatus, 1) << args[0];
        EXPECT_EQ(r.stderrText, usageLine) << args[0];
        EXPECT_EQ(r.stdoutBytes, "");
    }
}

TEST(Usage, OpenErrorOfTheInputComesBeforeASurplusArgument) {
    const RunResult r = run({missingFile, "extra"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.stderrText, missingFileError);
}

TEST(Options, AbbreviationsFollowTheTableOrder) {
    // Too short for every keyword they begin: the version report, then scanning goes on.
    for (const char* tooShort : {"-t", "-p", "-c", "-f", "--", "-x", "-verbosely"}) {
        const RunResult r = run({tooShort, missingFile});
        EXPECT_EQ(r.exitStatus, 1) << tooShort;
        EXPECT_EQ(r.stderrText, versionReport + missingFileError) << tooShort;
    }
    // -pa takes a file: the next argument is consumed as the palette file name, the image
    // comes from standard input, and the palette file fails to open.
    const RunResult pa = run({"-pa", missingFile});
    EXPECT_EQ(pa.exitStatus, 1);
    EXPECT_EQ(pa.stderrText, missingFileError);
}

TEST(Options, ValuesAreTakenWhateverTheyLookLike) {
    // -alpha consumes "-mask.pgm" as its file; the input is read first, then the mask opens.
    TempDir dir;
    const std::string image = dir.write("in.pgm", "P2 1 1 255 0\n");
    const RunResult r = run({"-a", "-mask.pgm", image});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.stderrText.find("Unable to open file '-mask.pgm' for reading"), std::string::npos)
        << r.stderrText;
}

TEST(Options, AlphaAndTransparentAreExclusiveInBothOrders) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-alpha", "m.pgm", "-tr", "red"}, {"-TRANS", "red", "-ALPHA", "m.pgm"}}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.stderrText, "gridpack: -alpha and -transparent are mutually exclusive\n");
    }
}

TEST(Options, FilterAndCompressionRanges) {
    const std::string filterMessage =
        "gridpack: filter must be 0 (none), 1 (sub), 2 (up), 3 (avg) or 4 (paeth)\n";
    const std::string compressionMessage =
        "gridpack: zlib compression must be between 0 (none) and 9 (max)\n";
    for (const char* bad : {"5", "-1", "x"}) {
        const RunResult r = run({"-fi", bad});
        EXPECT_EQ(r.exitStatus, 1) << bad;
        EXPECT_EQ(r.stderrText, filterMessage + usageLine) << bad;
    }
    for (const char* bad : {"10", "-1", "nine"}) {
        const RunResult r = run({"-compression", bad});
        EXPECT_EQ(r.exitStatus, 1) << bad;
        EXPECT_EQ(r.stderrText, compressionMessage + usageLine) << bad;
    }
    // A value that scans keeps the range test quiet; a later bad one still fails.
    const RunResult r = run({"-fi", "4", "-co", "9", "-co", "bad", missingFile});
    EXPECT_EQ(r.stderrText, missingFileError);
}

TEST(CommonOptions, QuietSilencesMessagesButNotErrorsOrUsage) {
    const RunResult r = run({"-fi", "7", "-QUIET"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.stderrText, usageLine);
    const RunResult e = run({"-quiet", missingFile});
    EXPECT_EQ(e.stderrText, missingFileError);
}

TEST(CommonOptions, VersionAndHelp) {
    const RunResult v = run({"-version", "-help"});
    EXPECT_EQ(v.exitStatus, 0);
    EXPECT_NE(v.stderrText.find("gridpack: Using libpixmill from Pixmill Version: Pixmill "),
              std::string::npos);
    EXPECT_EQ(v.stdoutBytes, "");
    const RunResult h = run({"--help"});
    EXPECT_EQ(h.exitStatus, 1);
    EXPECT_EQ(h.stderrText, "gridpack: Use 'man gridpack' for help.\n");
    const RunResult q = run({"--quiet", "-version"});
    EXPECT_EQ(q.exitStatus, 0);
    EXPECT_EQ(q.stderrText, "");
}

TEST(Output, ClosedStandardOutputIsAnError) {
    RunOptions options;
    options.closeStdout = true;
    options.stdinBytes = "P2 1 1 255 0\n";
    const RunResult r = runGridpack({}, options);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.stderrText,
              "gridpack: Standard output is closed; there is nowhere to write the PNG\n");
}
