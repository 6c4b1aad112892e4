// Opening and closing streams, the seekable copy of a pipe, file positions, byte order.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "pmintern.h"

FILE* pm_openr(const char* name) {
    const bool standardInput = std::strcmp(name, "-") == 0;
    FILE* f = standardInput ? stdin : std::fopen(name, "rb");
    if (f == nullptr)
        pm_error("Unable to open file '%s' for reading.  fopen() returns errno %d (%s)", name,
                 errno, std::strerror(errno));
    // A directory opens, and only its first read fails, with a message about reading.
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (standardInput) pm_error("standard input is a directory, not a file");
        std::fclose(f);
        pm_error("'%s' is a directory, not a file", name);
    }
    return f;
}

FILE* pm_openw(const char* name) {
    if (std::strcmp(name, "-") == 0) return stdout;
    FILE* f = std::fopen(name, "wb");
    if (f == nullptr)
        pm_error("Unable to open file '%s' for writing.  fopen() returns errno %d (%s)", name,
                 errno, std::strerror(errno));
    return f;
}

static bool isRegularFile(FILE* f) {
    struct stat st;
    return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

// The copy of a pipe goes to a file in $TMPDIR (else /tmp) that is unlinked at once, so that
// nothing is left behind however the process ends.
FILE* pm_openr_seekable(const char* name) {
    FILE* in = pm_openr(name);
    if (isRegularFile(in)) return in;

    const char* tmpdir = std::getenv("TMPDIR");
    const std::string dir = tmpdir && *tmpdir ? tmpdir : "/tmp";
    std::string path = dir + "/pixmill-XXXXXX";
    const int fd = mkstemp(&path[0]);
    if (fd < 0)
        pm_error("cannot create temporary file in '%s': %s", dir.c_str(), std::strerror(errno));
    unlink(path.c_str());
    FILE* copy = fdopen(fd, "w+b");
    if (copy == nullptr)
        pm_error("cannot create temporary file in '%s': %s", dir.c_str(), std::strerror(errno));

    // The block size is not observable; a large one keeps the copy of a pipe cheap.
    static char buffer[65536];
    while (!std::feof(in) && !std::ferror(in) && !std::ferror(copy)) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, in);
        if (got > 0) std::fwrite(buffer, 1, got, copy);
    }
    if (std::ferror(in))
        pm_error("Error reading input file into temporary file.  Errno = %s (%d)",
                 std::strerror(errno), errno);
    if (std::fflush(copy) != 0 || std::ferror(copy))
        pm_error("cannot write temporary file in '%s': %s", dir.c_str(), std::strerror(errno));
    pm_close(in);
    if (std::fseek(copy, 0, SEEK_SET) != 0)
        pm_error("fseek() failed to rewind temporary file.  Errno = %s (%d)", std::strerror(errno),
                 errno);
    return copy;
}

void pm_close(FILE* f) {
    std::fflush(f);
    if (std::ferror(f)) pm_message("A file read or write error occurred at some point");
    if (f == stdin) return;
    if (std::fclose(f) != 0)
        pm_error("close of file failed with errno %d (%s)", errno, std::strerror(errno));
}

void pm_closer(FILE* f) { pm_close(f); }

void pm_closew(FILE* f) {
    // Output that did not reach its file must never end in success, so a failed flush or a
    // stream error is fatal here, also when informational messages are off.
    const bool flushFailed = std::fflush(f) != 0;
    const int flushErrno = errno;
    const bool streamError = std::ferror(f) != 0;
    if (streamError) pm_message("A file read or write error occurred at some point");
    if (f != stdin && std::fclose(f) != 0)
        pm_error("close of file failed with errno %d (%s)", errno, std::strerror(errno));
    if (flushFailed)
        pm_error("Error writing the output file.  Errno = %s (%d)", std::strerror(flushErrno),
                 flushErrno);
    if (streamError) pm_error("Error writing the output file");
}

// A 4-byte buffer holds a signed 32-bit offset; a buffer of sizeof(pm_filepos) holds any.
static bool validPositionSize(unsigned int size) {
    return size == sizeof(int32_t) || size == sizeof(pm_filepos);
}

