#include "fatal.h"

#include <kivos/abi.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// The console, not the stderr stream: the message must get out even when stderr
// was pointed at a memory stream or a spooled file that will never be closed.
void fatal_error(const char *const parts[], size_t count) {
    for (size_t i = 0; i < count; ++i) write(KIVOS_CONSOLE_OUT_FD, parts[i], strlen(parts[i]));
    write(KIVOS_CONSOLE_OUT_FD, "\n", 1);
    abort();
}
