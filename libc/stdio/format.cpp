// Directive pieces and digit rendering shared by vsnprintf and vfprintf.
#include "format.h"

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
