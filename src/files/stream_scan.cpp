// Formatted scanning straight from a data stream, in place of the standard
// library's file scanning (which cannot read archive members or compressed
// data). One byte of look-ahead, held in the stream's pushback, as scanf has.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "files/stream.h"

namespace {

enum size_letter { SIZE_NONE, SIZE_HH, SIZE_H, SIZE_L, SIZE_LL, SIZE_LONG_DOUBLE };

// Longest number text kept for a floating-point conversion; a longer
// number ends there as if its width had been reached.
enum { FLOAT_TEXT_MAX = 511 };

inline bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

int digit_value(int c, int base)
{
    int v;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    else
        return -1;
    return v < base ? v : -1;
}

// Peek/take wrappers; `left` is the width still allowed.
struct scanner {
    data_stream* s;
    long start;  // position when the scan began, for %n
};

void skip_space(scanner& sc)
{
    while (is_space(stream_peekc(sc.s)))
        stream_getc(sc.s);
}

// Parses an integer. base 0 selects by prefix ("0x" hex, "0" octal, else
// decimal); base 16 accepts an optional "0x". Returns false when no digit
// matched; *eof tells whether that was because input ended.
bool scan_integer(scanner& sc, int base, long width, bool* negative, unsigned long long* magnitude,
                  bool* overflow, bool* eof)
{
    long left = width;
    int c = stream_peekc(sc.s);
    *eof = c < 0;
    *negative = false;
    *magnitude = 0;
    *overflow = false;
    if ((c == '+' || c == '-') && left > 0) {
        *negative = c == '-';
        stream_getc(sc.s);
        left--;
        c = stream_peekc(sc.s);
    }
    int digits = 0;
    if ((base == 0 || base == 16) && c == '0' && left > 0) {
        stream_getc(sc.s);
        left--;
        digits = 1;
        c = stream_peekc(sc.s);
        if ((c == 'x' || c == 'X') && left > 0) {
            stream_getc(sc.s);
            left--;
            base = 16;
            c = stream_peekc(sc.s);
        } else if (base == 0) {
            base = 8;
        }
    }
    if (base == 0)
        base = 10;
    unsigned long long value = 0;
    int d;
    while (left > 0 && (d = digit_value(c, base)) >= 0) {
        stream_getc(sc.s);
        left--;
        digits++;
        if (value > (ULLONG_MAX - (unsigned)d) / (unsigned)base)
            *overflow = true;
        else
            value = value * (unsigned)base + (unsigned)d;
        c = stream_peekc(sc.s);
    }
    if (digits == 0) {
        *eof = c < 0;
        return false;
    }
    *magnitude = value;
    return true;
}

void store_signed(va_list* ap, size_letter size, long long v)
{
    switch (size) {
    case SIZE_HH: *va_arg(*ap, signed char*) = (signed char)v; break;
    case SIZE_H: *va_arg(*ap, short*) = (short)v; break;
    case SIZE_L: *va_arg(*ap, long*) = (long)v; break;
    case SIZE_LL:
    case SIZE_LONG_DOUBLE: *va_arg(*ap, long long*) = v; break;
    default: *va_arg(*ap, int*) = (int)v; break;
    }
}

void store_unsigned(va_list* ap, size_letter size, unsigned long long v)
{
    switch (size) {
    case SIZE_HH: *va_arg(*ap, unsigned char*) = (unsigned char)v; break;
    case SIZE_H: *va_arg(*ap, unsigned short*) = (unsigned short)v; break;
    case SIZE_L: *va_arg(*ap, unsigned long*) = (unsigned long)v; break;
    case SIZE_LL:
    case SIZE_LONG_DOUBLE: *va_arg(*ap, unsigned long long*) = v; break;
    default: *va_arg(*ap, unsigned*) = (unsigned)v; break;
    }
}

// Collects a decimal floating-point number: sign, digits, fraction,
// exponent. Returns false when no mantissa digit matched.
bool scan_float(scanner& sc, long width, char* text, bool* eof)
{
    long left = width < (long)FLOAT_TEXT_MAX ? width : (long)FLOAT_TEXT_MAX;
    int n = 0;
    int c = stream_peekc(sc.s);
    *eof = c < 0;
    auto take = [&]() {
        text[n++] = (char)stream_getc(sc.s);
        left--;
        c = stream_peekc(sc.s);
    };
    if ((c == '+' || c == '-') && left > 0)
        take();
    int digits = 0;
    while (left > 0 && is_digit(c)) {
        take();
        digits++;
    }
    if (left > 0 && c == '.') {
        take();
        while (left > 0 && is_digit(c)) {
            take();
            digits++;
        }
    }
    if (digits == 0) {
        *eof = c < 0;
        text[0] = 0;
        return false;
    }
    if (left > 0 && (c == 'e' || c == 'E')) {
        int mantissa_end = n;
        take();
        if (left > 0 && (c == '+' || c == '-'))
            take();
        int exponent_digits = 0;
        while (left > 0 && is_digit(c)) {
            take();
            exponent_digits++;
        }
        // "1e" or "1e+" without digits: the bytes are consumed (one byte of
        // look-ahead cannot give them back), the number is the mantissa.
        if (exponent_digits == 0)
            n = mantissa_end;
    }
    text[n] = 0;
    return true;
}

void store_float(va_list* ap, size_letter size, const char* text)
{
    if (size == SIZE_LONG_DOUBLE || size == SIZE_LL)
        *va_arg(*ap, long double*) = strtold(text, nullptr);
    else if (size == SIZE_L)
        *va_arg(*ap, double*) = strtod(text, nullptr);
    else
        *va_arg(*ap, float*) = strtof(text, nullptr);
}

// Parses the set of a "%[" directive starting just after the "[". Returns
// the format position after the closing "]", or null when it is missing.
const char* parse_set(const char* f, bool set[256])
{
    bool negate = false;
    if (*f == '^') {
        negate = true;
        f++;
    }
    bool member[256] = {};
    const char* first = f;
    int previous = -1;
    for (;; f++) {
        unsigned char c = (unsigned char)*f;
        if (c == 0)
            return nullptr;
        if (c == ']' && f != first)
            break;
        if (c == '-' && previous >= 0 && f[1] != ']' && f[1] != 0) {
            unsigned char high = (unsigned char)f[1];
            for (int k = previous; k <= high; k++)
                member[k] = true;
            f++;
            previous = -1;
            continue;
        }
        member[c] = true;
        previous = c;
    }
    for (int k = 0; k < 256; k++)
        set[k] = member[k] != negate;
    return f + 1;
}

}  // namespace

