// Colour counting and lookup throughput on a large dithered palette image.
//
// Writes a raw PPM of cols x rows pixels (default 8000 x 6400, 51.2 megapixels) in a temporary
// folder: smooth gradients and waves reduced to an 8 x 8 x 4 palette (256 colours) by random
// dithering, so neighbouring pixels rarely repeat. Then, several runs each, it times
//   - counting from the file: ppm_computecolorhist2 after the header, as the converter does,
//   - reading alone: the same rows through ppm_readppmrow, to show the reading share,
//   - counting from memory: ppm_computecolorhist over the image held in an array,
//   - lookups: ppm_lookupcolor of every pixel in a table built from the histogram,
// and prints megapixels per second (best and median of the runs). The folder is removed at the
// end. Usage: bench_colors [cols rows [runs]]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pixmill.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// A small deterministic generator: the image is the same on every run and machine.
struct Lcg {
    uint64_t state = 0x9e3779b97f4a7c15ull;
    double next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return double(state >> 11) / double(1ull << 53);
    }
};

// v in 0..1 dithered onto levels 0..L-1 and scaled back to 0..255.
unsigned char dither(double v, int levels, Lcg& rng) {
    const double scaled = v * (levels - 1);
    int level = int(scaled + rng.next());
    if (level > levels - 1) level = levels - 1;
    return static_cast<unsigned char>(level * 255 / (levels - 1));
}

void writeImage(const std::string& path, int cols, int rows, double* meanRunP) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fprintf(f, "P6\n%d %d\n255\n", cols, rows);
    std::vector<unsigned char> row(size_t(cols) * 3);
    Lcg rng;
    uint64_t runs = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            const double gx = double(x) / cols, gy = double(y) / rows;
            unsigned char* p = &row[size_t(x) * 3];
            p[0] = dither(gx, 8, rng);
            p[1] = dither(gy, 8, rng);
            p[2] = dither(0.5 + 0.5 * std::sin(x * 0.003 + y * 0.005), 4, rng);
            if (x == 0 || p[0] != p[-3] || p[1] != p[-2] || p[2] != p[-1]) ++runs;
        }
        std::fwrite(row.data(), 1, row.size(), f);
    }
    if (std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    *meanRunP = double(cols) * rows / double(runs);
}

struct Stats {
    double best, median;
};

Stats summarize(std::vector<double> mps) {
    std::sort(mps.begin(), mps.end());
    return Stats{mps.back(), mps[mps.size() / 2]};
}

void report(const char* what, const Stats& s) {
    std::printf("%-28s best %7.1f MP/s   median %7.1f MP/s\n", what, s.best, s.median);
}

FILE* openAfterHeader(const std::string& path, int* colsP, int* rowsP, pixval* maxvalP,
                      int* formatP) {
    FILE* f = pm_openr(path.c_str());
    ppm_readppminit(f, colsP, rowsP, maxvalP, formatP);
    return f;
}

} // namespace

int main(int argc, char* argv[]) {
    pm_init("bench_colors", 0);
    const int cols = argc > 2 ? std::atoi(argv[1]) : 8000;
    const int rows = argc > 2 ? std::atoi(argv[2]) : 6400;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const double megapixels = double(cols) * rows / 1e6;

    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/bench-colors-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = dir + "/dithered.ppm";
    double meanRun = 0;
    writeImage(path, cols, rows, &meanRun);
    std::printf("image: %d x %d = %.1f megapixels, raw PPM, mean run of equal pixels %.2f\n", cols,
                rows, megapixels, meanRun);

    int c, r, format, colors = 0;
    pixval maxval;
    std::vector<double> countFile, readOnly, countMemory, lookups;
    color_hist chv = nullptr;
    for (int i = 0; i < runs; ++i) {
        FILE* f = openAfterHeader(path, &c, &r, &maxval, &format);
        const Clock::time_point t0 = Clock::now();
        color_hist h = ppm_computecolorhist2(f, c, r, maxval, format, 256, &colors);
        countFile.push_back(megapixels / secondsSince(t0));
        pm_close(f);
        if (h == nullptr) {
            std::fprintf(stderr, "more than 256 colours (%d)\n", colors);
            return 1;
        }
        if (chv) ppm_freecolorhist(chv);
        chv = h;
    }
    std::printf("colours: %d\n", colors);

    pixel* rowbuf = static_cast<pixel*>(pm_allocrow(cols, int(sizeof(pixel))));
    for (int i = 0; i < runs; ++i) {
        FILE* f = openAfterHeader(path, &c, &r, &maxval, &format);
        const Clock::time_point t0 = Clock::now();
        for (int y = 0; y < r; ++y) ppm_readppmrow(f, rowbuf, c, maxval, format);
        readOnly.push_back(megapixels / secondsSince(t0));
        pm_close(f);
    }
    pm_freerow(rowbuf);

    FILE* f = openAfterHeader(path, &c, &r, &maxval, &format);
    pixel** pixels = pm_allocarray_of<pixel>(c, r);
    for (int y = 0; y < r; ++y) ppm_readppmrow(f, pixels[y], c, maxval, format);
    pm_close(f);

    for (int i = 0; i < runs; ++i) {
        int n = 0;
        const Clock::time_point t0 = Clock::now();
        color_hist h = ppm_computecolorhist(pixels, c, r, 256, &n);
        countMemory.push_back(megapixels / secondsSince(t0));
        ppm_freecolorhist(h);
    }

    color_hash cht = ppm_colorhisttocolorhash(chv, colors);
    long long checksum = 0;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point t0 = Clock::now();
        for (int y = 0; y < r; ++y) {
            const pixel* row = pixels[y];
            for (int x = 0; x < c; ++x) checksum += ppm_lookupcolor(cht, &row[x]);
        }
        lookups.push_back(megapixels / secondsSince(t0));
    }

    const Stats file = summarize(countFile), reading = summarize(readOnly);
    report("count from file", file);
    report("  of which reading rows", reading);
    report("count from memory", summarize(countMemory));
    report("lookups", summarize(lookups));
    // Time per pixel adds up: counting from a file = reading + counting.
    std::printf("reading share of counting from file (medians): %.0f%%\n",
                100.0 * file.median / reading.median);
    std::printf("(lookup checksum %lld)\n", checksum);

    ppm_freecolorhash(cht);
    ppm_freecolorhist(chv);
    pm_freearray(reinterpret_cast<char**>(pixels), r);
    std::remove(path.c_str());
    rmdir(dir.c_str());
    return 0;
}
