#include "fatal.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// The console, not the stderr stream: the message must get out even when stderr
// was pointed at a memory stream or a spooled file that will never be closed.
constexpr int k_console = 1;

void fatal_error(const char *const parts[], size_t count) {
    for (size_t i = 0; i < count; ++i) write(k_console, parts[i], strlen(parts[i]));
    write(k_console, "\n", 1);
    abort();
}
