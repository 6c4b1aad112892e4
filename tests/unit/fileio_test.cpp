// Opening, the seekable copy of a pipe, closing with error reports and file positions.
#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "pixmill.h"
#include "pmintern.h"
#include "testutil.h"

namespace {
class FileIo : public ::testing::Test {
protected:
    void SetUp() override {
        pm_progname = "prog";
        pm_setMessage(1, nullptr);
    }
};
} // namespace

TEST_F(FileIo, MissingFileNamesTheErrno) {
    EXPECT_EXIT(pm_openr("/nonexistent/file"), ::testing::ExitedWithCode(1),
                "Unable to open file '/nonexistent/file' for reading.  fopen\\(\\) returns errno 2 "
                "\\(No such file or directory\\)");
}

TEST_F(FileIo, RegularFileIsUsedInPlace) {
    TempDir dir;
    const std::string path = dir.write("f", "abcdef");
    FILE* f = pm_openr_seekable(path.c_str());
    std::fgetc(f);
    EXPECT_EQ(pm_tell(f), 1);
    pm_closer(f);
}

TEST_F(FileIo, PipeIsCopiedAndRewindable) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // Larger than one copy block and than the pipe's buffer would need a writer thread; a
    // child process feeds it.
    const std::string content(300000, 'x');
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        size_t done = 0;
        while (done < content.size()) {
            const ssize_t w = write(fds[1], content.data() + done, content.size() - done);
            if (w <= 0) _exit(1);
            done += size_t(w);
        }
        _exit(0);
    }
    close(fds[1]);
    ASSERT_NE(dup2(fds[0], 0), -1);
    close(fds[0]);
    clearerr(stdin);
    FILE* f = pm_openr_seekable("-");
    EXPECT_NE(f, stdin);
    pm_filepos start;
    pm_tell2(f, &start, sizeof start);
    std::string first(content.size(), '\0');
    ASSERT_EQ(std::fread(first.data(), 1, first.size(), f), content.size());
    EXPECT_EQ(std::fgetc(f), EOF);
    pm_seek2(f, &start, sizeof start);
    EXPECT_EQ(std::fgetc(f), 'x');
    pm_closer(f);
}

TEST_F(FileIo, PositionsOfFourAndEightBytes) {
    FILE* f = tmpFileWith("0123456789");
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
    std::fclose(f);
}

TEST_F(FileIo, InvalidPositionSizesAreNamed) {
    FILE* f = tmpFileWith("x");
    char buf[16];
    EXPECT_EXIT(pm_tell2(f, buf, 2), ::testing::ExitedWithCode(1),
                "File position size passed to pm_tell\\(\\) is invalid: 2.  Valid sizes are 4 "
                "and 8");
    EXPECT_EXIT(pm_seek2(f, buf, 16), ::testing::ExitedWithCode(1),
                "File position size passed to pm_seek\\(\\) is invalid: 16.  Valid sizes are 4 "
                "and 8");
    std::fclose(f);
}

TEST_F(FileIo, NextImageSkipsAllWhiteSpace) {
    FILE* f = tmpFileWith(" \t\n\v\f\rP6");
    int eof = -1;
    pm_nextimage(f, &eof);
    EXPECT_EQ(eof, 0);
    EXPECT_EQ(std::fgetc(f), 'P');
    std::fclose(f);
    FILE* g = tmpFileWith("  \n");
    pm_nextimage(g, &eof);
    EXPECT_EQ(eof, 1);
    std::fclose(g);
}

TEST_F(FileIo, RasterCheckAgainstBytesLeft) {
    FILE* f = tmpFileWith("HEADER123456");
    std::fseek(f, 6, SEEK_SET);
    int result = -1;
    pm_check(f, PM_CHECK_BASIC, 6, &result);
    EXPECT_EQ(result, PM_CHECK_OK);
    pm_check(f, PM_CHECK_BASIC, 5, &result);
    EXPECT_EQ(result, PM_CHECK_TOO_LONG);
    pm_check(f, PM_CHECK_BASIC, 6, nullptr);
    EXPECT_EXIT(pm_check(f, PM_CHECK_BASIC, 7, &result), ::testing::ExitedWithCode(1),
                "File has invalid format.  The raster should contain 7 bytes, but\nthe file ends "
                "after only 6 bytes.");
    std::fclose(f);
}

TEST_F(FileIo, ReadUnknownSizeGrowsPastItsFirstBuffer) {
    const std::string content(200000, 'q');
    FILE* f = tmpFileWith(content);
    long n = 0;
    char* buf = pm_read_unknown_size(f, &n);
    EXPECT_EQ(n, 200000);
    EXPECT_EQ(std::string(buf, size_t(n)), content);
    std::free(buf);
    std::fclose(f);
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
    const auto writeAndClose = [] {
        FILE* f = std::fopen("/dev/full", "w");
        std::fputs("data", f);
        pm_closew(f);
    };
    EXPECT_EXIT(writeAndClose(), ::testing::ExitedWithCode(1),
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
    FILE* f = tmpFileWith("0123456789");
    for (const auto& c : cases) {
        unsigned long long needed = 0;
        long long left = 0;
        EXPECT_TRUE(pnm_rasterbytes(f, c.cols, c.rows, c.maxval, c.format, &needed, &left));
        EXPECT_EQ(needed, c.bytes) << c.format << " " << c.cols << "x" << c.rows;
        EXPECT_EQ(left, 10);
    }
    unsigned long long needed;
    long long left;
    // 2^62 samples of 6 bytes do not fit 64 bits; an unknown format has no raster size.
    EXPECT_FALSE(pnm_rasterbytes(f, 2147483640, 2147483640, 65535, RAW_PPM, &needed, &left));
    EXPECT_FALSE(pnm_rasterbytes(f, 1, 1, 255, 'P' * 256 + '7', &needed, &left));
    std::fclose(f);
}

TEST_F(FileIo, BytesLeftAfterThePositionOfFilesAndMemoryStreams) {
    FILE* f = tmpFileWith("P5 1 2 255\nab");
    std::fseek(f, 11, SEEK_SET);
    EXPECT_TRUE(pm_rasterfits(f, 1, 2, 255, RAW_PGM));
    EXPECT_FALSE(pm_rasterfits(f, 1, 3, 255, RAW_PGM)) << "one byte short";
    std::fgetc(f);
    EXPECT_FALSE(pm_rasterfits(f, 1, 2, 255, RAW_PGM));
    EXPECT_EQ(std::ftell(f), 12) << "the position is left where it was";
    std::fclose(f);

    char bytes[] = "abcdef";
    FILE* m = fmemopen(bytes, 6, "rb");
    std::fgetc(m);
    unsigned long long needed;
    long long left;
    pnm_rasterbytes(m, 1, 1, 255, RAW_PGM, &needed, &left);
    EXPECT_EQ(left, 5);
    EXPECT_EQ(std::fgetc(m), 'b') << "measuring a memory stream keeps its position";
    std::fclose(m);
}

TEST_F(FileIo, PipesCannotTellWhatTheyHold) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "abc", 3), 3);
    close(fds[1]);
    FILE* f = fdopen(fds[0], "rb");
    unsigned long long needed;
    long long left;
    EXPECT_TRUE(pnm_rasterbytes(f, 1, 1, 255, RAW_PGM, &needed, &left));
    EXPECT_EQ(left, -1);
    EXPECT_FALSE(pm_rasterfits(f, 0, 0, 255, RAW_PGM));
    std::fclose(f);
}
