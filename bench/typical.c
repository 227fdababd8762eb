/* A small command of the usual kind, whose code the benchmarks weigh: it reads
 * a count, keeps that many numbers on the heap and prints the last. */
#include <kivos/meta.h>
#include <stdio.h>
#include <stdlib.h>

KIVOS_COMMAND_RECORD("typical", "Reads a count and prints numbers");
KIVOS_PACKAGE_RECORD("kivos_bench", "0");

int main(int argc, char **argv) {
    int count = 0;
    if (fscanf(stdin, "%d", &count) != 1 || count <= 0) return 1;
    double *values = malloc((size_t)count * sizeof *values);
    if (values == NULL) return 1;
    const double step = strtod(argc > 1 ? argv[1] : "1.5", NULL);
    for (int i = 0; i < count; ++i) values[i] = step * i;
    printf("%d numbers, the last %d\n", count, (int)values[count - 1]);
    return 0;
}
