// What the fuzz targets share: input bytes as a seekable stream, and running a call that may end
// in pm_error (which throws pm_fatal in these builds).
#ifndef FUZZ_FUZZSUPPORT_H
#define FUZZ_FUZZSUPPORT_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>

#include "pmintern.h"

namespace fuzz {

// A read-only stream over bytes that stay valid while it is open. It seeks like a file; closing
// it (the converter closes its input on some error paths) sets *closedP.
struct MemoryInput {
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool* closedP;
};

inline ssize_t memoryRead(void* cookie, char* buf, size_t size) {
    MemoryInput* in = static_cast<MemoryInput*>(cookie);
    const size_t n = in->pos < in->size ? std::min(size, in->size - in->pos) : 0;
    if (n > 0) std::memcpy(buf, in->data + in->pos, n);
    in->pos += n;
    return ssize_t(n);
}

inline int memorySeek(void* cookie, off64_t* offsetP, int whence) {
    MemoryInput* in = static_cast<MemoryInput*>(cookie);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? off64_t(in->pos)
                                              : off64_t(in->size);
    const off64_t target = base + *offsetP;
    if (target < 0) return -1;
    in->pos = size_t(target);
    *offsetP = target;
    return 0;
}

inline int memoryClose(void* cookie) {
    MemoryInput* in = static_cast<MemoryInput*>(cookie);
    if (in->closedP) *in->closedP = true;
    delete in;
    return 0;
}

inline FILE* openMemory(const uint8_t* data, size_t size, bool* closedP = nullptr) {
    if (closedP) *closedP = false;
    cookie_io_functions_t io{memoryRead, nullptr, memorySeek, memoryClose};
    FILE* f = fopencookie(new MemoryInput{data, size, 0, closedP}, "rb", io);
    if (f == nullptr) std::abort();
    return f;
}

// Runs f; false when it ended in a fatal error of the library.
template <typename F> bool survives(F f) {
    try {
        f();
        return true;
    } catch (const pm_fatal&) {
        return false;
    }
}

} // namespace fuzz

#endif
