// Helpers shared by libpixmill's sources; not part of the public interface.
#ifndef PMINTERN_H
#define PMINTERN_H

#include <cstddef>
#include <cstdio>

#include "pixmill.h"

// The one overflow idiom every size goes through.
inline bool pm_mulsize(size_t a, size_t b, size_t* product) {
    return !__builtin_mul_overflow(a, b, product);
}

#ifdef PM_FATAL_THROWS
#include <stdexcept>
#include <string>
// Test and fuzz builds: pm_error and pm_usage throw this instead of ending the process, after
// writing their message as usual.
struct pm_fatal : std::runtime_error {
    int status;
    pm_fatal(const std::string& message, int exitStatus)
        : std::runtime_error(message), status(exitStatus) {}
};
#endif

// Ends the process with the status, or (test and fuzz builds) throws pm_fatal with the message.
[[noreturn]] void pm_fatalexit(const char* message, int status);

#endif
