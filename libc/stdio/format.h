// Pieces the two formatters share where their rules are the same. Each engine keeps its own
// directive record and output target.
#ifndef KIVOS_LIBC_STDIO_FORMAT_H
#define KIVOS_LIBC_STDIO_FORMAT_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

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
int64_t take_signed(argument_list &args, bool wide);
uint64_t take_unsigned(argument_list &args, bool wide);

// A %s argument, with "(null)" standing in for a null pointer.
const char *take_string(argument_list &args);

// Bytes of s that a %s shows: all of it, or at most precision bytes when precision is 0 or more,
// so an unterminated array is never read past its precision.
size_t shown_length(const char *s, int precision);

// The digits of value in base 10 or 16, most significant first, ending right before end.
// Returns where they begin; 0 gives the one digit 0.
char *render_digits_backwards(char *end, uint32_t value, unsigned base, const char *alphabet);
char *render_digits_backwards(char *end, uint64_t value, unsigned base, const char *alphabet);

}  // namespace kivos::format

#endif
