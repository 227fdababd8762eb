// Directive pieces and digit rendering shared by vsnprintf and vfprintf.
#include "format.h"

#include <string.h>

#include "divmod.h"

namespace kivos::format {

const char *parse_count(const char *p, argument_list &args, int *value) {
    if (*p == '*') {
        *value = va_arg(args.ap, int);
        return p + 1;
    }
    // Accumulated as a 32-bit count: an absurd run of digits wraps rather than trapping.
    unsigned count = 0;
    for (; *p >= '0' && *p <= '9'; ++p) count = count * 10 + static_cast<unsigned>(*p - '0');
    *value = static_cast<int>(count);
    return p;
}

int64_t take_signed(argument_list &args, bool wide) {
    return wide ? va_arg(args.ap, long long) : va_arg(args.ap, int);
}

// Pointers travel as one word like unsigned ints, so `p` takes its argument here too.
uint64_t take_unsigned(argument_list &args, bool wide) {
    return wide ? va_arg(args.ap, unsigned long long) : va_arg(args.ap, unsigned);
}

const char *take_string(argument_list &args) {
    const char *s = va_arg(args.ap, const char *);
    return s != nullptr ? s : "(null)";
}

size_t shown_length(const char *s, int precision) {
    return precision >= 0 ? strnlen(s, static_cast<size_t>(precision)) : strlen(s);
}

char *render_digits_backwards(char *end, uint32_t value, unsigned base, const char *alphabet) {
    do {
        *--end = alphabet[value % base];
        value /= base;
    } while (value != 0);
    return end;
}

char *render_digits_backwards(char *end, uint64_t value, unsigned base, const char *alphabet) {
    // Only the digits above the low word need the slow divide; the rest go 32 bits at a time.
    while (value >> 32 != 0) {
        uint64_t digit;
        value = udivmod64(value, base, &digit);
        *--end = alphabet[digit];
    }
    return render_digits_backwards(end, static_cast<uint32_t>(value), base, alphabet);
}

}  // namespace kivos::format
