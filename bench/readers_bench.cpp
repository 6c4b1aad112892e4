// Reader throughput: writes one large image per format into a temporary folder, then reads its
// raster through pnm_readpnmrow (a PAM's through pam_readpamrow) after a rewind to the recorded
// raster position, as each pass of the converter does. One untimed pass brings the file into the
// page cache; the timed passes follow. Prints megapixels per second and megabytes of input per
// second.
//
//   bench_readers [megabytes per image, default 100] [timed passes, default 5] [only cases whose
//                 name starts with this, e.g. P4]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "pixmill.h"

namespace {

struct Case {
    const char* name;
    char digit; // the magic number's digit
    unsigned maxval;
    int depth = 0; // a PAM's samples per pixel
};

const Case cases[] = {
    {"P4 raw bitmap", '4', 1},
    {"P5 raw gray 8-bit", '5', 255},
    {"P5 raw gray 16-bit", '5', 65535},
    {"P6 raw colour 8-bit", '6', 255},
    {"P6 raw colour 16-bit", '6', 65535},
    // Below the full maxval of the width the rows are checked for samples above maxval.
    {"P5 raw gray maxval 100", '5', 100},
    {"P6 raw colour max 4095", '6', 4095},
    {"P1 plain bitmap", '1', 1},
    {"P2 plain gray 8-bit", '2', 255},
    {"P3 plain colour 8-bit", '3', 255},
    // PAM: the alpha samples come in the same read and go to a row of their own.
    {"P7 RGB_ALPHA 8-bit", '7', 255, 4},
    {"P7 RGB_ALPHA 16-bit", '7', 65535, 4},
    {"P7 GRAYSCALE_ALPHA 8-bit", '7', 255, 2},
};

// Reproducible noise: plain rasters get numbers of varying length, as photographs do.
struct XorShift {
    uint32_t state = 2463534242u;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

int samplesPerPixel(const Case& c) {
    return c.depth ? c.depth : c.digit == '3' || c.digit == '6' ? 3 : 1;
}

// Bytes of raster per pixel, approximately for the plain forms (used only to size the image).
double rasterBytesPerPixel(const Case& c) {
    switch (c.digit) {
    case '1':
        return 2.0; // "0 " or "1\n"
    case '4':
        return 1.0 / 8;
    case '2':
    case '3':
        return samplesPerPixel(c) * 3.6; // 0..255 written with separators
    default:
        return samplesPerPixel(c) * (c.maxval > 255 ? 2.0 : 1.0);
    }
}

void writeImage(const std::string& path, const Case& c, int cols, int rows) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    XorShift rng;
    if (c.digit == '7') {
        std::fprintf(f, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %u\nENDHDR\n", cols, rows,
                     c.depth, c.maxval);
        std::vector<unsigned char> raw(size_t(cols) * c.depth * (c.maxval > 255 ? 2 : 1));
        for (int row = 0; row < rows; ++row) {
            for (auto& byte : raw) byte = static_cast<unsigned char>(rng.next());
            std::fwrite(raw.data(), 1, raw.size(), f);
        }
    } else if (c.digit == '1' || c.digit == '4') {
        std::fprintf(f, "P%c\n%d %d\n", c.digit, cols, rows);
        std::vector<unsigned char> packed((size_t(cols) + 7) / 8);
        std::string plain;
        for (int row = 0; row < rows; ++row) {
            if (c.digit == '4') {
                for (auto& byte : packed) byte = static_cast<unsigned char>(rng.next());
                std::fwrite(packed.data(), 1, packed.size(), f);
                continue;
            }
            plain.clear();
            for (int col = 0; col < cols; ++col) {
                plain += char('0' + (rng.next() & 1));
                plain += (col % 35 == 34 || col == cols - 1) ? '\n' : ' ';
            }
            std::fwrite(plain.data(), 1, plain.size(), f);
        }
    } else {
        // Graymaps and pixmaps go through the library's own writers.
        const bool plain = c.digit == '2' || c.digit == '3';
        const bool color = samplesPerPixel(c) == 3;
        std::vector<gray> grays(static_cast<size_t>(cols));
        std::vector<pixel> pixels(static_cast<size_t>(cols));
        if (color)
            ppm_writeppminit(f, cols, rows, c.maxval, plain);
        else
            pgm_writepgminit(f, cols, rows, c.maxval, plain);
        for (int row = 0; row < rows; ++row) {
            if (color) {
                for (auto& p : pixels)
                    p = pixel{rng.next() % (c.maxval + 1), rng.next() % (c.maxval + 1),
                              rng.next() % (c.maxval + 1)};
                ppm_writeppmrow(f, pixels.data(), cols, c.maxval, plain);
            } else {
                for (auto& g : grays) g = rng.next() % (c.maxval + 1);
                pgm_writepgmrow(f, grays.data(), cols, c.maxval, plain);
            }
        }
    }
    if (std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One pass over the raster from the recorded position; returns a checksum so that nothing is
// optimised away.
uint64_t readPass(FILE* f, const int32_t& rasterPos, xel* row, gray* alpha, int cols, int rows,
                  pixval maxval, int format, int depth) {
    pm_seek2(f, &rasterPos, sizeof rasterPos);
    uint64_t sum = 0;
    for (int r = 0; r < rows; ++r) {
        if (format == PAM_FORMAT)
            pam_readpamrow(f, row, alpha, cols, maxval, depth);
        else
            pnm_readpnmrow(f, row, cols, maxval, format);
        sum += row[r % cols].r + row[(r * 7) % cols].g + row[cols - 1].b + alpha[r % cols];
    }
    return sum;
}

void runCase(const std::string& dir, const Case& c, double megabytes, int passes) {
    const int cols = 4000;
    const double pixelsWanted = megabytes * 1e6 / rasterBytesPerPixel(c);
    const int rows = std::max(1, int(pixelsWanted / cols + 0.999));
    const std::string path = dir + "/image.pnm";
    writeImage(path, c, cols, rows);

    FILE* f = pm_openr_seekable(path.c_str());
    int fcols, frows, format, depth;
    pixval maxval;
    pnm_readpaminit(f, &fcols, &frows, &maxval, &format, &depth);
    int32_t rasterPos;
    pm_tell2(f, &rasterPos, sizeof rasterPos);
    struct stat st;
    fstat(fileno(f), &st);
    const double rasterMB = double(st.st_size - rasterPos) / 1e6;
    const double megapixels = double(fcols) * frows / 1e6;

    xel* row = static_cast<xel*>(pm_allocrow(fcols, sizeof(xel)));
    std::vector<gray> alpha(size_t(fcols), 0);
    uint64_t check = readPass(f, rasterPos, row, alpha.data(), fcols, frows, maxval, format,
                              depth); // page cache
    std::vector<double> times;
    for (int p = 0; p < passes; ++p) {
        const auto start = std::chrono::steady_clock::now();
        check += readPass(f, rasterPos, row, alpha.data(), fcols, frows, maxval, format, depth);
        times.push_back(secondsSince(start));
    }
    pm_freerow(row);
    pm_closer(f);
    std::remove(path.c_str());

    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-22s %5dx%-6d %8.1f MB  median %6.3f s  best %6.3f s  %8.1f MP/s  %8.1f MB/s"
                "  (check %llu)\n",
                c.name, fcols, frows, rasterMB, median, times.front(), megapixels / median,
                rasterMB / median, (unsigned long long)(check % 1000));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    pm_init("bench_readers", 0);
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 100.0;
    const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/bench_readers-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    std::printf(
        "reader throughput through pnm_readpnmrow and pam_readpamrow, %.0f MB of raster per image, "
        "median of %d passes from the page cache\n",
        megabytes, passes);
    const std::string only = argc > 3 ? argv[3] : "";
    for (const Case& c : cases)
        if (std::string(c.name).rfind(only, 0) == 0) runCase(dir, c, megabytes, passes);
    rmdir(dir.c_str());
    return 0;
}
