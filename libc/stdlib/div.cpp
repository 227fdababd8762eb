// Quotient and remainder together.
#include <stdlib.h>

namespace {

// Never traps: the two divisions the processor refuses get fixed answers.
template <typename Result, typename Signed, typename Unsigned>
Result divide(Signed numerator, Signed denominator) {
    if (denominator == 0) return {0, numerator};
    // The most negative value over -1 wraps around to itself.
    if (denominator == -1)
        return {static_cast<Signed>(Unsigned{0} - static_cast<Unsigned>(numerator)), 0};
    return {numerator / denominator, numerator % denominator};
}

}  // namespace

extern "C" {

div_t div(int numerator, int denominator) {
    return divide<div_t, int, unsigned int>(numerator, denominator);
}

ldiv_t ldiv(long numerator, long denominator) {
    return divide<ldiv_t, long, unsigned long>(numerator, denominator);
}

}  // extern "C"
