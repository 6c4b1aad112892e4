// Throughput of the measuring passes over a raw image: the shared read (gray test, significant
// bits, census), the alpha mask's reduction to one colour, and the colour-and-alpha pairs. Each
// pass re-reads the raster (and the mask) from a temporary file in the page cache, as the
// converter does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gridpack.h"

namespace {

constexpr int cols = 2048, rows = 2048;

FILE* fileWith(const std::string& bytes) {
    FILE* f = std::tmpfile();
    if (!f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

std::string header(const char* magic, int maxval) {
    return std::string(magic) + "\n" + std::to_string(cols) + " " + std::to_string(rows) + "\n" +
           std::to_string(maxval) + "\n";
}

// Measures image (and mask) under the options; reports the time and the passes begun.
gridpack::Facts timeMeasure(const char* what, const std::vector<const char*>& args,
                            const std::string& image, const std::string& mask) {
    std::vector<char*> argv{const_cast<char*>("bench")};
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    gridpack::Options o;
    gridpack::parseOptions(int(argv.size()), argv.data(), &o);
    FILE* in = fileWith(image);
    FILE* alpha = mask.empty() ? nullptr : fileWith(mask);
    gridpack::Conversion c(o, in, alpha, nullptr, nullptr, nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    gridpack::measure(c);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const int passes = c.image.passes;
    std::printf("%-44s %7.1f ms  %7.1f Mpixel/s (%d pass%s)\n", what, s * 1e3,
                double(cols) * rows * passes / 1e6 / s, passes, passes == 1 ? "" : "es");
    std::fclose(in);
    if (alpha) std::fclose(alpha);
    return c.facts;
}

} // namespace

int main() {
    pm_progname = "bench";
    pm_setMessage(0, nullptr);

    // 16-bit gray whose bytes repeat: the 16-to-8 level reads everything.
    std::string gray16 = header("P5", 65535);
    for (int i = 0; i < cols * rows; ++i) gray16.append(2, char(i * 7 % 251));
    if (timeMeasure("shared read, 16-bit gray -> 8", {}, gray16, "").meaningfulBits != 8)
        std::printf("unexpected bit count\n");

    // 8-bit colour of 100 colours; colour c is transparent (alpha 0) only for c == 0, so the
    // mask reduces to one transparent colour after two full passes; the second mask gives two
    // alpha values per colour: 200 pairs.
    std::string rgb = header("P6", 255), mask = header("P5", 255), mask2 = mask;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const int c = (x / 4 + y) % 100;
            rgb += char(c);
            rgb += char(2 * c);
            rgb += char(255 - c);
            mask += char(c == 0 ? 0 : 255);
            mask2 += char((x / 8) % 2 ? 255 : 40);
        }
    if (timeMeasure("census, 100 colours (gray test on the way)", {}, rgb, "").colors != 100)
        std::printf("unexpected colour count\n");
    if (!timeMeasure("mask to one colour, then census", {"-alpha", "m"}, rgb, mask).maskIsOneColor)
        std::printf("unexpected mask answer\n");
    if (timeMeasure("census, then 200 colour-and-alpha pairs", {"-alpha", "m"}, rgb, mask2)
            .pairCount != 200)
        std::printf("unexpected pair count\n");
    return 0;
}
