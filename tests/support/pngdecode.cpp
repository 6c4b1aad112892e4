#include "pngdecode.h"

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <png.h>
#include <stdexcept>
#include <zlib.h>

namespace {
struct Reader {
    const std::string* bytes;
    size_t pos;
    char error[256];
};

void readData(png_structp png, png_bytep out, png_size_t n) {
    Reader* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (r->pos + n > r->bytes->size()) png_error(png, "read past the end");
    std::memcpy(out, r->bytes->data() + r->pos, n);
    r->pos += n;
}

// Warnings too: the reader warns when it drops a damaged or invalid chunk.
void onError(png_structp png, png_const_charp message) {
    std::snprintf(static_cast<Reader*>(png_get_error_ptr(png))->error, 256, "%s", message);
    png_longjmp(png, 1);
}

std::string joined(const std::vector<unsigned>& v) {
    std::string s;
    for (size_t i = 0; i < v.size(); ++i) s += (i ? "," : "") + std::to_string(v[i]);
    return s;
}

// Everything that calls libpng; free of objects with destructors, as libpng errors longjmp.
bool decodeInto(DecodedPng* d, Reader* reader, std::vector<png_byte>* image) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, reader, onError, onError);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, reader, readData);
    png_set_chunk_malloc_max(png, 0); // the reader's own limits are below PNG's
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);
    png_get_IHDR(png, info, &d->width, &d->height, &d->depth, &d->colorType, &d->interlace, nullptr,
                 nullptr);
    d->channels = png_get_channels(png, info);
    if (d->depth < 8) png_set_packing(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    image->resize(rowBytes * d->height);
    // Each interlace pass fills in its pixels of the rows the passes before left.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < d->height; ++y)
            png_read_row(png, &(*image)[y * rowBytes], nullptr);
    png_read_end(png, info);

    png_colorp plte;
    int n = 0;
    for (png_get_PLTE(png, info, &plte, &n); d->palette.size() < size_t(n); ++plte)
        d->palette.push_back({plte->red, plte->green, plte->blue});
    png_bytep alphas;
    int nTrans;
    png_color_16p color;
    const bool palette = d->colorType == PNG_COLOR_TYPE_PALETTE;
    const auto values = [&](const png_color_16& c) {
        return d->colorType & PNG_COLOR_MASK_COLOR ? std::vector<unsigned>{c.red, c.green, c.blue}
                                                   : std::vector<unsigned>{c.gray};
    };
    if (png_get_tRNS(png, info, &alphas, &nTrans, &color)) {
        d->trns = palette ? std::vector<unsigned>(alphas, alphas + nTrans) : values(*color);
        d->chunks["tRNS"] = joined(d->trns);
    }
    if (png_get_bKGD(png, info, &color))
        d->chunks["bKGD"] = joined(palette ? std::vector<unsigned>{color->index} : values(*color));
    png_color_8p sb;
    const size_t alpha = d->colorType & PNG_COLOR_MASK_ALPHA ? 1 : 0;
    if (png_get_sBIT(png, info, &sb)) { // gray or red, green, blue; then alpha
        std::vector<unsigned> v{sb->red, sb->green, sb->blue, sb->alpha}, g{sb->gray, sb->alpha};
        v.erase(v.begin() + 3, v.end() - alpha), g.erase(g.begin() + 1, g.end() - alpha);
        d->chunks["sBIT"] = joined(d->colorType & PNG_COLOR_MASK_COLOR ? v : g);
    }
    png_uint_16p hist;
    if (png_get_hIST(png, info, &hist))
        d->hist.assign(hist, hist + n), d->chunks["hIST"] = joined(d->hist);
    double g, c[8];
    char text[64];
    if (png_get_gAMA(png, info, &g)) std::snprintf(text, 64, "%g", g), d->chunks["gAMA"] = text;
    if (png_get_cHRM(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]))
        for (int i = 0; i < 8; ++i)
            std::snprintf(text, 64, i ? ",%g" : "%g", c[i]), d->chunks["cHRM"] += text;
    png_uint_32 phys[3]; // x, y and the unit
    if (png_get_pHYs(png, info, &phys[0], &phys[1], reinterpret_cast<int*>(&phys[2])))
        d->chunks["pHYs"] = joined({phys[0], phys[1], phys[2]});
    png_timep t;
    if (png_get_tIME(png, info, &t)) {
        std::snprintf(text, 64, "%d-%d-%dT%d:%d:%d", t->year, t->month, t->day, t->hour, t->minute,
                      t->second);
        d->chunks["tIME"] = text;
    }
    png_textp texts;
    const int nText = png_get_text(png, info, &texts, nullptr);
    static const char* const types[] = {"tEXt", "zTXt", "iTXt", "iTXt.z"};
    for (int i = 0; i < nText; ++i) {
        const png_text& e = texts[i];
        const bool itxt = e.compression > 0;
        std::string& all = d->chunks["text"];
        all += (i ? "|" : "") + std::string(types[e.compression + 1]) + ":" + e.key;
        if (itxt && (e.lang && *e.lang)) all += std::string("[") + e.lang + "]";
        all += "=" + std::string(e.text, itxt ? e.itxt_length : e.text_length);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}
} // namespace

