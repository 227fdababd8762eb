// Where the compiler's C++ library reports an error it would throw. Programs
// are built without exceptions, so each ends the program with the error's
// name and text.
#include <stdarg.h>
#include <stdio.h>

#include "fatal.h"

namespace std {

[[noreturn]] void __throw_bad_alloc() {
    fatal_error({"std::bad_alloc: out of memory"});
}

[[noreturn]] void __throw_bad_array_new_length() {
    fatal_error({"std::bad_array_new_length: array too long"});
}

[[noreturn]] void __throw_bad_function_call() {
    fatal_error({"std::bad_function_call: the function is empty"});
}

[[noreturn]] void __throw_logic_error(const char *what) {
    fatal_error({"std::logic_error: ", what});
}

[[noreturn]] void __throw_domain_error(const char *what) {
    fatal_error({"std::domain_error: ", what});
}

[[noreturn]] void __throw_invalid_argument(const char *what) {
    fatal_error({"std::invalid_argument: ", what});
}

[[noreturn]] void __throw_length_error(const char *what) {
    fatal_error({"std::length_error: ", what});
}

[[noreturn]] void __throw_out_of_range(const char *what) {
    fatal_error({"std::out_of_range: ", what});
}

// The library's texts use only %s, %zu and %%, which vsnprintf renders.
[[noreturn]] void __throw_out_of_range_fmt(const char *format, ...) {
    char what[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(what, sizeof what, format, ap);
    va_end(ap);
    fatal_error({"std::out_of_range: ", what});
}

[[noreturn]] void __throw_runtime_error(const char *what) {
    fatal_error({"std::runtime_error: ", what});
}

[[noreturn]] void __throw_range_error(const char *what) {
    fatal_error({"std::range_error: ", what});
}

[[noreturn]] void __throw_overflow_error(const char *what) {
    fatal_error({"std::overflow_error: ", what});
}

[[noreturn]] void __throw_underflow_error(const char *what) {
    fatal_error({"std::underflow_error: ", what});
}

}  // namespace std