int stream_vscan(data_stream* s, const char* format, va_list args)
{
    va_list ap;
    va_copy(ap, args);
    scanner sc{s, s->position};
    int stored = 0;
    bool converted = false;  // any conversion completed, stored or not
    // Input ended before a conversion could complete.
    auto input_failure = [&]() { return converted ? stored : -1; };
    int result = -2;  // -2: still scanning

    const char* f = format;
    while (*f && result == -2) {
        unsigned char fc = (unsigned char)*f;
        if (is_space(fc)) {
            skip_space(sc);
            f++;
            continue;
        }
        if (fc != '%' || f[1] == '%') {
            if (fc == '%') {
                skip_space(sc);
                f++;
            }
            // A literal that does not match stays unread.
            if (stream_peekc(s) != (unsigned char)*f) {
                result = -1;
                break;
            }
            stream_getc(s);
            f++;
            continue;
        }

        // Directive: "%" ["*"] [width] [size] conversion.
        f++;
        bool suppress = false;
        if (*f == '*') {
            suppress = true;
            f++;
        }
        long width = 0;
        bool has_width = false;
        while (is_digit((unsigned char)*f)) {
            if (width < 100000000)
                width = width * 10 + (*f - '0');
            has_width = true;
            f++;
        }
        if (has_width && width == 0)
            has_width = false;
        long limit = has_width ? width : LONG_MAX;
        size_letter size = SIZE_NONE;
        if (f[0] == 'h' && f[1] == 'h') {
            size = SIZE_HH;
            f += 2;
        } else if (f[0] == 'l' && f[1] == 'l') {
            size = SIZE_LL;
            f += 2;
        } else if (*f == 'h') {
            size = SIZE_H;
            f++;
        } else if (*f == 'l') {
            size = SIZE_L;
            f++;
        } else if (*f == 'L' || *f == 'q') {
            size = SIZE_LONG_DOUBLE;
            f++;
        }
        char conv = *f;
        if (!conv)
            break;
        f++;

        switch (conv) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            skip_space(sc);
            int base = conv == 'i' ? 0 : conv == 'o' ? 8 : (conv == 'x' || conv == 'X') ? 16 : 10;
            bool negative, overflow, eof;
            unsigned long long magnitude;
            if (!scan_integer(sc, base, limit, &negative, &magnitude, &overflow, &eof)) {
                result = eof ? input_failure() : stored;
                break;
            }
            converted = true;
            if (suppress)
                break;
            if (conv == 'd' || conv == 'i') {
                // As strtoll: out-of-range values saturate.
                long long v;
                if (negative)
                    v = (overflow || magnitude > (unsigned long long)LLONG_MAX) ? LLONG_MIN : -(long long)magnitude;
                else
                    v = (overflow || magnitude > (unsigned long long)LLONG_MAX) ? LLONG_MAX : (long long)magnitude;
                store_signed(&ap, size, v);
            } else {
                unsigned long long v = overflow ? ULLONG_MAX : magnitude;
                if (negative)
                    v = 0ULL - v;
                store_unsigned(&ap, size, v);
            }
            stored++;
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G': {
            skip_space(sc);
            char text[FLOAT_TEXT_MAX + 1];
            bool eof;
            if (!scan_float(sc, limit, text, &eof)) {
                result = eof ? input_failure() : stored;
                break;
            }
            converted = true;
            if (!suppress) {
                store_float(&ap, size, text);
                stored++;
            }
            break;
        }
        case 's': {
            skip_space(sc);
            char* out = suppress ? nullptr : va_arg(ap, char*);
            long n = 0;
            int c;
            while (n < limit && (c = stream_peekc(s)) >= 0 && !is_space(c)) {
                stream_getc(s);
                if (out)
                    out[n] = (char)c;
                n++;
            }
            if (n == 0) {
                result = input_failure();  // only end of input stops an empty word
                break;
            }
            if (out) {
                out[n] = 0;
                stored++;
            }
            converted = true;
            break;
        }
        case 'c': {
            long count = has_width ? width : 1;
            char* out = suppress ? nullptr : va_arg(ap, char*);
            long n = 0;
            int c;
            while (n < count && (c = stream_getc(s)) >= 0) {
                if (out)
                    out[n] = (char)c;
                n++;
            }
            if (n < count) {
                result = input_failure();
                break;
            }
            converted = true;
            if (out)
                stored++;
            break;
        }
        case '[': {
            bool set[256];
            const char* after = parse_set(f, set);
            if (!after) {
                result = stored;  // malformed directive
                break;
            }
            f = after;
            char* out = suppress ? nullptr : va_arg(ap, char*);
            long n = 0;
            int c;
            while (n < limit && (c = stream_peekc(s)) >= 0 && set[c]) {
                stream_getc(s);
                if (out)
                    out[n] = (char)c;
                n++;
            }
            if (n == 0) {
                result = stream_peekc(s) < 0 ? input_failure() : stored;
                break;
            }
            converted = true;
            if (out) {
                out[n] = 0;
                stored++;
            }
            break;
        }
        case 'n':
            if (!suppress)
                store_signed(&ap, size, s->position - sc.start);
            break;
        default:
            result = stored;  // unknown conversion ends the scan
            break;
        }
    }
    va_end(ap);
    return result == -2 ? stored : result;
}

int stream_scan(data_stream* s, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int r = stream_vscan(s, format, args);
    va_end(args);
    return r;
}
