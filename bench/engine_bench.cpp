// Throughput of the analysis passes over a raw image: significant bits, the alpha-mask test,
// the census and the colour-and-alpha palette. Each pass re-reads the raster from a temporary
// file (in the page cache), as the converter does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gridpack.h"

namespace {

constexpr int cols = 2048, rows = 2048;

struct Image {
    FILE* f;
    int cols, rows, format;
    pixval maxval;
    pm_filepos rasterPos;
};

Image openImage(const std::string& bytes) {
    Image img{};
    img.f = std::tmpfile();
    if (!img.f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), img.f);
    std::rewind(img.f);
    pnm_readpnminit(img.f, &img.cols, &img.rows, &img.maxval, &img.format);
    pm_tell2(img.f, &img.rasterPos, sizeof img.rasterPos);
    return img;
}

template <typename F> void timeIt(const char* what, int passes, F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double mpix = double(cols) * rows * passes / 1e6;
    std::printf("%-44s %7.1f ms  %7.1f Mpixel/s (%d pass%s)\n", what, s * 1e3, mpix / s, passes,
                passes == 1 ? "" : "es");
}

} // namespace

int main() {
    pm_progname = "bench";
    pm_setMessage(0, nullptr);
    gridpack::resetOptions();

    // 16-bit gray whose bytes repeat: the 16-to-8 pass reads everything.
    std::string gray16 = "P5\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n65535\n";
    for (int i = 0; i < cols * rows; ++i) gray16.append(2, char(i * 7 % 251));
    Image g = openImage(gray16);
    int bits = 0;
    timeIt("findRedundantBits, 16-bit gray -> 8", 1, [&] {
        gridpack::findRedundantBits(g.f, g.rasterPos, g.cols, g.rows, g.maxval, g.format, false,
                                    false, &bits);
    });
    if (bits != 8) std::printf("unexpected bit count %d\n", bits);

    // 8-bit colour of 100 colours; colour c is transparent (alpha 0) only for c == 0, so the
    // mask reduces to one transparent colour after two full passes.
    std::string rgb = "P6\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n255\n";
    gray** mask = pm_allocarray_of<gray>(cols, rows);
    gray** mask2 = pm_allocarray_of<gray>(cols, rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const int c = (x / 4 + y) % 100;
            rgb += char(c);
            rgb += char(2 * c);
            rgb += char(255 - c);
            mask[y][x] = c == 0 ? 0 : 255;
            mask2[y][x] = (x / 8) % 2 ? 255 : 40; // two alpha values per colour: 200 pairs
        }
    Image c = openImage(rgb);
    bool can = false;
    pixel tc;
    timeIt("alpha_trans, one transparent colour", 2, [&] {
        gridpack::alpha_trans(c.f, c.rasterPos, c.cols, c.rows, c.maxval, c.format, mask, 255, &can,
                              &tc);
    });
    if (!can) std::printf("unexpected alpha_trans answer\n");

    color_hist chv;
    int colors = 0;
    timeIt("getChv, 100 colours", 1, [&] {
        gridpack::getChv(c.f, c.rasterPos, c.cols, c.rows, c.maxval, c.format, 256, &chv, &colors);
    });
    if (colors != 100) std::printf("unexpected colour count %d\n", colors);

    std::vector<pixel> palette(256);
    std::vector<gray> trans(256);
    unsigned size = 0, transSize = 0;
    bool tooMany = true;
    timeIt("compute_alpha_palette, 200 pairs", 1, [&] {
        gridpack::compute_alpha_palette(c.f, c.cols, c.rows, c.maxval, c.format, c.rasterPos, mask2,
                                        255, palette.data(), trans.data(), &size, &transSize,
                                        &tooMany);
    });
    if (tooMany || size != 200) std::printf("unexpected pair count %u\n", size);

    gridpack::color_alpha_hash table = nullptr;
    color_hash unused = nullptr;
    gridpack::computeColorMapLookupTable(true, palette.data(), size, trans.data(), transSize, true,
                                         255, &unused, &table);
    xel* row = static_cast<xel*>(pm_allocrow(cols, sizeof(xel)));
    long sum = 0;
    timeIt("read + lookupColorAlpha every pixel", 1, [&] {
        pm_seek2(c.f, &c.rasterPos, sizeof c.rasterPos);
        for (int y = 0; y < rows; ++y) {
            pnm_readpnmrow(c.f, row, cols, c.maxval, c.format);
            for (int x = 0; x < cols; ++x)
                sum += gridpack::lookupColorAlpha(table, &row[x], &mask2[y][x]);
        }
    });
    if (sum < 0) std::printf("a pixel was not found\n");
    gridpack::freecoloralphahash(table);
    pm_freerow(row);
    gridpack::freeChv();
    pm_freearray(reinterpret_cast<char**>(mask), rows);
    pm_freearray(reinterpret_cast<char**>(mask2), rows);
    std::fclose(g.f);
    std::fclose(c.f);
    return 0;
}
