// The floor: what any converter must spend. Reads a PBM/PGM/PPM into memory in one piece
// and writes the PNG with libpng directly, at libpng's default filters and compression, in the
// colour type and bit depth given. Nothing is analysed; a palette is built with a direct table.
// Plain (text) input is parsed into the raw layout first, with a scanner as lean as it can be, so
// that the floor of a plain image includes the unavoidable cost of reading text. A 16-bit input
// written at depth 8 keeps each sample's high byte, which is exact for the samples that repeat
// their byte (the only ones a converter may narrow without loss). The input may be "-" (standard
// input, read to its end) and maxval must be 1, 255 or 65535: the floor does not rescale.
//
//   floor [-interlace] gray|rgb|palette|bilevel DEPTH in.pnm|- out.png
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

bool isSpace(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

int headerNumber(const std::vector<unsigned char>& d, size_t* at) {
    for (;;) {
        while (*at < d.size() && isSpace(d[*at])) ++*at;
        if (*at >= d.size() || d[*at] != '#') break;
        while (*at < d.size() && d[*at] != '\n') ++*at;
    }
    int v = 0;
    while (*at < d.size() && d[*at] >= '0' && d[*at] <= '9') v = v * 10 + (d[(*at)++] - '0');
    return v;
}

// A file's size is known ahead, so it is read with one fread (the one spare byte sees the end);
// standard input grows the buffer as it comes.
void readAll(FILE* f, size_t expected, std::vector<unsigned char>* data) {
    size_t used = 0;
    data->resize(expected + 1);
    for (;;) {
        used += std::fread(data->data() + used, 1, data->size() - used, f);
        if (used < data->size()) break;
        data->resize(data->size() * 2);
    }
    if (std::ferror(f)) fail("read error");
    data->resize(used);
}

// Plain rasters become the raw layout of the same image: P1 packed bits, P2/P3 one or two bytes
// (most significant first) per sample.
std::vector<unsigned char> parsePlain(const Image& im, size_t inRow) {
    const std::vector<unsigned char>& d = im.data;
    const size_t n = d.size();
    size_t at = im.raster - 1; // the plain raster may start right after the maxval's digits
    std::vector<unsigned char> raw(inRow * size_t(im.rows));
    if (im.magic == 1) {
        for (size_t y = 0; y < size_t(im.rows); ++y) {
            unsigned char* row = &raw[y * inRow];
            for (size_t x = 0; x < size_t(im.cols); ++x) {
                while (at < n && isSpace(d[at])) ++at;
                if (at >= n) fail("short plain raster");
                if (d[at++] == '1') row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            }
        }
        return raw;
    }
    const size_t samples = size_t(im.cols) * size_t(im.rows) * (im.magic == 3 ? 3 : 1);
    const bool wide = im.maxval > 255;
    for (size_t i = 0; i < samples; ++i) {
        while (at < n && isSpace(d[at])) ++at;
        if (at >= n) fail("short plain raster");
        unsigned v = 0;
        while (at < n && d[at] >= '0' && d[at] <= '9') v = v * 10 + unsigned(d[at++] - '0');
        if (wide) {
            raw[2 * i] = static_cast<unsigned char>(v >> 8);
            raw[2 * i + 1] = static_cast<unsigned char>(v);
        } else {
            raw[i] = static_cast<unsigned char>(v);
        }
    }
    return raw;
}

Image readImage(const char* path) {
    Image im;
    if (std::strcmp(path, "-") == 0) {
        readAll(stdin, size_t(1) << 20, &im.data);
    } else {
        FILE* f = std::fopen(path, "rb");
        if (!f) fail("cannot open input");
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::rewind(f);
        readAll(f, size > 0 ? size_t(size) : 0, &im.data);
        std::fclose(f);
    }
    if (im.data.size() < 3 || im.data[0] != 'P' || im.data[1] < '1' || im.data[1] > '6')
        fail("not an anymap");
    im.magic = im.data[1] - '0';
    size_t at = 2;
    im.cols = headerNumber(im.data, &at);
    im.rows = headerNumber(im.data, &at);
    im.maxval = im.magic == 1 || im.magic == 4 ? 1 : headerNumber(im.data, &at);
    im.raster = at + 1;
    if (im.maxval != 1 && im.maxval != 255 && im.maxval != 65535)
        fail("maxval must be 1, 255 or 65535");
    return im;
}

// Plain data only in this frame: a libpng error longjmps back into it.
void encode(const char* path, int cols, int rows, int depth, int colorType, bool interlace,
            const png_color* palette, int paletteSize, const unsigned char* source,
            size_t rowBytes) {
    FILE* out = std::fopen(path, "wb");
    if (!out) fail("cannot open output");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) fail("libpng error");
    png_init_io(png, out);
    png_set_IHDR(png, info, png_uint_32(cols), png_uint_32(rows), depth, colorType,
                 interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (paletteSize > 0) png_set_PLTE(png, info, palette, paletteSize);
    png_write_info(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE && depth < 8) png_set_packing(png);
    // libpng takes each Adam7 pass's pixels from full rows, so every pass hands over all rows.
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < rows; ++y)
            png_write_row(png, const_cast<png_bytep>(source + size_t(y) * rowBytes));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(out) != 0) fail("cannot write output");
}

} // namespace

