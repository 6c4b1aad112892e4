// The comment file of -text and -ztxt: keyword/text entries for tEXt and zTXt chunks.
//
// A line starting with anything but a space or tab opens an entry: a keyword (plain, or in
// double quotes when it holds blanks), a separator of blanks, and the first line of the text.
// Indented lines continue the text of the entry opened last. Empty lines are ignored.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gridpack.h"

namespace gridpack {

namespace {

// One line of the file. The buffer is kept from line to line; it only ever grows.
struct LineBuffer {
    char* bytes;
    size_t size;
    size_t length;
};

const char* const lineAllocFailure = "Unable to allocate buffer to read a line of a file.";
const char* const textAllocFailure = "Unable to allocate memory for text chunks";
const char* const arrayAllocFailure = "unable to allocate memory for comment array";

void* reallocProduct(void* block, size_t factor1, size_t factor2) {
    size_t size;
    if (__builtin_mul_overflow(factor1, factor2, &size)) return nullptr;
    return std::realloc(block, size ? size : 1);
}

void initLineBuffer(LineBuffer* lineP) {
    void* bytes;
    mallocProduct(&bytes, 128, 1);
    if (bytes == nullptr) pm_error("%s", lineAllocFailure);
    lineP->bytes = static_cast<char*>(bytes);
    lineP->size = 128;
    lineP->length = 0;
}

// Reads the next line, of any length, without its line feed (or CR LF); false at end of file. A
// read error counts as end of file. A last line without a line feed is still a line.
bool getFileLine(FILE* tfP, LineBuffer* lineP) {
    size_t length = 0;
    bool gotAny = false;
    int c;
    while ((c = getc_unlocked(tfP)) != EOF) {
        gotAny = true;
        if (c == '\n') {
            // A file with CRLF line ends reads like one with LF: the CR is no part of the line.
            if (length > 0 && lineP->bytes[length - 1] == '\r') --length;
            break;
        }
        if (length + 1 >= lineP->size) {
            void* bigger = reallocProduct(lineP->bytes, lineP->size, 2);
            if (bigger == nullptr) pm_error("%s", lineAllocFailure);
            lineP->bytes = static_cast<char*>(bigger);
            lineP->size *= 2;
        }
        lineP->bytes[length++] = char(c);
    }
    lineP->bytes[length] = '\0';
    lineP->length = length;
    return gotAny;
}

// The separator and a continuation line's indentation: NUL counts, as a keyword ends there.
bool isFiller(char c) { return c == ' ' || c == '\t' || c == '\0'; }

char* allocTextBuffer(size_t lineLength) {
    void* buf;
    mallocProduct(&buf, lineLength + 1, 1);
    if (buf == nullptr) pm_error("%s", textAllocFailure);
    return static_cast<char*>(buf);
}

// Copies the keyword of the line into keyword (room for the whole line) and returns the
// position just past it (past the closing quote of a quoted keyword).
size_t readOffKey(const LineBuffer& line, char* keyword) {
    const char* const s = line.bytes;
    size_t pos = 0;
    size_t keyLength = 0;
    if (s[0] == '"') {
        // The terminating NUL stands for the end of the line: an unclosed quote meets it.
        for (pos = 1; s[pos] != '"'; ++pos) {
            if (s[pos] == '\0') {
                keyword[keyLength] = '\0';
                pm_error("Invalid comment file format:  keyword contains a NUL character.  "
                         "Text leading up to the NUL character is '%s'",
                         keyword);
            }
            keyword[keyLength++] = s[pos];
        }
        ++pos;
    } else {
        for (; pos < line.length && s[pos] != ' ' && s[pos] != '\t' && s[pos] != '\0'; ++pos)
            keyword[keyLength++] = s[pos];
    }
    keyword[keyLength] = '\0';
    return pos;
}

void startComment(png_text* entryP, const LineBuffer& line, bool compressed) {
    // Under -ztxt, a plain keyword starting with a capital A or T stays uncompressed: the test
    // is on the first byte of the line, so a quoted keyword never qualifies.
    const char first = line.bytes[0];
    entryP->compression = compressed && first != 'A' && first != 'T' ? PNG_TEXT_COMPRESSION_zTXt
                                                                     : PNG_TEXT_COMPRESSION_NONE;
    entryP->itxt_length = 0;
    entryP->lang = nullptr;
    entryP->lang_key = nullptr;

    char* const keyword = allocTextBuffer(line.length);
    entryP->key = keyword; // owned by the entry before readOffKey can fail
    size_t pos = readOffKey(line, keyword);

    while (pos < line.length && isFiller(line.bytes[pos])) ++pos;

    char* const text = allocTextBuffer(line.length);
    const size_t textLength = line.length - pos;
    std::memcpy(text, line.bytes + pos, textLength);
    text[textLength] = '\0';
    entryP->text = text;
    entryP->text_length = textLength;
}

void continueComment(png_text* entryP, const LineBuffer& line) {
    size_t newSize;
    if (__builtin_add_overflow(entryP->text_length, line.length, &newSize) ||
        __builtin_add_overflow(newSize, size_t(2), &newSize))
        newSize = SIZE_MAX;
    void* bigger = newSize == SIZE_MAX ? nullptr : std::realloc(entryP->text, newSize);
    if (bigger == nullptr)
        pm_error("Unable to allocate %u bytes of memory for comment chunk", unsigned(newSize));
    char* const text = static_cast<char*>(bigger);
    entryP->text = text;

    text[entryP->text_length++] = '\n';
    size_t pos = 0;
    while (pos < line.length && isFiller(line.bytes[pos])) ++pos;
    const size_t rest = line.length - pos;
    std::memcpy(text + entryP->text_length, line.bytes + pos, rest);
    entryP->text_length += rest;
    text[entryP->text_length] = '\0';
}

// Grows the entry array by doubling when index has reached its capacity.
void handleArrayAllocation(png_text** entriesP, size_t* capacityP, size_t index) {
    if (index < *capacityP) return;
    size_t newCapacity;
    void* bigger = nullptr;
    if (!__builtin_mul_overflow(*capacityP, size_t(2), &newCapacity))
        bigger = reallocProduct(*entriesP, newCapacity, sizeof(png_text));
    if (bigger == nullptr) pm_error("%s", arrayAllocFailure);
    *entriesP = static_cast<png_text*>(bigger);
    *capacityP = newCapacity;
}

// Whether n bytes are UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(const unsigned char* s, size_t n) {
    for (size_t i = 0; i < n;) {
        const unsigned c = s[i];
        const size_t len = c < 0x80                ? 1
                           : c >= 0xc2 && c < 0xe0 ? 2
                           : c >= 0xe0 && c < 0xf0 ? 3
                           : c >= 0xf0 && c < 0xf5 ? 4
                                                   : 0;
        if (len == 0 || n - i < len) return false;
        for (size_t k = 1; k < len; ++k)
            if ((s[i + k] & 0xc0) != 0x80) return false;
        // The second byte's range rules out overlong forms, surrogates and values past U+10FFFF.
        const unsigned second = len > 1 ? s[i + 1] : 0x80;
        if ((c == 0xe0 && second < 0xa0) || (c == 0xed && second > 0x9f) ||
            (c == 0xf0 && second < 0x90) || (c == 0xf4 && second > 0x8f))
            return false;
        i += len;
    }
    return true;
}

// tEXt and zTXt hold Latin-1: a text that is UTF-8 beyond ASCII goes into iTXt instead, with
// the same compression, so that readers show the characters that were written.
void useITXtForUtf8(png_text* entryP) {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(entryP->text);
    bool beyondAscii = false;
    for (size_t i = 0; i < entryP->text_length && !beyondAscii; ++i) beyondAscii = text[i] >= 0x80;
    if (!beyondAscii || !isUtf8(text, entryP->text_length)) return;
    entryP->compression = entryP->compression == PNG_TEXT_COMPRESSION_zTXt
                              ? PNG_ITXT_COMPRESSION_zTXt
                              : PNG_ITXT_COMPRESSION_NONE;
    entryP->lang = const_cast<char*>("");
    entryP->lang_key = const_cast<char*>("");
}

} // namespace

