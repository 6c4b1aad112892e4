// The bounded formatter, its allocating entry points and the token splitter.
#include <climits>
#include <cstdarg>
#include <cstring>
#include <string>

#include "unitutil.h"

namespace {
std::string fmt(const char* format, ...) {
    char buf[256];
    std::memset(buf, 'Z', sizeof buf);
    va_list ap;
    va_start(ap, format);
    const int n = vsnprintfN(buf, sizeof buf, format, ap);
    va_end(ap);
    EXPECT_EQ(size_t(n), std::strlen(buf)) << format;
    return buf;
}
} // namespace

TEST(Nstring, TruncatesAndReturnsTheFullLength) {
    char buf[8] = "zzzzzzz";
    EXPECT_EQ(snprintfN(buf, 5, "%s", "abcdefghi"), 9);
    EXPECT_EQ(std::string(buf, 6), std::string("abcd\0z", 6));
    EXPECT_EQ(snprintfN(buf, 1, "xyz"), 3);
    EXPECT_EQ(std::string(buf, 2), std::string("\0b", 2));
    EXPECT_EQ(snprintfN(nullptr, 0, "%d and %s", 12345, "more"), 14);
    EXPECT_EQ(snprintfN(buf, sizeof buf, nullptr), 0);
    EXPECT_STREQ(buf, "");
    // Padding longer than the buffer is counted, not written.
    EXPECT_EQ(snprintfN(buf, 4, "%100d", 1), 100);
    EXPECT_STREQ(buf, "   ");
}

TEST(Nstring, Conversions) {
    int object = 0;
    char pointer[64];
    std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(&object));
    const char unterminated[4] = {'w', 'x', 'y', 'z'};
    const char* null = nullptr;
    const std::pair<std::string, std::string> cases[] = {
        // %f writes a bare f and takes no argument, so %d still gets 7.
        {fmt("%5.2lf|%d", 7), "f|7"},
        {fmt("%-08q%d", 3), "q3"},
        {fmt("100%%|[%5%]|[%05%]"), "100%|[    %]|[    %]"},
        {fmt("abc%"), "abc"},
        {fmt("abc%-5l"), "abc"},
        {fmt("%d|%i", -42, 42), "-42|42"},
        {fmt("%+d|% d|%+ d|% +d", 5, 5, 5, -5), "+5| 5|+5|-5"},
        {fmt("%+u|% x", 5u, 255u), "5|ff"},
        {fmt("[%-4d][%4d]", 7, -7), "[7   ][  -7]"},
        {fmt("%04d", -7), "-007"},
        {fmt("[%04.2d][%-04d]", 7, 7), "[  07][7   ]"},
        {fmt("[%.0d][%+.0d][%.0x]", 0, 0, 0u), "[][+][]"},
        {fmt("%.3d|%.3d", 7, -7), "007|-007"},
        {fmt("%#x|%#X|%#x|%#06x", 255u, 255u, 0u, 10u), "0xff|0XFF|0|0x000a"},
        {fmt("%#o|%#o|%#.0o|%#.3o|%#05o", 8u, 0u, 0u, 8u, 8u), "010|0|0|010|00010"},
        {fmt("%o|%u|%x|%X", 8u, 4294967295u, 3054u, 3054u), "10|4294967295|bee|BEE"},
        {fmt("%'d", 1234567), "1234567"},
        {fmt("%hd|%hu|%hx", 65537, 65538u, 0x12345u), "1|2|2345"},
        {fmt("%ld|%lu", -5000000000L, 5000000000UL), "-5000000000|5000000000"},
        {fmt("%lld|%llx", -5000000000LL, 0x123456789aULL), "-5000000000|123456789a"},
        {fmt("%D|%O|%U", -5000000000L, 8UL, 5000000000UL), "-5000000000|10|5000000000"},
        {fmt("[%*d][%*d]", 4, 7, -4, 7), "[   7][7   ]"},
        {fmt("[%.*d][%.*d][%0*d]", 3, 7, -1, 7, 4, 7), "[007][7][0007]"},
        {fmt("[%*.*s]", 5, 2, "abcdef"), "[   ab]"},
        {fmt("%c%c", 0x141, 'b'), "Ab"},
        {fmt("[%3c][%03c][%-3c]", 'x', 'y', 'z'), "[  x][  y][z  ]"},
        {fmt("[%s][%5s]", null, null), "[][     ]"},
        {fmt("[%05s][%-5s]", "ab", "ab"), "[   ab][ab   ]"},
        {fmt("[%.2s][%.9s]", "abc", "abc"), "[ab][abc]"},
        {fmt("%.3s", unterminated), "wxy"}, // with a precision no terminator is needed
        {fmt("%p", static_cast<void*>(&object)), pointer},
        {fmt("%-40p|", static_cast<void*>(&object)),
         pointer + std::string(40 - std::strlen(pointer), ' ') + "|"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

TEST(NstringDeathTest, AllocatingEntryPoints) {
    char* s = nullptr;
    EXPECT_EQ(asprintfN(&s, "%s-%d", "ab", 12), 5);
    EXPECT_STREQ(s, "ab-12");
    strfree(s);
    for (const auto& [size, want] : {std::pair{1, ""}, {3, "he"}, {100, "hello"}}) {
        EXPECT_EQ(asnprintfN(&s, size_t(size), "hello"), 5);
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(s, want);
        strfree(s);
    }
    s = reinterpret_cast<char*>(&s);
    EXPECT_EQ(asnprintfN(&s, 0, "hello"), 5);
    EXPECT_EQ(s, nullptr);
    // A length beyond an int fails the assertion.
    EXPECT_EQ(snprintfN(nullptr, 0, "%*d%*d", INT_MAX, 1, INT_MAX, 1), -1);
    EXPECT_DEATH(asprintfN(&s, "%*d%*d", INT_MAX, 1, INT_MAX, 1),
                 "^nstring:[0-9]+: failed assertion `str_l >= 0'\n$");
}

TEST(Nstring, StrsepN) {
    char text[] = "a,,b;c", trailing[] = "x,";
    char* pos = text;
    std::string tokens;
    while (pos) tokens += std::string(strsepN(&pos, ",;")) + "|";
    EXPECT_EQ(tokens, "a||b|c|");
    EXPECT_EQ(strsepN(&pos, ",;"), nullptr);
    EXPECT_EQ(strsepN(nullptr, ","), nullptr);
    pos = trailing;
    EXPECT_STREQ(strsepN(&pos, ","), "x");
    EXPECT_STREQ(strsepN(&pos, ","), "");
    EXPECT_EQ(pos, nullptr);
}
