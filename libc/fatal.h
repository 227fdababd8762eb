// How the library ends a program that cannot go on: one line on the console, then abort.
#ifndef KIVOS_LIBC_FATAL_H
#define KIVOS_LIBC_FATAL_H

#include <stddef.h>

// Writes the parts back to back and a newline to descriptor 1, then ends through abort.
[[noreturn]] void fatal_error(const char *const parts[], size_t count);

template <size_t Count>
[[noreturn]] void fatal_error(const char *const (&parts)[Count]) {
    fatal_error(parts, Count);
}

#endif
