// 64-bit unsigned division with remainder, on the 32-bit divide instruction.
#include "divmod.h"

namespace {

// (high:low) / divisor for high < divisor, so the quotient fits in 32 bits: one divl.
uint32_t divide_pair(uint32_t high, uint32_t low, uint32_t divisor, uint32_t *remainder) {
    uint32_t quotient;
    asm("divl %4" : "=a"(quotient), "=d"(*remainder) : "a"(low), "d"(high), "rm"(divisor));
    return quotient;
}

// Schoolbook long division by a divisor that fits in 32 bits: two divl steps.
uint64_t divide_by_narrow(uint64_t dividend, uint32_t divisor, uint64_t *remainder) {
    const uint32_t high = static_cast<uint32_t>(dividend >> 32);
    const uint32_t low = static_cast<uint32_t>(dividend);
    uint32_t rest;
    const uint32_t quotient_high = divide_pair(0, high, divisor, &rest);
    const uint32_t quotient_low = divide_pair(rest, low, divisor, &rest);
    *remainder = rest;
    return static_cast<uint64_t>(quotient_high) << 32 | quotient_low;
}

// A divisor of 2^32 or more leaves at most 32 quotient bits: shift and subtract them out.
uint64_t divide_by_wide(uint64_t dividend, uint64_t divisor, uint64_t *remainder) {
    uint64_t rest = dividend >> 32;  // below the divisor, so no quotient bit above 31
    uint32_t quotient = 0;
    for (int bit = 31; bit >= 0; --bit) {
        const bool carry = rest >> 63 != 0;  // the shift below loses this bit
        rest = rest << 1 | (dividend >> bit & 1);
        quotient <<= 1;
        if (carry || rest >= divisor) {
            rest -= divisor;
            quotient |= 1;
        }
    }
    *remainder = rest;
    return quotient;
}

}  // namespace

extern "C" uint64_t udivmod64(uint64_t dividend, uint64_t divisor, uint64_t *remainder) {
    if (divisor >> 32 == 0) {
        return divide_by_narrow(dividend, static_cast<uint32_t>(divisor), remainder);
    }
    return divide_by_wide(dividend, divisor, remainder);
}