void pm_tell2(FILE* f, void* fileposP, unsigned int fileposSize) {
    const off_t pos = ftello(f);
    if (pos < 0)
        pm_error("ftello() to get current file position failed.  Errno = %s (%d)\n",
                 std::strerror(errno), errno);
    if (!validPositionSize(fileposSize))
        pm_error("File position size passed to pm_tell() is invalid: %u.  "
                 "Valid sizes are %u and %u",
                 fileposSize, unsigned(sizeof(int32_t)), unsigned(sizeof(pm_filepos)));
    if (fileposSize == sizeof(int32_t)) {
        if (pos > INT32_MAX)
            pm_error("File position %lld does not fit in a 4-byte position", (long long)pos);
        const int32_t pos32 = int32_t(pos);
        std::memcpy(fileposP, &pos32, sizeof pos32);
    } else {
        const pm_filepos wide = pos;
        std::memcpy(fileposP, &wide, sizeof wide);
    }
}

void pm_seek2(FILE* f, const void* fileposP, unsigned int fileposSize) {
    if (!validPositionSize(fileposSize))
        pm_error("File position size passed to pm_seek() is invalid: %u.  "
                 "Valid sizes are %u and %u",
                 fileposSize, unsigned(sizeof(int32_t)), unsigned(sizeof(pm_filepos)));
    pm_filepos pos;
    if (fileposSize == sizeof(int32_t)) {
        int32_t pos32;
        std::memcpy(&pos32, fileposP, sizeof pos32);
        pos = pos32;
    } else {
        std::memcpy(&pos, fileposP, sizeof pos);
    }
    // A failed seek would have the next pass read from the wrong place.
    if (fseeko(f, off_t(pos), SEEK_SET) != 0)
        pm_error("fseeko() failed to restore a file position.  Errno = %s (%d)",
                 std::strerror(errno), errno);
    if (pm_progress) pm_progress(pm_hookcontext, f, true);
}

long pm_tell(FILE* f) {
    int32_t pos;
    pm_tell2(f, &pos, sizeof pos);
    return pos;
}

void pm_seek(FILE* f, long filepos) {
    const int32_t pos = int32_t(filepos);
    pm_seek2(f, &pos, sizeof pos);
}

void pm_nextimage(FILE* f, int* eofP) {
    for (;;) {
        const int c = std::getc(f);
        if (c == EOF) {
            if (std::feof(f)) {
                *eofP = 1;
                return;
            }
            pm_error("File error on getc() to position to image");
        }
        if (!std::isspace(c)) {
            if (std::ungetc(c, f) == EOF)
                pm_error("File error doing ungetc() to position to image.");
            *eofP = 0;
            return;
        }
    }
}

void pm_check(FILE* f, int checkType, unsigned int needRasterSize, int* retvalP) {
    (void)checkType;
    int result;
    const off_t pos = ftello(f);
    struct stat st;
    if (pos < 0) {
        result = PM_CHECK_UNCHECKABLE;
    } else if (fstat(fileno(f), &st) != 0) {
        pm_error("fstat() failed to get size of file, though ftello() successfully identified\n"
                 "the current position.  Errno=%s (%d)",
                 std::strerror(errno), errno);
    } else if (!S_ISREG(st.st_mode)) {
        result = PM_CHECK_UNCHECKABLE;
    } else {
        const off_t left = st.st_size - pos;
        if (left < off_t(needRasterSize))
            pm_error("File has invalid format.  The raster should contain %u bytes, but\n"
                     "the file ends after only %u bytes.",
                     needRasterSize, unsigned(left));
        result = left > off_t(needRasterSize) ? PM_CHECK_TOO_LONG : PM_CHECK_OK;
    }
    if (retvalP) *retvalP = result;
}

// The bytes from the current position to the end of a seekable stream, or -1 when the stream
// cannot tell. A descriptor must be a regular file (a device may seek without having an end);
// a stream without one (a memory stream) is measured by seeking to its end and back.
static long long bytesLeft(FILE* f) {
    const off_t pos = ftello(f);
    if (pos < 0) return -1;
    const int fd = fileno(f);
    if (fd >= 0) {
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
        return st.st_size > pos ? (long long)(st.st_size - pos) : 0;
    }
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(f);
    if (fseeko(f, pos, SEEK_SET) != 0)
        pm_error("fseeko() failed to restore a file position.  Errno = %s (%d)",
                 std::strerror(errno), errno);
    return end > pos ? (long long)(end - pos) : 0;
}

