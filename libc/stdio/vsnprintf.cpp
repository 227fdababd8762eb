// The bounded formatter: renders into a caller's buffer, stores what fits and returns the length
// of the whole rendering. Also the string members of the printf family built on it.
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include "format.h"

using kivos::format::argument_list;

extern "C" void snbuf_render_unsigned(char *out, int *out_len, unsigned value, unsigned base,
                                      int upper);

namespace {

// sprintf and vsprintf trust the caller's buffer up to this bound, the terminator included.
constexpr size_t k_unbounded_size = 0x10000;

// Counts every character produced; stores it only while room for the terminator remains.
struct bounded_output {
    char *s;
    size_t limit;  // characters that may be stored: size - 1, or 0 when nothing may be stored
    size_t position;
};

void put(bounded_output &out, char c) {
    if (out.position < out.limit) out.s[out.position] = c;
    ++out.position;
}

void put_repeated(bounded_output &out, char c, int count) {
    for (int i = 0; i < count; ++i) put(out, c);
}

void put_bytes(bounded_output &out, const char *bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) put(out, bytes[i]);
}

struct directive {
    bool left_justify;
    bool zero_fill;
    bool plus_sign;
    int width;
    int precision;  // negative: none
    bool wide;      // `ll`: the integer argument is 64 bits
};

// Fill before and after a field, and zeros between its sign and digits.
struct padding {
    int spaces_before;
    int zeros;
    int spaces_after;
};

// Parses flags, width, precision and length; returns the conversion character's place.
const char *parse_directive(const char *p, argument_list &args, directive *d) {
    *d = directive{false, false, false, 0, -1, false};
    for (;; ++p) {
        if (*p == '-') {
            d->left_justify = true;
        } else if (*p == '0') {
            d->zero_fill = true;
        } else if (*p == '+') {
            d->plus_sign = true;
        } else {
            break;
        }
    }
    p = kivos::format::parse_count(p, args, &d->width);
    if (*p == '.') p = kivos::format::parse_count(p + 1, args, &d->precision);
    // One modifier at most: whatever follows it is the conversion character.
    if (*p == 'z') return p + 1;
    if (*p == 'l' && *++p == 'l') {
        d->wide = true;
        ++p;
    }
    return p;
}

// Fill to the width around a sign, precision zeros and digits.
padding integer_padding(const directive &d, int sign_length, int digits) {
    const int zeros = d.precision > digits ? d.precision - digits : 0;
    const int field = sign_length + zeros + digits;
    const int fill = d.width > field ? d.width - field : 0;
    if (d.left_justify) return {0, zeros, fill};
    // Zero-fill gives way to an explicit precision.
    if (d.zero_fill && d.precision < 0) return {0, fill, 0};
    return {fill, zeros, 0};
}

// The digits of a magnitude, most significant first, in scratch.
struct digit_run {
    const char *first;
    int count;
};

digit_run render_magnitude(char (&scratch)[kivos::format::k_max_digits], uint64_t magnitude,
                           unsigned base, bool upper) {
    if (magnitude >> 32 == 0) {
        int count;
        snbuf_render_unsigned(scratch, &count, static_cast<unsigned>(magnitude), base, upper);
        return {scratch, count};
    }
    char *end = scratch + kivos::format::k_max_digits;
    const char *first = kivos::format::render_digits_backwards(
        end, magnitude, base,
        upper ? kivos::format::k_upper_digits : kivos::format::k_lower_digits);
    return {first, static_cast<int>(end - first)};
}

void put_integer(bounded_output &out, const directive &d, char sign, uint64_t magnitude,
                 unsigned base, bool upper) {
    char scratch[kivos::format::k_max_digits];
    const digit_run digits = render_magnitude(scratch, magnitude, base, upper);
    const padding pad = integer_padding(d, sign != '\0' ? 1 : 0, digits.count);
    put_repeated(out, ' ', pad.spaces_before);
    if (sign != '\0') put(out, sign);
    put_repeated(out, '0', pad.zeros);
    put_bytes(out, digits.first, static_cast<size_t>(digits.count));
    put_repeated(out, ' ', pad.spaces_after);
}