namespace {
// What the reader holds while it runs: a fatal error that throws frees it, a completed read
// hands it on.
struct ReaderState {
    png_text* entries = nullptr;
    size_t started = 0; // entries whose key and text are set (or null)
    LineBuffer line{};
    bool handedOn = false;

    ~ReaderState() {
        if (handedOn) return;
        std::free(line.bytes);
        for (size_t i = 0; i < started; ++i) {
            std::free(entries[i].key);
            std::free(entries[i].text);
        }
        std::free(entries);
    }
};
} // namespace

png_text* readCommentFile(FILE* tfP, bool compressed, int* countP) {
    ReaderState state;
    size_t capacity = 256;
    void* block;
    mallocProduct(&block, capacity, sizeof(png_text));
    if (block == nullptr) pm_error("%s", arrayAllocFailure);
    png_text*& entries = state.entries;
    entries = static_cast<png_text*>(block);

    LineBuffer& line = state.line;
    initLineBuffer(&line);

    size_t index = 0;
    bool haveEntry = false;
    while (getFileLine(tfP, &line)) {
        if (line.length == 0) continue;
        if (line.bytes[0] != ' ' && line.bytes[0] != '\t') {
            if (haveEntry) ++index;
            handleArrayAllocation(&entries, &capacity, index);
            entries[index].key = entries[index].text = nullptr;
            state.started = index + 1;
            startComment(&entries[index], line, compressed);
            haveEntry = true;
        } else {
            if (!haveEntry)
                pm_error("Invalid comment file format: first line is a continuation line! "
                         "(It starts with whitespace)");
            continueComment(&entries[index], line);
        }
    }
    // libpng counts text entries in an int; that many lines would need more memory than any
    // comment file gets, but the count must not wrap.
    const size_t count = haveEntry ? index + 1 : 0;
    if (count > size_t(INT_MAX)) pm_error("%s", arrayAllocFailure);
    for (size_t i = 0; i < count; ++i) useITXtForUtf8(&entries[i]);
    *countP = int(count);
    std::free(line.bytes);
    state.handedOn = true;
    return entries;
}

void freeCommentEntries(png_text* entries, int count) {
    for (int i = 0; i < count; ++i) {
        std::free(entries[i].key);
        std::free(entries[i].text);
    }
    std::free(entries);
}

} // namespace gridpack
