/* A command to debug, crash and measure: each argument takes another path. */
#include <kivos/meta.h>
#include <string.h>
#include <unistd.h>

KIVOS_COMMAND_RECORD("debuggee", "Debugging and coverage tests");
KIVOS_PACKAGE_RECORD("kivos_tests", "0");

int total;
volatile int spinning = 1;

int add(int value) {
    int doubled = value * 2;
    total += doubled;
    return total;
}

int dereference(int *pointer) {
    return *pointer;
}

int through(int *pointer) {
    return dereference(pointer) + 1;
}

int recurse(int depth) {
    volatile char frame[256];
    frame[depth & 255] = (char)depth;
    return spinning ? recurse(depth + 1) + frame[3] : 0;
}

int divide(int dividend, int divisor) {
    return dividend / divisor;
}

long double scale(long double value) {
    return value * 2.5L;
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "";
    add(20);
    add(1);
    if (strcmp(path, "null") == 0) return through(0);
    if (strcmp(path, "deep") == 0) return recurse(0);
    if (strcmp(path, "divide") == 0) return divide(argc, argc - 2);
    if (strcmp(path, "float") == 0) return (int)scale(1.5L);
    if (strcmp(path, "spin") == 0) write(1, "spinning\n", 9);
    while (strcmp(path, "spin") == 0 && spinning) {
    }
    return total;
}
