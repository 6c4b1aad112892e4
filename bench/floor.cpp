// The floor: what any converter must spend. Reads a raw PBM/PGM/PPM into memory in one piece
// and writes the PNG with libpng directly, at libpng's default filters and compression, in the
// colour type and bit depth given. Nothing is analysed; a palette is built with a direct table.
//
//   floor gray|rgb|palette|bilevel DEPTH in.pnm out.png
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <png.h>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "floor: %s\n", what);
    std::exit(1);
}

struct Image {
    int magic, cols, rows, maxval;
    std::vector<unsigned char> data; // the whole file
    size_t raster;                   // offset of the first raster byte
};

int headerNumber(const std::vector<unsigned char>& d, size_t* at) {
    while (*at < d.size() && (d[*at] == ' ' || d[*at] == '\n' || d[*at] == '\r' || d[*at] == '\t'))
        ++*at;
    int v = 0;
    while (*at < d.size() && d[*at] >= '0' && d[*at] <= '9') v = v * 10 + (d[(*at)++] - '0');
    return v;
}

Image readImage(const char* path) {
    Image im;
    FILE* f = std::fopen(path, "rb");
    if (!f) fail("cannot open input");
    std::fseek(f, 0, SEEK_END);
    im.data.resize(size_t(std::ftell(f)));
    std::rewind(f);
    if (std::fread(im.data.data(), 1, im.data.size(), f) != im.data.size()) fail("short read");
    std::fclose(f);
    if (im.data.size() < 3 || im.data[0] != 'P') fail("not a raw anymap");
    im.magic = im.data[1] - '0';
    size_t at = 2;
    im.cols = headerNumber(im.data, &at);
    im.rows = headerNumber(im.data, &at);
    im.maxval = im.magic == 4 ? 1 : headerNumber(im.data, &at);
    im.raster = at + 1;
    return im;
}

// Plain data only in this frame: a libpng error longjmps back into it.
void encode(const char* path, int cols, int rows, int depth, int colorType,
            const png_color* palette, int paletteSize, const unsigned char* source,
            size_t rowBytes) {
    FILE* out = std::fopen(path, "wb");
    if (!out) fail("cannot open output");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) fail("libpng error");
    png_init_io(png, out);
    png_set_IHDR(png, info, png_uint_32(cols), png_uint_32(rows), depth, colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (paletteSize > 0) png_set_PLTE(png, info, palette, paletteSize);
    png_write_info(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE && depth < 8) png_set_packing(png);
    for (int y = 0; y < rows; ++y)
        png_write_row(png, const_cast<png_bytep>(source + size_t(y) * rowBytes));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(out) != 0) fail("cannot write output");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) fail("usage: floor gray|rgb|palette|bilevel DEPTH in.pnm out.png");
    const std::string kind = argv[1];
    const int depth = std::atoi(argv[2]);
    const Image im = readImage(argv[3]);
    const unsigned char* raster = im.data.data() + im.raster;
    const size_t cols = size_t(im.cols);
    const int inChannels = im.magic == 6 ? 3 : 1;
    const size_t inBytes = im.maxval > 255 ? 2 : 1;
    const size_t inRow = im.magic == 4 ? (cols + 7) / 8 : cols * size_t(inChannels) * inBytes;

    int colorType = PNG_COLOR_TYPE_GRAY;
    std::vector<unsigned char> converted; // only when the raster cannot be handed over as is
    std::vector<png_color> palette;
    if (kind == "rgb") {
        colorType = PNG_COLOR_TYPE_RGB;
    } else if (kind == "gray" && inChannels == 3) {
        converted.resize(cols * size_t(im.rows) * inBytes);
        for (size_t i = 0, n = cols * size_t(im.rows); i < n; ++i)
            std::memcpy(&converted[i * inBytes], raster + (i * 3 + 2) * inBytes, inBytes);
    } else if (kind == "bilevel") {
        converted.assign(raster, raster + inRow * size_t(im.rows));
        for (unsigned char& b : converted) b = static_cast<unsigned char>(~b);
    } else if (kind == "palette") {
        colorType = PNG_COLOR_TYPE_PALETTE;
        static int32_t indexOf[1 << 24];
        std::memset(indexOf, -1, sizeof indexOf);
        converted.resize(cols * size_t(im.rows));
        for (size_t i = 0; i < converted.size(); ++i) {
            const unsigned char* p = raster + i * size_t(inChannels);
            const uint32_t key = inChannels == 3 ? uint32_t(p[0]) << 16 | p[1] << 8 | p[2] : p[0];
            if (indexOf[key] < 0) {
                if (palette.size() == 256) fail("more than 256 colours");
                indexOf[key] = int32_t(palette.size());
                palette.push_back(
                    {p[0], inChannels == 3 ? p[1] : p[0], inChannels == 3 ? p[2] : p[0]});
            }
            converted[i] = uint8_t(indexOf[key]);
        }
    }

    const unsigned char* source = converted.empty() ? raster : converted.data();
    const size_t rowBytes = converted.empty()   ? inRow
                            : kind == "bilevel" ? inRow
                            : kind == "palette" ? cols
                                                : cols * inBytes;
    encode(argv[4], im.cols, im.rows, depth, colorType, palette.data(), int(palette.size()), source,
           rowBytes);
    return 0;
}
