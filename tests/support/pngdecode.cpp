#include "pngdecode.h"

#include <csetjmp>
#include <cstring>
#include <png.h>
#include <stdexcept>
#include <zlib.h>

int DecodedPng::count(const std::string& type) const {
    int n = 0;
    for (const std::string& c : chunks) n += c == type;
    return n;
}

int DecodedPng::position(const std::string& type) const {
    for (size_t i = 0; i < chunks.size(); ++i)
        if (chunks[i] == type) return int(i);
    return -1;
}

std::string DecodedPng::form() const {
    static const char* const types[] = {"gray", "?", "rgb", "palette", "graya", "?", "rgba"};
    std::string s = std::string(types[colorType & 7]) + " " + std::to_string(bitDepth);
    if (hasSbit) {
        std::vector<unsigned> bits{sbitGray};
        if (colorType & PNG_COLOR_MASK_COLOR) bits = {sbitRed, sbitGreen, sbitBlue};
        if (colorType & PNG_COLOR_MASK_ALPHA) bits.push_back(sbitAlpha);
        for (size_t i = 0; i < bits.size(); ++i)
            s += (i ? "/" : " sBIT ") + std::to_string(bits[i]);
    }
    return interlace ? s + " interlaced" : s;
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

std::vector<std::string> walkChunks(const std::string& bytes) {
    std::vector<std::string> chunks;
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const uint32_t length = be32(bytes, at);
        chunks.push_back(bytes.substr(at + 4, 4));
        at += 12 + size_t(length);
    }
    return chunks;
}

PngColor16 convert(const png_color_16& c) { return {c.index, c.red, c.green, c.blue, c.gray}; }

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

    png_uint_32 width, height;
    int bitDepth, colorType, interlace;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    d->width = width;
    d->height = height;
    d->bitDepth = bitDepth;
    d->colorType = colorType;
    d->interlace = interlace;
    d->channels = png_get_channels(png, info);

    png_colorp plte;
    int nplte;
    if (png_get_PLTE(png, info, &plte, &nplte))
        for (int i = 0; i < nplte; ++i)
            d->palette.push_back({plte[i].red, plte[i].green, plte[i].blue});
    png_bytep transAlpha;
    int ntrans;
    png_color_16p transColor;
    if (png_get_tRNS(png, info, &transAlpha, &ntrans, &transColor)) {
        d->hasTrns = true;
        if (colorType == PNG_COLOR_TYPE_PALETTE)
            for (int i = 0; i < ntrans; ++i) d->transAlpha.push_back(transAlpha[i]);
        else
            d->transColor = convert(*transColor);
    }
    png_color_16p bkgd;
    if (png_get_bKGD(png, info, &bkgd)) {
        d->hasBkgd = true;
        d->bkgd = convert(*bkgd);
    }
    png_color_8p sbit;
    if (png_get_sBIT(png, info, &sbit)) {
        d->hasSbit = true;
        d->sbitRed = sbit->red;
        d->sbitGreen = sbit->green;
        d->sbitBlue = sbit->blue;
        d->sbitGray = sbit->gray;
        d->sbitAlpha = sbit->alpha;
    }
    png_uint_16p hist;
    if (png_get_hIST(png, info, &hist)) {
        d->hasHist = true;
        for (int i = 0; i < nplte; ++i) d->hist.push_back(hist[i]);
    }
    double g;
    if (png_get_gAMA(png, info, &g)) {
        d->hasGamma = true;
        d->gamma = g;
    }
    double* c = d->chrm;
    if (png_get_cHRM(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]))
        d->hasChrm = true;
    png_uint_32 px, py;
    int unit;
    if (png_get_pHYs(png, info, &px, &py, &unit)) {
        d->hasPhys = true;
        d->physX = px;
        d->physY = py;
        d->physUnit = unit;
    }

    if (bitDepth < 8) png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    pixels->resize(rowBytes * height);
    rowPointers->resize(height);
    for (png_uint_32 y = 0; y < height; ++y) (*rowPointers)[y] = pixels->data() + y * rowBytes;
    png_read_image(png, rowPointers->data());
    png_read_end(png, info);

    png_textp texts;
    int ntext = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < ntext; ++i)
        d->texts.push_back(
            {texts[i].key, std::string(texts[i].text, texts[i].text_length), texts[i].compression});
    png_timep t;
    if (png_get_tIME(png, info, &t)) {
        d->hasTime = true;
        d->year = t->year;
        d->month = t->month;
        d->day = t->day;
        d->hour = t->hour;
        d->minute = t->minute;
        d->second = t->second;
    }
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

    d.chunks = walkChunks(bytes);
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
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const uint32_t length = be32(bytes, at);
        if (bytes.compare(at + 4, 4, "IDAT") == 0) idat += bytes.substr(at + 8, length);
        at += 12 + size_t(length);
    }
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
