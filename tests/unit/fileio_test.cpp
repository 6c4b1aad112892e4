// Opening, the seekable copy of a pipe, closing with error reports and file positions.
#include <cerrno>
#include <string>
#include <unistd.h>

#include "pmintern.h"
#include "unitutil.h"

namespace {
using FileIo = LibTest;

// A pipe holding bytes, its writer closed: a stream whose length nobody can tell in advance.
FILE* pipeWith(const std::string& bytes) {
    int fds[2];
    if (pipe(fds) != 0 || write(fds[1], bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        return nullptr;
    close(fds[1]);
    return fdopen(fds[0], "rb");
}
} // namespace

TEST_F(FileIo, OpeningAMissingFileNamesTheErrnoARegularFileIsUsedInPlace) {
    EXPECT_FATAL(
        pm_openr("/nonexistent/file"),
        "Unable to open file '/nonexistent/file' for reading.  fopen\\(\\) returns errno 2 "
        "\\(No such file or directory\\)");
    TempDir dir;
    FILE* f = pm_openr_seekable(dir.write("f", "abcdef").c_str());
    std::fgetc(f);
    EXPECT_EQ(pm_tell(f), 1);
    pm_closer(f);
}

TEST_F(FileIo, PositionsOfFourAndEightBytes) {
    TmpFile f("0123456789");
    std::fseek(f, 7, SEEK_SET);
    int32_t small;
    pm_filepos wide;
    pm_tell2(f, &small, 4);
    pm_tell2(f, &wide, 8);
    EXPECT_EQ(small, 7);
    EXPECT_EQ(wide, 7);
    std::rewind(f);
    pm_seek2(f, &small, 4);
    EXPECT_EQ(std::fgetc(f), '7');
    pm_seek(f, 2);
    EXPECT_EQ(std::fgetc(f), '2');
    char buf[16];
    EXPECT_FATAL(pm_tell2(f, buf, 2), "File position size passed to pm_tell\\(\\) is invalid: 2.  "
                                      "Valid sizes are 4 and 8");
    EXPECT_FATAL(pm_seek2(f, buf, 16), "File position size passed to pm_seek\\(\\) is invalid: "
                                       "16.  Valid sizes are 4 and 8");
}

TEST_F(FileIo, NextImageSkipsAllWhiteSpace) {
    TmpFile f(" \t\n\v\f\rP6"), blank("  \n");
    int eof = -1;
    pm_nextimage(f, &eof);
    EXPECT_EQ(eof, 0);
    EXPECT_EQ(std::fgetc(f), 'P');
    pm_nextimage(blank, &eof);
    EXPECT_EQ(eof, 1);
}

TEST_F(FileIo, RasterCheckAgainstBytesLeft) {
    TmpFile f("HEADER123456");
    std::fseek(f, 6, SEEK_SET);
    int result = -1;
    pm_check(f, PM_CHECK_BASIC, 6, &result);
    EXPECT_EQ(result, PM_CHECK_OK);
    pm_check(f, PM_CHECK_BASIC, 5, &result);
    EXPECT_EQ(result, PM_CHECK_TOO_LONG);
    pm_check(f, PM_CHECK_BASIC, 6, nullptr);
    EXPECT_FATAL(pm_check(f, PM_CHECK_BASIC, 7, &result),
                 "File has invalid format.  The raster should contain 7 bytes, but\nthe file ends "
                 "after only 6 bytes.");
}

TEST_F(FileIo, ReadUnknownSizeGrowsPastItsFirstBuffer) {
    const std::string content(200000, 'q');
    long n = 0;
    char* buf = pm_read_unknown_size(TmpFile(content), &n);
    EXPECT_EQ(std::string(buf, size_t(n)), content);
    std::free(buf);
}

TEST_F(FileIo, ByteOrder) {
    FILE* f = std::tmpfile();
    pm_writebigshort(f, short(0x1234));
    pm_writelittleshort(f, short(0x1234));
    pm_writebiglong(f, 0x01020304L);
    pm_writelittlelong(f, -2L);
    std::rewind(f);
    short s;
    long l;
    EXPECT_EQ(pm_readbigshort(f, &s), 0);
    EXPECT_EQ(s, 0x1234);
    EXPECT_EQ(pm_readlittleshort(f, &s), 0);
    EXPECT_EQ(s, 0x1234);
    EXPECT_EQ(pm_readbiglong(f, &l), 0);
    EXPECT_EQ(l, 0x01020304L);
    EXPECT_EQ(pm_readlittlelong(f, &l), 0);
    EXPECT_EQ(l, -2L);
    EXPECT_EQ(pm_readbigshort(f, &s), -1);
    std::fclose(f);
}

TEST_F(FileIo, ClosingAStreamWithAnErrorReportsIt) {
    EXPECT_FATAL(
        {
            FILE* f = std::fopen("/dev/full", "w");
            std::fputs("data", f);
            pm_closew(f);
        },
        "A file read or write error occurred at some point\n.*Error writing the output "
        "file.  Errno = No space left on device");
}

// ---- The smallest raster of a header against what a stream holds ----------------------------

TEST_F(FileIo, SmallestRasterOfEachEncoding) {
    const struct {
        int format, cols, rows;
        pixval maxval;
        unsigned long long bytes;
    } cases[] = {
        {RAW_PBM, 10, 3, 1, 6},
        {RAW_PBM, 8, 3, 1, 3},
        {RAW_PGM, 3, 2, 255, 6},
        {RAW_PGM, 3, 2, 256, 12},
        {RAW_PPM, 3, 2, 255, 18},
        {RAW_PPM, 3, 2, 65535, 36},
        {PLAIN_PBM, 5, 2, 1, 10},
        {PLAIN_PGM, 3, 2, 65535, 6},
        {PLAIN_PPM, 3, 2, 255, 18},
        {RAW_PGM, 0, 2147483640, 255, 0},
        {RAW_PGM, 2147483640, 2147483640, 255, 4611685984067649600ull},
    };
    TmpFile f("0123456789");
    unsigned long long needed = 0;
    long long left = 0;
    for (const auto& c : cases) {
        EXPECT_TRUE(pnm_rasterbytes(f, c.cols, c.rows, c.maxval, c.format, &needed, &left));
        EXPECT_EQ(needed, c.bytes) << c.format << " " << c.cols << "x" << c.rows;
        EXPECT_EQ(left, 10);
    }
    // 2^62 samples of 6 bytes do not fit 64 bits; an unknown format has no raster size.
    EXPECT_FALSE(pnm_rasterbytes(f, 2147483640, 2147483640, 65535, RAW_PPM, &needed, &left));
    EXPECT_FALSE(pnm_rasterbytes(f, 1, 1, 255, 'P' * 256 + '7', &needed, &left));
}

TEST_F(FileIo, BytesLeftAfterThePositionOfFilesMemoryStreamsAndPipes) {
    TmpFile f("P5 1 2 255\nab");
    std::fseek(f, 11, SEEK_SET);
    EXPECT_TRUE(pm_rasterfits(f, 1, 2, 255, RAW_PGM));
    EXPECT_FALSE(pm_rasterfits(f, 1, 3, 255, RAW_PGM)) << "one byte short";
    std::fgetc(f);
    EXPECT_FALSE(pm_rasterfits(f, 1, 2, 255, RAW_PGM));
    EXPECT_EQ(std::ftell(f), 12) << "the position is left where it was";

    char bytes[] = "abcdef";
    FILE* m = fmemopen(bytes, 6, "rb");
    std::fgetc(m);
    unsigned long long needed;
    long long left;
    pnm_rasterbytes(m, 1, 1, 255, RAW_PGM, &needed, &left);
    EXPECT_EQ(left, 5);
    EXPECT_EQ(std::fgetc(m), 'b') << "measuring a memory stream keeps its position";
    std::fclose(m);

    // Pipes cannot tell what they hold.
    FILE* p = pipeWith("abc");
    EXPECT_TRUE(pnm_rasterbytes(p, 1, 1, 255, RAW_PGM, &needed, &left));
    EXPECT_EQ(left, -1);
    EXPECT_FALSE(pm_rasterfits(p, 0, 0, 255, RAW_PGM));
    std::fclose(p);
}
