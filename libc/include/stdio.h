/* Streams: descriptor streams (unbuffered), memory streams and spooled file
 * streams (written whole when closed), and formatted output and input.
 */
#ifndef KIVOS_STDIO_H
#define KIVOS_STDIO_H

#include <kivos/abi.h>
#include <kivos/cdefs.h>
#include <stdarg.h>
#include <stddef.h>

#define EOF (-1)
#ifndef SEEK_SET
#define SEEK_SET KIVOS_SEEK_SET
#define SEEK_CUR KIVOS_SEEK_CUR
#define SEEK_END KIVOS_SEEK_END
#endif

typedef struct kivos_stream FILE;

KIVOS_BEGIN_DECLS

extern FILE *stdin;
extern FILE *stdout;
extern FILE *stderr;

int fputc(int c, FILE *stream);
int putchar(int c);
int fputs(const char *s, FILE *stream);
int puts(const char *s);
size_t fwrite(const void *ptr, size_t size, size_t count, FILE *stream);

FILE *fopen(const char *path, const char *mode);
FILE *open_memstream(char **bufp, size_t *sizep);
int fclose(FILE *stream);

size_t fread(void *ptr, size_t size, size_t count, FILE *stream);
int fgetc(FILE *stream);
int getchar(void);
int fseek(FILE *stream, long offset, int whence);
long ftell(FILE *stream);
void rewind(FILE *stream);
int feof(FILE *stream);
int ferror(FILE *stream);
int fflush(FILE *stream);
void setbuf(FILE *stream, char *buffer);

int vsnprintf(char *s, size_t size, const char *format, va_list ap) KIVOS_FORMAT(printf, 3, 0);
int snprintf(char *s, size_t size, const char *format, ...) KIVOS_FORMAT(printf, 3, 4);
int vsprintf(char *s, const char *format, va_list ap) KIVOS_FORMAT(printf, 2, 0);
int sprintf(char *s, const char *format, ...) KIVOS_FORMAT(printf, 2, 3);
int vfprintf(FILE *stream, const char *format, va_list ap) KIVOS_FORMAT(printf, 2, 0);
int fprintf(FILE *stream, const char *format, ...) KIVOS_FORMAT(printf, 2, 3);
int printf(const char *format, ...) KIVOS_FORMAT(printf, 1, 2);

int vsscanf(const char *str, const char *format, va_list ap) KIVOS_FORMAT(scanf, 2, 0);
int sscanf(const char *str, const char *format, ...) KIVOS_FORMAT(scanf, 2, 3);
int fscanf(FILE *stream, const char *format, ...) KIVOS_FORMAT(scanf, 2, 3);

KIVOS_END_DECLS

#endif
