// The end of a failed assertion.
#include <assert.h>

#include "fatal.h"

namespace {

constexpr size_t k_max_digits = 10;  // 4294967295

// The decimal digits of n, written backwards into the end of `digits`.
const char *decimal(unsigned int n, char (&digits)[k_max_digits + 1]) {
    char *p = digits + k_max_digits;
    *p = '\0';
    do {
        *--p = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    return p;
}

}  // namespace

extern "C" void __assert_fail(const char *expr, const char *file, unsigned int line,
                              const char *function) {
    char digits[k_max_digits + 1];
    fatal_error(
        {file, ":", decimal(line, digits), ": ", function, ": Assertion '", expr, "' failed."});
}
