// The bounded formatter: renders into a caller's buffer, stores what fits and returns the length
// of the whole rendering. Also the string members of the printf family built on it.
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include "format.h"
#include "memory_ops.h"

using kivos::format::argument_list;

extern "C" void snbuf_render_unsigned(char *out, int *out_len, unsigned value, unsigned base,
                                      int upper);

namespace {

// sprintf and vsprintf trust the caller's buffer up to this bound, the terminator included.
constexpr size_t k_unbounded_size = 0x10000;

// A rendering longer than the largest int has no length the result can give; nothing of it is
// stored from there on.
constexpr size_t k_longest_rendering = INT_MAX;

// Counts every character produced; stores it only while room for the terminator remains. Runs
// of characters are stored whole, with the string instructions.
struct bounded_output {
    char *s;
    size_t limit;     // characters that may be stored: size - 1 (at most the longest rendering),
                      // or 0 when nothing may be stored
    size_t position;  // stays at SIZE_MAX once the count would wrap
};

// How many of `count` characters produced from the current position still get stored.
size_t storable(const bounded_output &out, size_t count) {
    const size_t room = out.position < out.limit ? out.limit - out.position : 0;
    return count < room ? count : room;
}

void advance(bounded_output &out, size_t count) {
    if (__builtin_add_overflow(out.position, count, &out.position)) out.position = SIZE_MAX;
}

void put_bytes(bounded_output &out, const char *bytes, size_t count) {
    const size_t stored = storable(out, count);
    if (stored != 0) kivos::memory::copy_bytes(out.s + out.position, bytes, stored);
    advance(out, count);
}

void put_repeated(bounded_output &out, char c, int count) {
    if (count <= 0) return;
    const size_t stored = storable(out, static_cast<size_t>(count));
    if (stored != 0) {
        kivos::memory::fill_bytes(out.s + out.position, static_cast<unsigned char>(c), stored);
    }
    advance(out, static_cast<size_t>(count));
}

struct directive {
    bool left_justify;
    bool zero_fill;
    bool plus_sign;
    bool wide;  // `ll`: the integer argument is 64 bits
    int width;
    int precision;  // negative: none
};

// What one conversion produces, in this order: spaces, a sign or "0x", zeros, its text, spaces.
struct field {
    int spaces_before;
    const char *prefix;
    size_t prefix_length;
    int zeros;
    const char *text;
    size_t text_length;
    int spaces_after;
};

// Flags, width and precision all begin with a character up to '9': a letter skips them at once.
bool may_have_flags_or_counts(char c) {
    return c <= '9';
}

// Parses flags, width and precision; returns the place of the length or conversion character.
const char *parse_flags_and_counts(const char *p, argument_list &args, directive *d) {
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
    return p;
}

// Parses a whole directive; returns the conversion character's place.
const char *parse_directive(const char *p, argument_list &args, directive *d) {
    *d = directive{false, false, false, false, 0, -1};
    if (may_have_flags_or_counts(*p)) p = parse_flags_and_counts(p, args, d);
    // One modifier at most: whatever follows it is the conversion character.
    if (*p == 'z') return p + 1;
    if (*p == 'l' && *++p == 'l') {
        d->wide = true;
        ++p;
    }
    return p;
}

// An integer conversion's argument, ready for its digits.
struct integer_argument {
    const char *sign;  // "", "-" or "+"
    uint64_t magnitude;
    unsigned base;
    bool upper;
};

integer_argument signed_argument(const directive &d, argument_list &args) {
    const int64_t value = kivos::format::take_signed(args, d.wide);
    if (value < 0) return {"-", 0 - static_cast<uint64_t>(value), 10, false};
    return {d.plus_sign ? "+" : "", static_cast<uint64_t>(value), 10, false};
}

integer_argument unsigned_argument(const directive &d, argument_list &args, unsigned base,
                                   bool upper) {
    return {"", kivos::format::take_unsigned(args, d.wide), base, upper};
}

// Text a conversion makes itself: the digits of any value, or a character.
constexpr size_t k_scratch_size = kivos::format::k_max_digits;
using scratch_buffer = char[k_scratch_size];

// The digits of a magnitude, most significant first, end at the end of scratch.
const char *render_magnitude(scratch_buffer &scratch, uint64_t magnitude, unsigned base,
                             bool upper) {
    char *end = scratch + k_scratch_size;
    const char *alphabet = upper ? kivos::format::k_upper_digits : kivos::format::k_lower_digits;
    if (magnitude >> 32 != 0) {
        return kivos::format::render_digits_backwards(end, magnitude, base, alphabet);
    }
    return kivos::format::render_digits_backwards(end, static_cast<uint32_t>(magnitude), base,
                                                  alphabet);
}

// Fill to the width around a sign, precision zeros and digits.
field integer_field(const directive &d, const integer_argument &n, scratch_buffer &scratch) {
    const char *digits = render_magnitude(scratch, n.magnitude, n.base, n.upper);
    const auto count = static_cast<size_t>(scratch + k_scratch_size - digits);
    const size_t sign_length = n.sign[0] != '\0' ? 1 : 0;
    const int shown = static_cast<int>(count);
    const int zeros = d.precision > shown ? d.precision - shown : 0;
    const int length = static_cast<int>(sign_length) + zeros + shown;
    const int fill = d.width > length ? d.width - length : 0;
    field f{fill, n.sign, sign_length, zeros, digits, count, 0};
    if (d.left_justify) {
        f.spaces_before = 0;
        f.spaces_after = fill;
    } else if (d.zero_fill && d.precision < 0) {
        // Zero-fill gives way to an explicit precision.
        f.spaces_before = 0;
        f.zeros = fill;
    }
    return f;
}

field string_field(const directive &d, argument_list &args) {
    const char *s = kivos::format::take_string(args);
    const size_t length = kivos::format::shown_length(s, d.precision);
    const int fill = d.width > 0 && length < static_cast<size_t>(d.width)
                         ? d.width - static_cast<int>(length)
                         : 0;
    field f{fill, "", 0, 0, s, length, 0};
    if (d.left_justify) {
        f.spaces_before = 0;
        f.spaces_after = fill;
    }
    return f;
}

// Just the text: no fill, sign or zeros.
field plain_field(const char *prefix, size_t prefix_length, const char *text, size_t length) {
    return {0, prefix, prefix_length, 0, text, length, 0};
}

// Flags, width and precision do not apply to a pointer.
field pointer_field(const directive &d, argument_list &args, scratch_buffer &scratch) {
    const char *digits =
        render_magnitude(scratch, kivos::format::take_unsigned(args, d.wide), 16, false);
    return plain_field("0x", 2, digits, static_cast<size_t>(scratch + k_scratch_size - digits));
}

// The field of one conversion; text that is not the caller's lives in scratch.
field conversion_field(const directive &d, const char *conversion, argument_list &args,
                       scratch_buffer &scratch) {
    integer_argument n;
    switch (*conversion) {
        case '%':
            return plain_field("", 0, conversion, 1);
        case 'c':
            scratch[0] = static_cast<char>(va_arg(args.ap, int));
            return plain_field("", 0, scratch, 1);
        case 'd':
        case 'i':
            n = signed_argument(d, args);
            break;
        case 'u':
            n = unsigned_argument(d, args, 10, false);
            break;
        case 'x':
        case 'X':
            n = unsigned_argument(d, args, 16, *conversion == 'X');
            break;
        case 'p':
            return pointer_field(d, args, scratch);
        case 's':
            return string_field(d, args);
        default:
            // Unknown conversions are echoed; whatever the directive held before is dropped.
            return plain_field("%", 1, conversion, 1);
    }
    return integer_field(d, n, scratch);
}

void put_field(bounded_output &out, const field &f) {
    put_repeated(out, ' ', f.spaces_before);
    put_bytes(out, f.prefix, f.prefix_length);
    put_repeated(out, '0', f.zeros);
    put_bytes(out, f.text, f.text_length);
    put_repeated(out, ' ', f.spaces_after);
}

void render(bounded_output &out, const char *format, argument_list &args) {
    const char *p = format;
    for (;;) {
        const char *literal = p;
        while (*p != '%' && *p != '\0') ++p;
        if (p != literal) put_bytes(out, literal, static_cast<size_t>(p - literal));
        if (*p == '\0') return;
        directive d;
        p = parse_directive(p + 1, args, &d);
        // A format that ends inside a directive ends the rendering there.
        if (*p == '\0') return;
        scratch_buffer scratch;
        put_field(out, conversion_field(d, p, args, scratch));
        ++p;
    }
}

}  // namespace

extern "C" {

// The formatter itself renders digits where they end, at the end of its scratch; this renders them
// from the start of `out`.
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

// A rendering longer than the largest int answers -1, as C does for a length it cannot return.
int vsnprintf(char *s, size_t size, const char *format, va_list ap) {
    const bool may_store = s != nullptr && size != 0;
    const size_t limit = size - 1 < k_longest_rendering ? size - 1 : k_longest_rendering;
    bounded_output out{s, may_store ? limit : 0, 0};
    if (format != nullptr) {
        argument_list args;
        va_copy(args.ap, ap);
        render(out, format, args);
        va_end(args.ap);
    }
    if (may_store) s[out.position < out.limit ? out.position : out.limit] = '\0';
    return out.position > k_longest_rendering ? -1 : static_cast<int>(out.position);
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
