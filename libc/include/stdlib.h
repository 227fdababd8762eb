/* Memory from the program's 1 MiB arena, process services and conversions. */
#ifndef KIVOS_STDLIB_H
#define KIVOS_STDLIB_H

#include <kivos/cdefs.h>
#include <stddef.h>

#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 32767

typedef struct {
    int quot;
    int rem;
} div_t;

typedef struct {
    long quot;
    long rem;
} ldiv_t;

KIVOS_BEGIN_DECLS

/* Bump allocation: nothing is ever reused, free does nothing. */
void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void *realloc(void *ptr, size_t size);
void free(void *ptr);

/* exit runs no handlers and closes no stream. */
KIVOS_NORETURN void exit(int status);
KIVOS_NORETURN void abort(void);
int atexit(void (*fn)(void));
char *getenv(const char *name);

void srand(unsigned int seed);
int rand(void);
int abs(int x);
long labs(long x);
/* The quotient rounds toward zero. A divisor of 0 gives a quotient of 0 and the
 * dividend as remainder; the most negative value divided by -1 is itself, rest 0. */
div_t div(int numerator, int denominator);
ldiv_t ldiv(long numerator, long denominator);

/* Heapsort: n log n comparisons at most, whatever the order of the input, and
 * no recursion. A null base or comparator, or a size of 0, sorts nothing. */
void qsort(void *base, size_t count, size_t size, int (*compare)(const void *, const void *));
/* A null base or comparator, or a count or size of 0, finds nothing. */
void *bsearch(const void *key, const void *base, size_t count, size_t size,
              int (*compare)(const void *, const void *));

/* No sign is read and results wrap modulo 2^32. */
unsigned long strtoul(const char *s, char **endptr, int base);
long strtol(const char *s, char **endptr, int base);
int atoi(const char *s);
long atol(const char *s);
long double strtold(const char *s, char **endptr);
double strtod(const char *s, char **endptr);

KIVOS_END_DECLS

#endif
