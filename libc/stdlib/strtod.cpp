// Text to floating point, digit by digit in x87 extended precision.
//
// Digits go into the value as the text reads them: value * base + digit. Ordinary inputs (at most
// 1024 fraction places and an exponent of at most 1024) are then scaled one step per place and per
// unit of exponent, each step rounding. Longer inputs would take unbounded time that way and leave
// the long double range on the way, so they are scaled once by the whole net power instead.
#include <stdint.h>
#include <stdlib.h>

namespace {

// Digit counts stop here; no string in a 32-bit address space reaches it in earnest.
constexpr unsigned k_count_hold = 1000000000;
// An exponent's magnitude stays put here: so far past the digit counts and either format's
// range that any number with such an exponent is infinite or zero, held or not.
constexpr int k_exponent_hold = 1 << 30;
// The most places and exponent units that are scaled one step at a time.
constexpr unsigned k_step_limit = 1024;

// Once the value reaches these, value * base + digit rounds to value * base: the digit is lost.
constexpr long double k_decimal_saturation = 0x1p65L;
constexpr long double k_hex_saturation = 0x1p64L;

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_decimal_digit(char c) {
    return c >= '0' && c <= '9';
}

int hex_digit_value(char c) {
    if (is_decimal_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

unsigned held_count(unsigned count) {
    return count < k_count_hold ? count + 1 : count;
}

bool is_infinite(long double value) {
    return value > __LDBL_MAX__;
}

// The digits of a number as a long double, with what is left to scale.
struct significand {
    long double value;
    // Digits after the value stopped taking them: each would only have multiplied it by the base.
    unsigned dropped;
    unsigned fraction_places;
};

// The net power of the base that the digits and the exponent give, held where it is infinite
// or zero whatever the digits.
int net_power(const significand &s, int exponent, int places_per_digit) {
    const int64_t places = (int64_t{s.dropped} - int64_t{s.fraction_places}) * places_per_digit;
    const int64_t power = places + exponent;
    return static_cast<int>(power > k_exponent_hold    ? k_exponent_hold
                            : power < -k_exponent_hold ? -k_exponent_hold
                                                       : power);
}

template <int base>
void take_digit(significand &s, int digit, bool in_fraction, long double saturation) {
    if (s.value < saturation) {
        s.value = s.value * base + digit;
    } else {
        s.dropped = held_count(s.dropped);
    }
    if (in_fraction) s.fraction_places = held_count(s.fraction_places);
}

// The exponent after the 'e' or 'p' at p, if a digit follows its optional sign; otherwise the
// exponent is not taken and p is returned.
const char *read_exponent(const char *p, int *exponent) {
    const char *q = p + 1;
    const bool negative = *q == '-';
    if (*q == '-' || *q == '+') ++q;
    if (!is_decimal_digit(*q)) return p;
    int magnitude = 0;
    for (; is_decimal_digit(*q); ++q) {
        const int next =
            magnitude > k_exponent_hold / 10 ? k_exponent_hold : magnitude * 10 + (*q - '0');
        magnitude = next < k_exponent_hold ? next : k_exponent_hold;
    }
    *exponent = negative ? -magnitude : magnitude;
    return q;
}

unsigned magnitude_of(int n) {
    return n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
}

// value * 10^n in few roundings, the powers squared up from 10. Powers past the range turn into
// infinity, which drives the value to infinity or zero as it should.
long double scale_by_power_of_ten(long double value, int n) {
    if (value == 0) return value;
    long double power = 10.0L;
    for (unsigned m = magnitude_of(n); m != 0; m >>= 1) {
        if ((m & 1) != 0) {
            if (n > 0) {
                value *= power;
            } else {
                value /= power;
            }
        }
        power *= power;
    }
    return value;
}

// value * 2^n with one rounding, subnormal and overflowing results included.
long double scale_by_power_of_two(long double value, int n) {
    long double result;
    asm("fscale" : "=t"(result) : "0"(value), "u"(static_cast<long double>(n)));
    return result;
}

long double scale_in_steps(const significand &s, int exponent) {
    long double value = s.value;
    for (unsigned i = 0; i < s.dropped && !is_infinite(value); ++i) value *= 10.0L;
    for (unsigned i = 0; i < s.fraction_places; ++i) value /= 10.0L;
    for (int i = 0; i < exponent; ++i) value *= 10.0L;
    for (int i = 0; i > exponent; --i) value /= 10.0L;
    return value;
}

long double decimal_value(const significand &s, int exponent) {
    if (s.fraction_places <= k_step_limit && magnitude_of(exponent) <= k_step_limit) {
        const long double value = scale_in_steps(s, exponent);
        // Overflowed on the way only; the whole power says whether the number really does.
        if (!is_infinite(value)) return value;
    }
    // Dropped fraction digits count on both sides and cancel.
    return scale_by_power_of_ten(s.value, net_power(s, exponent, 1));
}

// Steps of 16, 0.0625, 2 and 0.5 are exact while the value stays normal and finite, so one
// scaling by the net power of two gives the same bits, and the right ones where steps would not.
long double hex_value(const significand &s, int exponent) {
    return scale_by_power_of_two(s.value, net_power(s, exponent, 4));
}

// From the first digit or the '.' before one; returns the end of the number.
const char *read_decimal(const char *p, long double *value) {
    significand s = {0.0L, 0, 0};
    for (; is_decimal_digit(*p); ++p) take_digit<10>(s, *p - '0', false, k_decimal_saturation);
    if (*p == '.') {
        for (++p; is_decimal_digit(*p); ++p)
            take_digit<10>(s, *p - '0', true, k_decimal_saturation);
    }
    int exponent = 0;
    if (*p == 'e' || *p == 'E') p = read_exponent(p, &exponent);
    *value = decimal_value(s, exponent);
    return p;
}

// From behind the "0x"; null when no hexadecimal digit follows, before or after a '.'.
const char *read_hex(const char *p, long double *value) {
    significand s = {0.0L, 0, 0};
    bool any_digit = false;
    for (int d = hex_digit_value(*p); d >= 0; d = hex_digit_value(*++p)) {
        take_digit<16>(s, d, false, k_hex_saturation);
        any_digit = true;
    }
    if (*p == '.') {
        for (int d = hex_digit_value(*++p); d >= 0; d = hex_digit_value(*++p)) {
            take_digit<16>(s, d, true, k_hex_saturation);
            any_digit = true;
        }
    }
    if (!any_digit) return nullptr;
    int exponent = 0;
    if (*p == 'p' || *p == 'P') p = read_exponent(p, &exponent);
    *value = hex_value(s, exponent);
    return p;
}

}  // namespace

extern "C" {

long double strtold(const char *s, char **endptr) {
    if (s == nullptr) {
        if (endptr != nullptr) *endptr = nullptr;
        return 0.0L;
    }
    const char *p = s;
    while (is_space(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    long double value = 0.0L;
    const char *end = nullptr;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        end = read_hex(p + 2, &value);
    } else if (is_decimal_digit(p[0]) || (p[0] == '.' && is_decimal_digit(p[1]))) {
        end = read_decimal(p, &value);
    }
    if (end == nullptr) {
        if (endptr != nullptr) *endptr = const_cast<char *>(s);
        return 0.0L;
    }
    if (endptr != nullptr) *endptr = const_cast<char *>(end);
    return negative ? -value : value;
}

double strtod(const char *s, char **endptr) {
    // Through memory: st(0) would otherwise hand back the long double unrounded.
    volatile double rounded = static_cast<double>(strtold(s, endptr));
    return rounded;
}

}  // extern "C"