// The fewest bytes the raster can take: raw rows exactly, a plain sample at least one digit.
static bool smallestRaster(int cols, int rows, unsigned int maxval, int format,
                           unsigned long long* bytesP) {
    if (cols < 0 || rows < 0) return false;
    const size_t sampleBytes = maxval > 255 ? 2 : 1;
    size_t rowBytes;
    switch (format) {
    case RAW_PBM:
        rowBytes = (size_t(cols) + 7) / 8;
        break;
    case RAW_PGM:
        rowBytes = size_t(cols) * sampleBytes;
        break;
    case RAW_PPM:
        rowBytes = size_t(cols) * 3 * sampleBytes;
        break;
    case PLAIN_PBM:
    case PLAIN_PGM:
        rowBytes = size_t(cols);
        break;
    case PLAIN_PPM:
        rowBytes = size_t(cols) * 3;
        break;
    default:
        return false;
    }
    // cols is below 2^31, so rowBytes cannot wrap; the product with rows can.
    size_t total;
    if (!pm_mulsize(rowBytes, size_t(rows), &total)) return false;
    *bytesP = total;
    return true;
}

bool pnm_rasterbytes(FILE* f, int cols, int rows, pixval maxval, int format,
                     unsigned long long* neededP, long long* leftP) {
    *leftP = bytesLeft(f);
    return smallestRaster(cols, rows, maxval, format, neededP);
}

bool pm_rasterfits(FILE* f, int cols, int rows, unsigned int maxval, int format) {
    unsigned long long need;
    long long left;
    return pnm_rasterbytes(f, cols, rows, maxval, format, &need, &left) && left >= 0 &&
           (unsigned long long)left >= need;
}

char* pm_read_unknown_size(FILE* f, long* nreadP) {
    long size = 16384;
    char* buf = static_cast<char*>(std::malloc(size_t(size)));
    if (buf == nullptr) pm_error("Cannot allocate memory");
    long nread = 0;
    for (int c; (c = std::getc(f)) != EOF;) {
        if (nread == size) {
            size = size <= 65536 ? size * 2 : size + 65536;
            char* grown = static_cast<char*>(std::realloc(buf, size_t(size)));
            if (grown == nullptr) {
                std::free(buf);
                pm_error("Cannot allocate %ld bytes of memory", size);
            }
            buf = grown;
        }
        buf[nread++] = char(c);
    }
    *nreadP = nread;
    return buf;
}

// Reads n bytes into b; false as soon as one is missing.
static bool readBytes(FILE* f, unsigned char* b, int n) {
    for (int i = 0; i < n; ++i) {
        const int c = std::getc(f);
        if (c == EOF) return false;
        b[i] = static_cast<unsigned char>(c);
    }
    return true;
}

int pm_readbigshort(FILE* f, short* sP) {
    unsigned char b[2];
    if (!readBytes(f, b, 1)) return -1;
    *sP = short(b[0] << 8);
    if (!readBytes(f, b + 1, 1)) return -1;
    *sP = short(uint16_t(b[0] << 8 | b[1]));
    return 0;
}

int pm_readlittleshort(FILE* f, short* sP) {
    unsigned char b[2];
    if (!readBytes(f, b, 1)) return -1;
    *sP = short(b[0]);
    if (!readBytes(f, b + 1, 1)) return -1;
    *sP = short(uint16_t(b[1] << 8 | b[0]));
    return 0;
}

static int readLong(FILE* f, long* lP, bool bigEndian) {
    unsigned char b[4];
    if (!readBytes(f, b, 4)) return -1;
    const uint32_t v =
        bigEndian ? (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3])
                  : (uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0]);
    *lP = long(int32_t(v));
    return 0;
}

int pm_readbiglong(FILE* f, long* lP) { return readLong(f, lP, true); }
int pm_readlittlelong(FILE* f, long* lP) { return readLong(f, lP, false); }

int pm_writebigshort(FILE* f, short s) {
    std::putc((s >> 8) & 0xff, f);
    std::putc(s & 0xff, f);
    return 0;
}

int pm_writelittleshort(FILE* f, short s) {
    std::putc(s & 0xff, f);
    std::putc((s >> 8) & 0xff, f);
    return 0;
}

int pm_writebiglong(FILE* f, long l) {
    for (int shift = 24; shift >= 0; shift -= 8) std::putc(int((l >> shift) & 0xff), f);
    return 0;
}

int pm_writelittlelong(FILE* f, long l) {
    for (int shift = 0; shift <= 24; shift += 8) std::putc(int((l >> shift) & 0xff), f);
    return 0;
}
