// The stream formatter: renders straight onto a stream, one writer call per piece, and stops at
// the first failed write. A separate engine from vsnprintf: no flags, 64-bit `ll`, a padded `p`,
// and the console control packet.
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include "format.h"
#include "stream.h"

using kivos::format::argument_list;

namespace {

constexpr unsigned char k_control_packet_marker = 0xFF;

// Hands each piece to the stream writer as soon as it is produced and counts what got through.
struct stream_output {
    FILE *stream;
    size_t count;  // stays at SIZE_MAX once it would wrap
};

bool write_bytes(stream_output &out, const char *bytes, size_t count) {
    if (file_write_bytes(out.stream, bytes, count) != 0) return false;
    if (__builtin_add_overflow(out.count, count, &out.count)) out.count = SIZE_MAX;
    return true;
}

bool write_char(stream_output &out, char c) {
    return write_bytes(out, &c, 1);
}

// Padding goes out one character per writer call.
bool write_repeated(stream_output &out, char c, int count) {
    for (int i = 0; i < count; ++i) {
        if (!write_char(out, c)) return false;
    }
    return true;
}

struct directive {
    int width;
    int precision;  // negative: none
    bool wide;      // `ll`: the integer argument is 64 bits
};

// Parses width, precision and length; returns the conversion character's place.
const char *parse_directive(const char *p, argument_list &args, directive *d) {
    *d = directive{0, -1, false};
    p = kivos::format::parse_count(p, args, &d->width);
    if (*p == '.') p = kivos::format::parse_count(p + 1, args, &d->precision);
    // `l` changes nothing, `ll` widens; a third `l` is the conversion character.
    if (*p == 'l' && *++p == 'l') {
        d->wide = true;
        ++p;
    }
    return p;
}

bool write_string(stream_output &out, const directive &d, argument_list &args) {
    const char *s = kivos::format::take_string(args);
    const size_t length = kivos::format::shown_length(s, d.precision);
    const int fill = d.width > 0 && length < static_cast<size_t>(d.width)
                         ? d.width - static_cast<int>(length)
                         : 0;
    return write_repeated(out, ' ', fill) && write_bytes(out, s, length);
}

// Always right-aligned in spaces; precision zeros stand between the sign or "0x" and the digits.
bool write_integer(stream_output &out, const directive &d, char conversion, argument_list &args) {
    const bool is_pointer = conversion == 'p';
    bool negative = false;
    uint64_t magnitude;
    if (conversion == 'd' || conversion == 'i') {
        const int64_t value = kivos::format::take_signed(args, d.wide);
        negative = value < 0;
        magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    } else {
        magnitude = kivos::format::take_unsigned(args, d.wide);
    }
    char scratch[kivos::format::k_max_digits];
    char *end = scratch + kivos::format::k_max_digits;
    const unsigned base = conversion == 'x' || is_pointer ? 16 : 10;
    const char *first =
        kivos::format::render_digits_backwards(end, magnitude, base, kivos::format::k_lower_digits);
    const int digits = static_cast<int>(end - first);
    const int zeros = d.precision > digits ? d.precision - digits : 0;
    const int field = (negative ? 1 : 0) + (is_pointer ? 2 : 0) + zeros + digits;
    const int fill = d.width > field ? d.width - field : 0;
    return write_repeated(out, ' ', fill) && (!negative || write_char(out, '-')) &&
           (!is_pointer || (write_char(out, '0') && write_char(out, 'x'))) &&
           write_repeated(out, '0', zeros) && write_bytes(out, first, static_cast<size_t>(digits));
}

bool write_conversion(stream_output &out, const directive &d, char conversion,
                      argument_list &args) {
    switch (conversion) {
        case '%':
            return write_char(out, '%');
        case 'c':
            return write_char(out, static_cast<char>(va_arg(args.ap, int)));
        case 's':
            return write_string(out, d, args);
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'p':
            return write_integer(out, d, conversion, args);
        default:
            // Unknown conversions are echoed; whatever the directive held before is dropped.
            return write_char(out, '%') && write_char(out, conversion);
    }
}

// The console reads a `%c` that opens the format as a four-byte control packet.
bool opens_with_control_packet(const FILE *stream, const char *format) {
    return stream->kind == STREAM_FD && stream->fd == KIVOS_CONSOLE_OUT_FD && format[0] == '%' &&
           format[1] == 'c';
}

bool write_control_packet(FILE *stream, argument_list &args) {
    unsigned char packet[4] = {k_control_packet_marker, 0, 0, 0};
    for (int i = 1; i < 4; ++i) packet[i] = static_cast<unsigned char>(va_arg(args.ap, int));
    return file_write_bytes(stream, packet, sizeof packet) == 0;
}

// The bytes written, or -1 at the first failed write; what went out before it stays out.
int render(FILE *stream, const char *format, argument_list &args) {
    if (opens_with_control_packet(stream, format)) {
        if (!write_control_packet(stream, args)) return -1;
        format += 2;
    }
    stream_output out{stream, 0};
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            if (!write_char(out, *p)) return -1;
            continue;
        }
        directive d;
        p = parse_directive(p + 1, args, &d);
        // A format that ends inside a directive ends the rendering there.
        if (*p == '\0') break;
        if (!write_conversion(out, d, *p, args)) return -1;
    }
    // A count past the largest int cannot be returned, as C says.
    return out.count > INT_MAX ? -1 : static_cast<int>(out.count);
}

}  // namespace

extern "C" {

int vfprintf(FILE *stream, const char *format, va_list ap) {
    if (stream == nullptr || format == nullptr) return -1;
    argument_list args;
    va_copy(args.ap, ap);
    const int result = render(stream, format, args);
    va_end(args.ap);
    return result;
}

int fprintf(FILE *stream, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    const int result = vfprintf(stream, format, ap);
    va_end(ap);
    return result;
}

int printf(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    const int result = vfprintf(stdout, format, ap);
    va_end(ap);
    return result;
}

}  // extern "C"
