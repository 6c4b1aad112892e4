// Bounded string formatting: a printf-style formatter that never writes past the end of its
// buffer and always reports the full length, its allocating entry points, and a token splitter.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pmintern.h"

// Internal consistency checks; a failure ends the process abnormally, as assert does, but the
// message format is the library's own and the check stays in release builds.
#define NSTRING_ASSERT(cond)                                                                       \
    do {                                                                                           \
        if (!(cond)) assertionFailed(__LINE__, #cond);                                             \
    } while (0)

[[noreturn]] static void assertionFailed(unsigned int line, const char* condition) {
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", "nstring", line, condition);
    std::abort();
}

namespace {

// The destination: characters go in while they fit below the last byte, which is kept for the
// terminating null; the length counts everything, stored or not.
struct Sink {
    char* str;
    size_t size;
    size_t length;

    void put(char c) {
        if (length < size) str[length] = c;
        ++length;
    }
    void put(const char* s, size_t n) {
        if (length < size) std::memcpy(str + length, s, n < size - length ? n : size - length);
        length += n;
    }
    void repeat(char c, size_t n) {
        if (length < size) std::memset(str + length, c, n < size - length ? n : size - length);
        length += n;
    }
    void terminate() {
        if (size > 0) str[length < size ? length : size - 1] = '\0';
    }
};

struct Spec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
    char length = '\0'; // 'h', 'l' or none; "ll" is taken as 'l'
};

} // namespace

// A decimal number of a format, saturating rather than overflowing.
static size_t scanNumber(const char** pP) {
    size_t n = 0;
    const char* p = *pP;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const size_t digit = size_t(*p - '0');
        n = n > (SIZE_MAX - digit) / 10 ? SIZE_MAX : n * 10 + digit;
    }
    *pP = p;
    return n;
}

static void padded(Sink& out, const Spec& spec, const char* text, size_t n) {
    const size_t pad = spec.width > n ? spec.width - n : 0;
    if (!spec.left) out.repeat(' ', pad);
    out.put(text, n);
    if (spec.left) out.repeat(' ', pad);
}

// Lays out a number whose digits (no sign) the platform rendered: sign or radix prefix, the
// zeros a precision asks for, then padding to the width with blanks or, when the 0 flag holds
// and no precision is given, with zeros after the prefix.
static void number(Sink& out, const Spec& spec, char conv, bool negative, bool isZero,
                   const char* digits) {
    size_t ndigits = std::strlen(digits);
    if (spec.hasPrecision && spec.precision == 0 && isZero) ndigits = 0;

    char prefix[2];
    size_t nprefix = 0;
    if (conv == 'd') {
        if (negative)
            prefix[nprefix++] = '-';
        else if (spec.plus)
            prefix[nprefix++] = '+';
        else if (spec.space)
            prefix[nprefix++] = ' ';
    } else if (spec.alternate && (conv == 'x' || conv == 'X') && !isZero) {
        prefix[nprefix++] = '0';
        prefix[nprefix++] = conv;
    }

    size_t zeros = spec.hasPrecision && spec.precision > ndigits ? spec.precision - ndigits : 0;
    // The alternate octal form shows a leading 0 unless the digits already begin with one.
    if (conv == 'o' && spec.alternate && zeros == 0 && (ndigits == 0 || digits[0] != '0'))
        zeros = 1;

    const size_t body = nprefix + zeros + ndigits;
    size_t pad = spec.width > body ? spec.width - body : 0;
    if (spec.zero && !spec.left && !spec.hasPrecision) {
        zeros += pad;
        pad = 0;
    }
    if (!spec.left) out.repeat(' ', pad);
    out.put(prefix, nprefix);
    out.repeat('0', zeros);
    out.put(digits, ndigits);
    if (spec.left) out.repeat(' ', pad);
}

// Takes the argument a d or i conversion asks for and renders its magnitude.
static void signedNumber(Sink& out, const Spec& spec, va_list* ap) {
    long v;
    if (spec.length == 'l')
        v = va_arg(*ap, long);
    else if (spec.length == 'h')
        v = short(va_arg(*ap, int));
    else
        v = va_arg(*ap, int);
    char text[32];
    std::snprintf(text, sizeof text, "%ld", v);
    const bool negative = text[0] == '-';
    number(out, spec, 'd', negative, v == 0, negative ? text + 1 : text);
}

static void unsignedNumber(Sink& out, const Spec& spec, char conv, va_list* ap) {
    unsigned long v;
    if (spec.length == 'l')
        v = va_arg(*ap, unsigned long);
    else if (spec.length == 'h')
        v = static_cast<unsigned short>(va_arg(*ap, unsigned int));
    else
        v = va_arg(*ap, unsigned int);
    char text[32];
    switch (conv) {
    case 'o':
        std::snprintf(text, sizeof text, "%lo", v);
        break;
    case 'x':
        std::snprintf(text, sizeof text, "%lx", v);
        break;
    case 'X':
        std::snprintf(text, sizeof text, "%lX", v);
        break;
    default:
        std::snprintf(text, sizeof text, "%lu", v);
        break;
    }
    number(out, spec, conv, false, v == 0, text);
}