DecodedPng decodePng(const std::string& bytes) {
    DecodedPng d;
    Reader reader{&bytes, 0, ""};
    std::vector<png_byte> image;
    if (!decodeInto(&d, &reader, &image))
        throw std::runtime_error(std::string("libpng cannot read the PNG: ") + reader.error);
    if (reader.pos != bytes.size()) throw std::runtime_error("bytes after IEND");

    const size_t perRow = size_t(d.width) * unsigned(d.channels), wide = d.depth == 16 ? 2 : 1;
    for (unsigned y = 0; y < d.height; ++y) {
        const png_byte* p = &image[y * perRow * wide];
        d.rows.emplace_back(perRow);
        for (size_t i = 0; i < perRow; ++i)
            d.rows.back()[i] = wide == 2 ? unsigned(p[2 * i]) << 8 | p[2 * i + 1] : p[i];
    }
    for (size_t at = 8, n; at + 12 <= bytes.size(); at += 12 + n) {
        n = png_get_uint_32(reinterpret_cast<png_const_bytep>(&bytes[at]));
        if (bytes.compare(at + 4, 4, "IDAT") == 0)
            d.idat += bytes.substr(at + 8, n), ++d.idatChunks;
    }
    if (!d.interlace) {
        const size_t rowBytes = (perRow * unsigned(d.depth) + 7) / 8 + 1;
        std::vector<Bytef> raw(rowBytes * d.height);
        uLongf length = uLongf(raw.size());
        if (uncompress(raw.data(), &length, reinterpret_cast<const Bytef*>(d.idat.data()),
                       uLong(d.idat.size())) != Z_OK)
            throw std::runtime_error("IDAT does not inflate");
        for (unsigned y = 0; y < d.height; ++y) d.filters.push_back(raw[y * rowBytes]);
        d.data.assign(raw.begin(), raw.end());
    }
    return d;
}

std::array<unsigned, 4> DecodedPng::pixel(unsigned x, unsigned y) const {
    const std::vector<unsigned>& row = rows.at(y);
    const size_t at = size_t(x) * unsigned(channels);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        const unsigned i = row.at(at);
        const auto& c = palette.at(i);
        return {c[0], c[1], c[2], i < trns.size() ? trns[i] : 255};
    }
    const unsigned full = (1u << depth) - 1;
    const bool color = colorType & PNG_COLOR_MASK_COLOR;
    std::array<unsigned, 4> p{row[at], row[at + color], row[at + 2 * color], full};
    if (colorType & PNG_COLOR_MASK_ALPHA) p[3] = row[at + (color ? 3 : 1)];
    if (trns == (color ? std::vector<unsigned>{p[0], p[1], p[2]} : std::vector<unsigned>{p[0]}))
        p[3] = 0;
    return p;
}