int main(int argc, char** argv) {
    const bool interlace = argc > 1 && std::strcmp(argv[1], "-interlace") == 0;
    if (interlace) --argc, ++argv;
    if (argc != 5)
        fail("usage: floor [-interlace] gray|rgb|palette|bilevel DEPTH in.pnm|- out.png");
    const std::string kind = argv[1];
    const int depth = std::atoi(argv[2]);
    const Image im = readImage(argv[3]);
    const size_t cols = size_t(im.cols);
    const int inChannels = im.magic == 6 || im.magic == 3 ? 3 : 1;
    size_t inBytes = im.maxval > 255 ? 2 : 1;
    const bool bitmap = im.magic == 4 || im.magic == 1;
    const size_t inRow = bitmap ? (cols + 7) / 8 : cols * size_t(inChannels) * inBytes;
    if (im.magic >= 4 &&
        (im.data.size() < im.raster || im.data.size() - im.raster < inRow * size_t(im.rows)))
        fail("short raw raster");

    std::vector<unsigned char> parsed; // the raster of a plain image, or a 16-bit one narrowed
    if (im.magic <= 3) parsed = parsePlain(im, inRow);
    const unsigned char* raster = parsed.empty() ? im.data.data() + im.raster : parsed.data();
    if (inBytes == 2 && depth == 8) {
        std::vector<unsigned char> narrow(inRow / 2 * size_t(im.rows));
        for (size_t i = 0; i < narrow.size(); ++i) narrow[i] = raster[2 * i];
        parsed.swap(narrow);
        raster = parsed.data();
        inBytes = 1;
    }
    const size_t rasterRow = bitmap ? inRow : cols * size_t(inChannels) * inBytes;

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
        converted.assign(raster, raster + rasterRow * size_t(im.rows));
        for (unsigned char& b : converted) b = static_cast<unsigned char>(~b);
    } else if (kind == "palette") {
        colorType = PNG_COLOR_TYPE_PALETTE;
        // Index + 1 per colour, 0 for none yet. calloc's fresh zero pages are mapped only when
        // touched, so a few hundred colours cost a few hundred page faults, not 32 MB of stores.
        uint16_t* indexOf = static_cast<uint16_t*>(std::calloc(size_t(1) << 24, sizeof(uint16_t)));
        if (!indexOf) fail("out of memory");
        converted.resize(cols * size_t(im.rows));
        for (size_t i = 0; i < converted.size(); ++i) {
            const unsigned char* p = raster + i * size_t(inChannels);
            const uint32_t key = inChannels == 3 ? uint32_t(p[0]) << 16 | p[1] << 8 | p[2] : p[0];
            if (indexOf[key] == 0) {
                if (palette.size() == 256) fail("more than 256 colours");
                indexOf[key] = uint16_t(palette.size() + 1);
                palette.push_back(
                    {p[0], inChannels == 3 ? p[1] : p[0], inChannels == 3 ? p[2] : p[0]});
            }
            converted[i] = uint8_t(indexOf[key] - 1);
        }
        std::free(indexOf);
    }

    const unsigned char* source = converted.empty() ? raster : converted.data();
    const size_t rowBytes = converted.empty()   ? rasterRow
                            : kind == "bilevel" ? rasterRow
                            : kind == "palette" ? cols
                                                : cols * inBytes;
    encode(argv[4], im.cols, im.rows, depth, colorType, interlace, palette.data(),
           int(palette.size()), source, rowBytes);
    return 0;
}
