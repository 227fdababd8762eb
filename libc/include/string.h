/* Strings and memory.
 *
 * The string routines answer a null pointer with a fixed result instead of
 * faulting; the length and comparison routines treat every pointer below
 * 4096 as no string and never read it. The memory routines test only their
 * count. Comparisons give byte differences (-255 to 255), not only signs.
 */
#ifndef KIVOS_STRING_H
#define KIVOS_STRING_H

#include <kivos/cdefs.h>
#include <stddef.h>

KIVOS_BEGIN_DECLS

size_t strlen(const char *s);
size_t strnlen(const char *s, size_t maxlen);
int strcmp(const char *a, const char *b);
int strncmp(const char *a, const char *b, size_t n);
char *strcpy(char *dst, const char *src);
char *strncpy(char *dst, const char *src, size_t n);
char *strcat(char *dst, const char *src);
char *strncat(char *dst, const char *src, size_t n);
char *strchr(const char *s, int c);
char *strrchr(const char *s, int c);
char *strstr(const char *hay, const char *needle);

/* A pointer below 4096 finds nothing; a null or empty set has no members. */
void *memchr(const void *s, int c, size_t n);
size_t strspn(const char *s, const char *accept);
size_t strcspn(const char *s, const char *reject);
char *strpbrk(const char *s, const char *accept);

void *memcpy(void *dst, const void *src, size_t n);
void *memmove(void *dst, const void *src, size_t n);
void *memset(void *dst, int c, size_t n);
int memcmp(const void *a, const void *b, size_t n);

char *strdup(const char *s);
char *strndup(const char *s, size_t n);
int strcasecmp(const char *a, const char *b);
int strncasecmp(const char *a, const char *b, size_t n);
char *strtok(char *s, const char *delim);

char *strerror(int code);

KIVOS_END_DECLS

#endif
