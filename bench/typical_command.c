/* A command that reads a number, converts its argument and prints both with a heap block: what
 * the library adds to the text of a typical command. */
#include <kivos/meta.h>
#include <stdio.h>
#include <stdlib.h>

KIVOS_COMMAND_RECORD("typical_command", "Reads, converts and prints");
KIVOS_PACKAGE_RECORD("kivos_bench", "0");

int main(int argc, char **argv) {
    int n = 0;
    fscanf(stdin, "%d", &n);
    const double d = strtod(argc > 1 ? argv[1] : "1.5", 0);
    char *p = malloc(16);
    printf("%d %d %p\n", n, (int)d, p);
    return 0;
}
