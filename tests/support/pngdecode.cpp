#include "pngdecode.h"

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <zlib.h>

int DecodedPng::count(const std::string& type) const {
    int n = 0;
    for (const std::string& c : chunks) n += c == type;
    return n;
}

std::string DecodedPng::form() const {
    static const char* const types[] = {"gray", "?", "rgb", "palette", "graya", "?", "rgba"};
    std::string s = std::string(types[colorType & 7]) + " " + std::to_string(bitDepth);
    if (!palette.empty()) s += " PLTE " + std::to_string(palette.size());
    if (hasSbit) {
        std::vector<unsigned> bits{sbit.gray};
        if (colorType & PNG_COLOR_MASK_COLOR) bits = {sbit.red, sbit.green, sbit.blue};
        if (colorType & PNG_COLOR_MASK_ALPHA) bits.push_back(sbit.alpha);
        for (size_t i = 0; i < bits.size(); ++i)
            s += (i ? "/" : " sBIT ") + std::to_string(bits[i]);
    }
    return interlace ? s + " interlaced" : s;
}

std::vector<unsigned> DecodedPng::pixels(unsigned y) const {
    if (colorType != PNG_COLOR_TYPE_PALETTE) return rows.at(y);
    std::vector<unsigned> out;
    for (unsigned i : rows.at(y)) {
        const Rgb c = palette.at(i);
        out.insert(out.end(), {c.r, c.g, c.b});
        if (hasTrns) out.push_back(i < transAlpha.size() ? transAlpha[i] : 255);
    }
    return out;
}

namespace {
struct Reader {
    const std::string* bytes;
    size_t pos;
    char error[512];
};

void readData(png_structp png, png_bytep out, png_size_t length) {
    Reader* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (r->pos + length > r->bytes->size()) png_error(png, "read past the end of the PNG");
    std::memcpy(out, r->bytes->data() + r->pos, length);
    r->pos += length;
}

void onError(png_structp png, png_const_charp message) {
    Reader* r = static_cast<Reader*>(png_get_error_ptr(png));
    std::snprintf(r->error, sizeof r->error, "%s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp png, png_const_charp message) {
    // A warning from the reader means a chunk was dropped or damaged: fail as for an error.
    onError(png, message);
}

uint32_t be32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint32_t(uint8_t(s[at + 3]));
}

// The chunks of a PNG as type and data.
std::vector<std::pair<std::string, std::string>> walkChunks(const std::string& bytes) {
    std::vector<std::pair<std::string, std::string>> chunks;
    for (size_t at = 8; at + 12 <= bytes.size(); at += 12 + size_t(be32(bytes, at)))
        chunks.emplace_back(bytes.substr(at + 4, 4), bytes.substr(at + 8, be32(bytes, at)));
    return chunks;
}

// The parts of decoding that call libpng; kept free of objects with destructors because a
// libpng error longjmps out of it.
bool decodeInto(DecodedPng* d, Reader* reader, std::vector<unsigned char>* pixels,
                std::vector<png_bytep>* rowPointers) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, reader, onError, onWarning);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, reader, readData);
    png_read_info(png, info);

    png_get_IHDR(png, info, &d->width, &d->height, &d->bitDepth, &d->colorType, &d->interlace,
                 nullptr, nullptr);
    d->channels = png_get_channels(png, info);

    png_colorp plte;
    int nplte = 0;
    if (png_get_PLTE(png, info, &plte, &nplte))
        for (int i = 0; i < nplte; ++i)
            d->palette.push_back({plte[i].red, plte[i].green, plte[i].blue});
    png_bytep transAlpha;
    int ntrans;
    png_color_16p color;
    if (png_get_tRNS(png, info, &transAlpha, &ntrans, &color)) {
        d->hasTrns = true;
        if (d->colorType == PNG_COLOR_TYPE_PALETTE)
            d->transAlpha.assign(transAlpha, transAlpha + ntrans);
        else
            d->transColor = *color;
    }
    if ((d->hasBkgd = png_get_bKGD(png, info, &color))) d->bkgd = *color;
    png_color_8p sbit;
    if ((d->hasSbit = png_get_sBIT(png, info, &sbit))) d->sbit = *sbit;
    png_uint_16p hist;
    if (png_get_hIST(png, info, &hist)) d->hist.assign(hist, hist + nplte);
    png_get_gAMA(png, info, &d->gamma);
    double c[8];
    if (png_get_cHRM(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]))
        d->chrm.assign(c, c + 8);
    png_uint_32 px, py;
    int unit;
    if (png_get_pHYs(png, info, &px, &py, &unit))
        d->phys = std::to_string(px) + " " + std::to_string(py) + " " + std::to_string(unit);

    if (d->bitDepth < 8) png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    pixels->resize(rowBytes * d->height);
    rowPointers->resize(d->height);
    for (png_uint_32 y = 0; y < d->height; ++y) (*rowPointers)[y] = pixels->data() + y * rowBytes;
    png_read_image(png, rowPointers->data());
    png_read_end(png, info);

    png_textp texts;
    int ntext = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < ntext; ++i)
        d->texts.push_back(
            {texts[i].key, std::string(texts[i].text, texts[i].text_length), texts[i].compression});
    png_timep t;
    if (png_get_tIME(png, info, &t))
        d->time = std::to_string(t->year) + "-" + std::to_string(t->month) + "-" +
                  std::to_string(t->day) + " " + std::to_string(t->hour) + ":" +
                  std::to_string(t->minute) + ":" + std::to_string(t->second);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}
} // namespace

DecodedPng decodePng(const std::string& bytes) {
    DecodedPng d;
    Reader reader{&bytes, 0, ""};
    std::vector<unsigned char> pixels;
    std::vector<png_bytep> rowPointers;
    if (!decodeInto(&d, &reader, &pixels, &rowPointers))
        throw std::runtime_error(std::string("libpng could not decode the PNG: ") + reader.error);
    if (reader.pos != bytes.size()) throw std::runtime_error("bytes after the PNG's IEND chunk");

    for (const auto& chunk : walkChunks(bytes)) d.chunks.push_back(chunk.first);
    const size_t perRow = size_t(d.width) * unsigned(d.channels);
    const size_t rowBytes = d.bitDepth == 16 ? perRow * 2 : perRow;
    for (unsigned y = 0; y < d.height; ++y) {
        const unsigned char* p = pixels.data() + y * rowBytes;
        std::vector<unsigned> row(perRow);
        for (size_t i = 0; i < perRow; ++i)
            row[i] = d.bitDepth == 16 ? unsigned(p[2 * i]) << 8 | p[2 * i + 1] : p[i];
        d.rows.push_back(std::move(row));
    }
    return d;
}

std::vector<int> rowFilters(const std::string& bytes) {
    const DecodedPng d = decodePng(bytes);
    if (d.interlace) throw std::runtime_error("rowFilters needs a non-interlaced PNG");
    std::string idat;
    for (const auto& [type, data] : walkChunks(bytes))
        if (type == "IDAT") idat += data;
    const size_t rowBytes = (size_t(d.width) * unsigned(d.channels) * unsigned(d.bitDepth) + 7) / 8;
    std::vector<unsigned char> raw((rowBytes + 1) * d.height);
    uLongf rawLength = uLongf(raw.size());
    if (uncompress(raw.data(), &rawLength, reinterpret_cast<const Bytef*>(idat.data()),
                   uLong(idat.size())) != Z_OK)
        throw std::runtime_error("IDAT does not inflate");
    std::vector<int> filters;
    for (unsigned y = 0; y < d.height; ++y) filters.push_back(raw[y * (rowBytes + 1)]);
    return filters;
}
