// Pieces the two formatters share where their rules are the same. Each engine keeps its own
// directive record and output target.
#ifndef KIVOS_LIBC_STDIO_FORMAT_H
#define KIVOS_LIBC_STDIO_FORMAT_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace kivos::format {

inline constexpr char k_lower_digits[] = "0123456789abcdef";
inline constexpr char k_upper_digits[] = "0123456789ABCDEF";

// Room for the digits of any 64-bit value in base 10 or 16.
inline constexpr size_t k_max_digits = 20;

// The caller's arguments, handed by reference from one parsing step to the next.
struct argument_list {
    va_list ap;
};

// A width or precision at p: `*` takes the next argument as an int, otherwise a run of decimal
// digits (none gives 0). Returns the character after it.
const char *parse_count(const char *p, argument_list &args, int *value);

// An integer argument: 64 bits with `ll`, otherwise one word, sign- or zero-extended.
inline int64_t take_signed(argument_list &args, bool wide) {
    return wide ? va_arg(args.ap, long long) : va_arg(args.ap, int);
}

// Pointers travel as one word like unsigned ints, so `p` takes its argument here too.
inline uint64_t take_unsigned(argument_list &args, bool wide) {
    return wide ? va_arg(args.ap, unsigned long long) : va_arg(args.ap, unsigned);
}

// A %s argument, with "(null)" standing in for a null pointer.
inline const char *take_string(argument_list &args) {
    const char *s = va_arg(args.ap, const char *);
    return s != nullptr ? s : "(null)";
}

// Bytes of s that a %s shows: all of it, or at most precision bytes when precision is 0 or more,
// so an unterminated array is never read past its precision.
inline size_t shown_length(const char *s, int precision) {
    return precision >= 0 ? strnlen(s, static_cast<size_t>(precision)) : strlen(s);
}

// The digits of value in base 10 or 16, most significant first, ending right before end.
// Returns where they begin; 0 gives the one digit 0.
inline char *render_digits_backwards(char *end, uint32_t value, unsigned base,
                                     const char *alphabet) {
    for (;;) {
        const uint32_t digit = value % base;
        value /= base;
        *--end = alphabet[digit];
        if (value == 0) return end;
    }
}
char *render_digits_backwards(char *end, uint64_t value, unsigned base, const char *alphabet);

}  // namespace kivos::format

#endif
