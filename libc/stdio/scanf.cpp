// Formatted input: a format matched against a string, or against one word of a descriptor stream.
#include <stdarg.h>
#include <stdio.h>

#include "stream.h"

namespace {

// The stream word holds at most this many bytes; the rest of a longer word is read and dropped.
constexpr unsigned k_word_capacity = 255;
// A width this large bounds nothing in a 32-bit address space.
constexpr unsigned k_width_hold = 0xffffffff;

// Whitespace directives in the format skip these; carriage return is an ordinary byte.
bool is_directive_space(char c) {
    return c == '\t' || c == '\n' || c == ' ';
}

// Conversions skip only these before their field: a line feed stays to be matched.
bool is_field_space(char c) {
    return c == '\t' || c == ' ';
}

bool is_word_end(char c) {
    return c == '\0' || c == ' ' || c == '\t' || c == '\n';
}

// The stream word is cut at these.
bool is_stream_space(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

int digit_value(char c, unsigned base) {
    if (c >= '0' && c <= '9') return c - '0' < static_cast<int>(base) ? c - '0' : -1;
    if (base != 16) return -1;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One conversion: '%', an optional '*', an optional width, the conversion byte.
struct directive {
    bool suppressed;
    unsigned width;  // 0 when none was given
    char conversion;
};

const char *parse_directive(const char *f, directive *d) {
    d->suppressed = *f == '*';
    if (d->suppressed) ++f;
    d->width = 0;
    for (; *f >= '0' && *f <= '9'; ++f) {
        const unsigned digit = static_cast<unsigned>(*f - '0');
        d->width = d->width > (k_width_hold - digit) / 10 ? k_width_hold : d->width * 10 + digit;
    }
    d->conversion = *f;
    return f;
}

struct scan_state {
    const char *in;  // only ever moves forward
    int count;       // values stored so far: the result
};

// A null destination has its field consumed and nothing stored or counted.
template <typename T>
void store(scan_state &st, const directive &d, va_list &ap, T value) {
    if (d.suppressed) return;
    T *destination = va_arg(ap, T *);
    if (destination == nullptr) return;
    *destination = value;
    ++st.count;
}

// 'd', 'i', 'x' and 'X': an optional sign, digits that wrap modulo 2^32.
bool scan_integer(scan_state &st, const directive &d, va_list &ap) {
    const char *p = st.in;
    while (is_field_space(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    unsigned base = d.conversion == 'd' ? 10 : 16;
    if (d.conversion == 'i') {
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
            p += 2;
        } else {
            base = p[0] == '0' ? 8 : 10;
        }
    }
    if (*p == '\0') return false;
    unsigned value = 0;
    const char *digits = p;
    for (int digit = digit_value(*p, base); digit >= 0; digit = digit_value(*++p, base)) {
        value = value * base + static_cast<unsigned>(digit);
    }
    if (p == digits) return false;
    st.in = p;
    store(st, d, ap, static_cast<int>(negative ? 0u - value : value));
    return true;
}

// 'u': unsigned decimal, no sign.
bool scan_unsigned(scan_state &st, const directive &d, va_list &ap) {
    const char *p = st.in;
    while (is_field_space(*p)) ++p;
    if (digit_value(*p, 10) < 0) return false;
    unsigned value = 0;
    for (; digit_value(*p, 10) >= 0; ++p) value = value * 10 + static_cast<unsigned>(*p - '0');
    st.in = p;
    store(st, d, ap, value);
    return true;
}

// 'c': exactly one byte, whitespace included.
bool scan_char(scan_state &st, const directive &d, va_list &ap) {
    if (*st.in == '\0') return false;
    store(st, d, ap, *st.in);
    ++st.in;
    return true;
}

// 's': a word up to NUL, space, tab or line feed, cut at the width when one is given.
bool scan_word(scan_state &st, const directive &d, va_list &ap) {
    const char *p = st.in;
    while (is_field_space(*p)) ++p;
    if (*p == '\0') return false;
    const unsigned limit = d.width != 0 ? d.width : k_width_hold;
    unsigned length = 0;
    while (length < limit && !is_word_end(p[length])) ++length;
    st.in = p + length;
    if (d.suppressed) return true;
    char *destination = va_arg(ap, char *);
    if (destination == nullptr) return true;
    for (unsigned i = 0; i < length; ++i) destination[i] = p[i];
    destination[length] = '\0';
    ++st.count;
    return true;
}

// False when the directive does not match: the scan stops there.
bool scan_conversion(scan_state &st, const directive &d, va_list &ap) {
    switch (d.conversion) {
        case '%':
            if (*st.in != '%') return false;
            ++st.in;
            return true;
        case 'd':
        case 'i':
        case 'x':
        case 'X':
            return scan_integer(st, d, ap);
        case 'u':
            return scan_unsigned(st, d, ap);
        case 'c':
            return scan_char(st, d, ap);
        case 's':
            return scan_word(st, d, ap);
        default:
            return false;
    }
}

// One byte of the stream: false at its end, on a failed read and on a read that answers anything
// but one byte.
bool read_stream_byte(FILE *stream, char *byte) {
    return stream_read_byte(stream, reinterpret_cast<unsigned char *>(byte)) == 1;
}

// The next whitespace-delimited word of a descriptor stream, with the whitespace before it and
// the byte that ends it; false when the stream yields none.
bool read_stream_word(FILE *stream, char (&word)[k_word_capacity + 1]) {
    char byte;
    do {
        if (!read_stream_byte(stream, &byte)) return false;
    } while (is_stream_space(byte));
    unsigned length = 0;
    word[length++] = byte;
    while (read_stream_byte(stream, &byte) && !is_stream_space(byte)) {
        if (length < k_word_capacity) word[length++] = byte;
    }
    word[length] = '\0';
    return true;
}

}  // namespace

extern "C" {

int vsscanf(const char *str, const char *format, va_list ap) {
    if (str == nullptr || format == nullptr) return 0;
    scan_state st = {str, 0};
    va_list args;
    va_copy(args, ap);
    for (const char *f = format; *f != '\0';) {
        if (is_directive_space(*f)) {
            while (is_directive_space(*st.in)) ++st.in;
            while (is_directive_space(*f)) ++f;
        } else if (*f != '%') {
            if (*st.in != *f) break;
            ++st.in;
            ++f;
        } else {
            directive d;
            f = parse_directive(f + 1, &d);
            if (!scan_conversion(st, d, args)) break;
            ++f;
        }
    }
    va_end(args);
    return st.count;
}

int sscanf(const char *str, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    const int count = vsscanf(str, format, ap);
    va_end(ap);
    return count;
}

int fscanf(FILE *stream, const char *format, ...) {
    if (stream == nullptr || format == nullptr || stream->kind != STREAM_FD) return -1;
    char word[k_word_capacity + 1];
    if (!read_stream_word(stream, word)) return -1;
    va_list ap;
    va_start(ap, format);
    const int count = vsscanf(word, format, ap);
    va_end(ap);
    return count;
}

}  // extern "C"
