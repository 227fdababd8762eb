/* Memory from the program's 1 MiB arena, process services and conversions. */
#ifndef KIVOS_STDLIB_H
#define KIVOS_STDLIB_H

#include <kivos/cdefs.h>
#include <stddef.h>

#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 32767

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

/* No sign is read and results wrap modulo 2^32. */
unsigned long strtoul(const char *s, char **endptr, int base);
long strtol(const char *s, char **endptr, int base);
int atoi(const char *s);
long atol(const char *s);
long double strtold(const char *s, char **endptr);
double strtod(const char *s, char **endptr);

KIVOS_END_DECLS

#endif
