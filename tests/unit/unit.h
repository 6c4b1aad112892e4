// What the unit tests share: fatal paths, captured output, rows written as text.
#ifndef TESTS_UNIT_UNIT_H
#define TESTS_UNIT_UNIT_H

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "harness.h"
#include "pixmill.h"

// pm_error: the message on standard error and status 1.
#define EXPECT_FATAL(statement, regex) EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), regex)

// What f writes to the stream it is given.
template <typename F> std::string written(F f) {
    char* bytes = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&bytes, &size);
    f(out);
    std::fclose(out);
    std::string s(bytes, size);
    std::free(bytes);
    return s;
}

// Pixels as "r.g.b" joined by blanks; a gray xel (r = g = 0) as its value.
inline std::string str(const pixel* row, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        const pixel& p = row[i];
        s += (i ? " " : "") +
             (p.r == 0 && p.g == 0
                  ? std::to_string(p.b)
                  : std::to_string(p.r) + "." + std::to_string(p.g) + "." + std::to_string(p.b));
    }
    return s;
}

#endif
