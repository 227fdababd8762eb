// Text to integers: no sign for the strto forms, no range checks, results wrap modulo 2^32.
#include <stdlib.h>

namespace {

// Vertical tab and form feed are not skipped here.
bool is_strto_space(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Nor is carriage return by the ato forms.
bool is_ato_space(char c) {
    return c == '\t' || c == '\n' || c == ' ';
}

bool is_decimal_digit(char c) {
    return c >= '0' && c <= '9';
}

// Letters past 'f' are never digits, whatever the base.
int digit_value(char c) {
    if (is_decimal_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_hex_prefix(const char *p) {
    return p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
}

}  // namespace

extern "C" {

unsigned long strtoul(const char *s, char **endptr, int base) {
    if (s == nullptr) {
        if (endptr != nullptr) *endptr = nullptr;
        return 0;
    }
    const char *p = s;
    while (is_strto_space(*p)) ++p;
    if (base == 0) {
        if (is_hex_prefix(p)) {
            p += 2;
            base = 16;
        } else if (*p == '0') {
            ++p;
            base = 8;
        } else {
            base = 10;
        }
    } else if (base == 16 && is_hex_prefix(p)) {
        p += 2;
    }
    unsigned long value = 0;
    for (int digit = digit_value(*p); digit >= 0 && digit < base; digit = digit_value(*++p)) {
        value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
    }
    if (endptr != nullptr) *endptr = const_cast<char *>(p);
    return value;
}

long strtol(const char *s, char **endptr, int base) {
    return static_cast<long>(strtoul(s, endptr, base));
}

int atoi(const char *s) {
    if (s == nullptr) return 0;
    while (is_ato_space(*s)) ++s;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    unsigned value = 0;
    for (; is_decimal_digit(*s); ++s) value = value * 10 + static_cast<unsigned>(*s - '0');
    return static_cast<int>(negative ? 0u - value : value);
}

long atol(const char *s) {
    return atoi(s);
}

}  // extern "C"
