// The comment file of -text and -ztxt over arbitrary bytes: the entries it yields must be
// well-formed text records.
#include <cstdint>
#include <cstring>

#include "fuzzsupport.h"
#include "gridpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses -text or -ztxt.
    const bool ztxt = data[0] & 1;
    FILE* f = fuzz::openMemory(data + 1, size - 1);
    fuzz::survives([&] {
        int count;
        png_text* entries = gridpack::readCommentFile(f, ztxt, &count);
        for (int i = 0; i < count; ++i) {
            const png_text& e = entries[i];
            if (e.key == nullptr || e.text == nullptr || e.text[e.text_length] != '\0')
                std::abort();
            if (std::strchr(e.key, '\n') != nullptr) std::abort();
            if (e.compression != PNG_TEXT_COMPRESSION_NONE &&
                (!ztxt || e.compression != PNG_TEXT_COMPRESSION_zTXt))
                std::abort();
        }
        gridpack::freeCommentEntries(entries, count);
    });
    std::fclose(f);
    return 0;
}