// One conversion, *pP just past its percent sign. Returns false at the end of the format.
static bool conversion(Sink& out, const char** pP, va_list* ap) {
    const char* p = *pP;
    Spec spec;
    for (;; ++p) {
        if (*p == '-')
            spec.left = true;
        else if (*p == '+')
            spec.plus = true;
        else if (*p == ' ')
            spec.space = true;
        else if (*p == '#')
            spec.alternate = true;
        else if (*p == '0')
            spec.zero = true;
        else if (*p != '\'')
            break;
    }
    if (*p == '*') {
        const int w = va_arg(*ap, int);
        // A negative width from the list means left adjustment.
        if (w < 0) spec.left = true;
        spec.width = w < 0 ? size_t(-static_cast<long long>(w)) : size_t(w);
        ++p;
    } else {
        spec.width = scanNumber(&p);
    }
    if (*p == '.') {
        ++p;
        spec.hasPrecision = true;
        if (*p == '*') {
            const int prec = va_arg(*ap, int);
            spec.hasPrecision = prec >= 0;
            spec.precision = prec >= 0 ? size_t(prec) : 0;
            ++p;
        } else {
            spec.precision = scanNumber(&p);
        }
    }
    if (*p == 'h') {
        spec.length = 'h';
        ++p;
    } else if (*p == 'l') {
        spec.length = 'l';
        ++p;
        if (*p == 'l') ++p;
    }

    const char conv = *p;
    if (conv == '\0') {
        *pP = p;
        return false;
    }
    *pP = p + 1;
    switch (conv) {
    case '%':
        padded(out, spec, "%", 1);
        break;
    case 'c': {
        const char c = char(static_cast<unsigned char>(va_arg(*ap, int)));
        padded(out, spec, &c, 1);
        break;
    }
    case 's': {
        const char* s = va_arg(*ap, const char*);
        size_t n = 0;
        if (s != nullptr) {
            // With a precision the text need not be terminated within it.
            if (spec.hasPrecision) {
                const void* end = std::memchr(s, '\0', spec.precision);
                n = end ? size_t(static_cast<const char*>(end) - s) : spec.precision;
            } else {
                n = std::strlen(s);
            }
        }
        padded(out, spec, s ? s : "", n);
        break;
    }
    case 'd':
    case 'i':
        signedNumber(out, spec, ap);
        break;
    case 'D':
        spec.length = 'l';
        signedNumber(out, spec, ap);
        break;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        unsignedNumber(out, spec, conv, ap);
        break;
    case 'O':
    case 'U':
        spec.length = 'l';
        unsignedNumber(out, spec, char(conv - 'A' + 'a'), ap);
        break;
    case 'p': {
        // The platform's own form (its prefix, its null pointer); only the width applies.
        char text[64];
        const int n = std::snprintf(text, sizeof text, "%p", va_arg(*ap, void*));
        padded(out, spec, text, n > 0 ? size_t(n) : 0);
        break;
    }
    default:
        // Unknown conversions stand for themselves and take no argument.
        out.put(conv);
        break;
    }
    return true;
}

int portable_vsnprintf(char* str, size_t str_m, const char* fmt, va_list ap) {
    Sink out{str, str_m, 0};
    va_list args;
    va_copy(args, ap);
    const char* p = fmt ? fmt : "";
    while (*p != '\0') {
        const char* const percent = std::strchr(p, '%');
        if (percent == nullptr) {
            out.put(p, std::strlen(p));
            break;
        }
        out.put(p, size_t(percent - p));
        p = percent + 1;
        if (!conversion(out, &p, &args)) break;
    }
    va_end(args);
    out.terminate();
    // A length an int cannot hold is reported as -1, as the platform's formatter does.
    if (out.length > size_t(INT_MAX)) {
        errno = EOVERFLOW;
        return -1;
    }
    return int(out.length);
}

int vsnprintfN(char* str, size_t str_m, const char* fmt, va_list ap) {
    return portable_vsnprintf(str, str_m, fmt, ap);
}

int snprintfN(char* str, size_t str_m, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = portable_vsnprintf(str, str_m, fmt, ap);
    va_end(ap);
    return n;
}

// Formats once to learn the length, then into a buffer of the smaller of that length plus one
// and the largest size wanted.
static int allocatingFormat(char** ptrP, size_t str_m, const char* fmt, va_list ap) {
    va_list measure;
    va_copy(measure, ap);
    const int str_l = portable_vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    NSTRING_ASSERT(str_l >= 0);

    const size_t want = size_t(str_l) + 1;
    const size_t size = want < str_m ? want : str_m;
    if (size == 0) {
        *ptrP = nullptr;
        return str_l;
    }
    char* buf = static_cast<char*>(std::malloc(size));
    if (buf == nullptr) {
        *ptrP = nullptr;
        errno = ENOMEM;
        return -1;
    }
    va_list again;
    va_copy(again, ap);
    const int str_l2 = portable_vsnprintf(buf, size, fmt, again);
    va_end(again);
    NSTRING_ASSERT(str_l2 == str_l);
    *ptrP = buf;
    return str_l;
}

int vasprintfN(char** ptrP, const char* fmt, va_list ap) {
    return allocatingFormat(ptrP, SIZE_MAX, fmt, ap);
}

int asprintfN(char** ptrP, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = allocatingFormat(ptrP, SIZE_MAX, fmt, ap);
    va_end(ap);
    return n;
}

int vasnprintfN(char** ptrP, size_t str_m, const char* fmt, va_list ap) {
    return allocatingFormat(ptrP, str_m, fmt, ap);
}

int asnprintfN(char** ptrP, size_t str_m, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = allocatingFormat(ptrP, str_m, fmt, ap);
    va_end(ap);
    return n;
}

void strfree(const char* s) { std::free(const_cast<char*>(s)); }

char* strsepN(char** stringP, const char* delim) {
    if (stringP == nullptr || *stringP == nullptr) return nullptr;
    char* const token = *stringP;
    char* const end = token + std::strcspn(token, delim);
    if (*end == '\0') {
        *stringP = nullptr;
    } else {
        *end = '\0';
        *stringP = end + 1;
    }
    return token;
}
