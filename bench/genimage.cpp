// Generates synthetic benchmark images on standard output: a photo-like RGB image (smooth
// gradients, texture and noise), its gray version, a 200-colour dithered version and a bilevel
// version, so that the benchmarks need no data files.
//
//   genimage photo|gray|gray-ppm|palette200|bilevel|rgb16 WIDTH HEIGHT > image.pnm
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

uint32_t rng = 12345;
unsigned noise() {
    rng = rng * 1664525u + 1013904223u;
    return rng >> 24;
}

// One photo-like pixel: large gradients, a few soft shapes, fine texture and sensor noise.
void photoPixel(int x, int y, int w, int h, double out[3]) {
    const double u = double(x) / w, v = double(y) / h;
    const double sky = 0.5 + 0.5 * std::sin(3.1 * u + 1.7 * v);
    const double blob = std::exp(-((u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4)) * 12);
    const double texture = 0.08 * std::sin(x * 0.21) * std::cos(y * 0.17);
    out[0] = 0.55 * sky + 0.4 * blob + texture;
    out[1] = 0.45 * sky + 0.25 * blob + 0.5 * v * (1 - u) + texture;
    out[2] = 0.7 * (1 - v) + 0.2 * blob - texture;
    for (int c = 0; c < 3; ++c) {
        out[c] = out[c] * 0.85 + (double(noise()) - 128) / 255.0 * 0.06;
        out[c] = out[c] < 0 ? 0 : out[c] > 1 ? 1 : out[c];
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: genimage photo|gray|gray-ppm|palette200|bilevel|rgb16 W H\n");
        return 1;
    }
    const char* kind = argv[1];
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    const bool gray = !std::strcmp(kind, "gray");
    const bool bilevel = !std::strcmp(kind, "bilevel");
    const bool rgb16 = !std::strcmp(kind, "rgb16");
    const int channels = gray ? 1 : 3;
    if (bilevel)
        std::printf("P4\n%d %d\n", w, h);
    else
        std::printf("P%d\n%d %d\n%d\n", gray ? 5 : 6, w, h, rgb16 ? 65535 : 255);

    std::vector<unsigned char> row;
    for (int y = 0; y < h; ++y) {
        row.clear();
        unsigned char bits = 0;
        for (int x = 0; x < w; ++x) {
            double p[3];
            photoPixel(x, y, w, h, p);
            const double lum = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
            if (bilevel) {
                // Ordered dithering keeps the bitmap busy, like a scanned page of halftones.
                static const int bayer[4][4] = {
                    {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
                if (lum * 16 < bayer[y % 4][x % 4] + 0.5) bits |= uint8_t(0x80 >> (x % 8));
                if (x % 8 == 7 || x == w - 1) {
                    row.push_back(bits);
                    bits = 0;
                }
            } else if (gray) {
                row.push_back(uint8_t(lum * 255 + 0.5));
            } else if (!std::strcmp(kind, "gray-ppm")) {
                const uint8_t g = uint8_t(lum * 255 + 0.5);
                row.insert(row.end(), {g, g, g});
            } else if (!std::strcmp(kind, "palette200")) {
                // 8 x 5 x 5 = 200 levels with a little dither noise: few runs of equal pixels.
                const int levels[3] = {8, 5, 5};
                for (int c = 0; c < 3; ++c) {
                    const double d = p[c] * (levels[c] - 1) + (double(noise()) / 255.0 - 0.5) * 0.6;
                    int q = int(d + 0.5);
                    q = q < 0 ? 0 : q >= levels[c] ? levels[c] - 1 : q;
                    row.push_back(uint8_t(q * 255 / (levels[c] - 1)));
                }
            } else if (rgb16) {
                for (int c = 0; c < 3; ++c) {
                    const unsigned v = unsigned(p[c] * 65535 + 0.5);
                    row.push_back(uint8_t(v >> 8));
                    row.push_back(uint8_t(v));
                }
            } else {
                for (int c = 0; c < channels; ++c) row.push_back(uint8_t(p[c] * 255 + 0.5));
            }
        }
        std::fwrite(row.data(), 1, row.size(), stdout);
    }
    return std::fclose(stdout) == 0 ? 0 : 1;
}