void put_signed(bounded_output &out, const directive &d, argument_list &args) {
    const int64_t value = kivos::format::take_signed(args, d.wide);
    if (value < 0) {
        put_integer(out, d, '-', 0 - static_cast<uint64_t>(value), 10, false);
    } else {
        put_integer(out, d, d.plus_sign ? '+' : '\0', static_cast<uint64_t>(value), 10, false);
    }
}

// Flags, width and precision do not apply to a pointer.
void put_pointer(bounded_output &out, const directive &d, argument_list &args) {
    char scratch[kivos::format::k_max_digits];
    const digit_run digits =
        render_magnitude(scratch, kivos::format::take_unsigned(args, d.wide), 16, false);
    put(out, '0');
    put(out, 'x');
    put_bytes(out, digits.first, static_cast<size_t>(digits.count));
}

void put_string(bounded_output &out, const directive &d, argument_list &args) {
    const char *s = kivos::format::take_string(args);
    const size_t length = kivos::format::shown_length(s, d.precision);
    const int fill = d.width > 0 && length < static_cast<size_t>(d.width)
                         ? d.width - static_cast<int>(length)
                         : 0;
    if (!d.left_justify) put_repeated(out, ' ', fill);
    put_bytes(out, s, length);
    if (d.left_justify) put_repeated(out, ' ', fill);
}

void put_conversion(bounded_output &out, const directive &d, char conversion, argument_list &args) {
    switch (conversion) {
        case '%':
            put(out, '%');
            break;
        case 'c':
            put(out, static_cast<char>(va_arg(args.ap, int)));
            break;
        case 'd':
        case 'i':
            put_signed(out, d, args);
            break;
        case 'u':
            put_integer(out, d, '\0', kivos::format::take_unsigned(args, d.wide), 10, false);
            break;
        case 'x':
        case 'X':
            put_integer(out, d, '\0', kivos::format::take_unsigned(args, d.wide), 16,
                        conversion == 'X');
            break;
        case 'p':
            put_pointer(out, d, args);
            break;
        case 's':
            put_string(out, d, args);
            break;
        default:
            // Unknown conversions are echoed; whatever the directive held before is dropped.
            put(out, '%');
            put(out, conversion);
            break;
    }
}

void render(bounded_output &out, const char *format, argument_list &args) {
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            put(out, *p);
            continue;
        }
        directive d;
        p = parse_directive(p + 1, args, &d);
        // A format that ends inside a directive ends the rendering there.
        if (*p == '\0') return;
        put_conversion(out, d, *p, args);
    }
}

}  // namespace

extern "C" {

void snbuf_render_unsigned(char *out, int *out_len, unsigned value, unsigned base, int upper) {
    char scratch[kivos::format::k_max_digits];
    char *end = scratch + kivos::format::k_max_digits;
    const char *first = kivos::format::render_digits_backwards(
        end, static_cast<uint32_t>(value), base,
        upper != 0 ? kivos::format::k_upper_digits : kivos::format::k_lower_digits);
    int count = 0;
    while (first != end) out[count++] = *first++;
    *out_len = count;
}

int vsnprintf(char *s, size_t size, const char *format, va_list ap) {
    const bool may_store = s != nullptr && size != 0;
    bounded_output out{s, may_store ? size - 1 : 0, 0};
    if (format != nullptr) {
        argument_list args;
        va_copy(args.ap, ap);
        render(out, format, args);
        va_end(args.ap);
    }
    if (may_store) s[out.position < out.limit ? out.position : out.limit] = '\0';
    return static_cast<int>(out.position);
}

int snprintf(char *s, size_t size, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    const int length = vsnprintf(s, size, format, ap);
    va_end(ap);
    return length;
}

int vsprintf(char *s, const char *format, va_list ap) {
    return vsnprintf(s, k_unbounded_size, format, ap);
}

int sprintf(char *s, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    const int length = vsnprintf(s, k_unbounded_size, format, ap);
    va_end(ap);
    return length;
}

}  // extern "C"
