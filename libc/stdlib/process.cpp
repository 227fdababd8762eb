// Ending the process, the registration and environment stubs, absolute values.
#include <stdlib.h>
#include <unistd.h>

namespace {

// Negation in two's complement; the most negative value is its own absolute value.
template <typename Signed, typename Unsigned>
Signed absolute(Signed x) {
    const auto negated = static_cast<Signed>(Unsigned{0} - static_cast<Unsigned>(x));
    return negated < 0 ? x : negated;
}

}  // namespace

extern "C" {

// Nothing is flushed or closed: descriptor streams hold no buffer, and a spooled
// file that was never closed is never written.
void exit(int status) {
    _exit(status);
}

void abort(void) {
    _exit(EXIT_FAILURE);
}

// No handler is ever run, so none is kept.
int atexit(void (*)(void)) {
    return 0;
}

// A kivos process has no environment.
char *getenv(const char *) {
    return nullptr;
}

int abs(int x) {
    return absolute<int, unsigned int>(x);
}

long labs(long x) {
    return absolute<long, unsigned long>(x);
}

}  // extern "C"
