// The stream record behind every FILE, private to the stream layer.
#ifndef KIVOS_LIBC_STDIO_STREAM_H
#define KIVOS_LIBC_STDIO_STREAM_H

#include <stddef.h>
#include <stdio.h>

enum stream_kind {
    STREAM_FD = 1,       // unbuffered, straight to a descriptor
    STREAM_MEMORY = 2,   // a heap buffer the caller reads through out_buf, out_size
    STREAM_SPOOLED = 3,  // a heap buffer written to `path` whole when closed
};

struct kivos_stream {
    int kind;
    int fd;
    char *path;
    char *buf;  // once allocated: len bytes, then a NUL
    unsigned len;
    unsigned cap;
    char **out_buf;
    size_t *out_size;
    int error_flag;
    long position;  // kept by the library: advanced by reads, set by seeks
    int eof_flag;
};

static_assert(sizeof(FILE) == 44);
static_assert(offsetof(FILE, kind) == 0);
static_assert(offsetof(FILE, fd) == 4);
static_assert(offsetof(FILE, path) == 8);
static_assert(offsetof(FILE, buf) == 12);
static_assert(offsetof(FILE, len) == 16);
static_assert(offsetof(FILE, cap) == 20);
static_assert(offsetof(FILE, out_buf) == 24);
static_assert(offsetof(FILE, out_size) == 28);
static_assert(offsetof(FILE, error_flag) == 32);
static_assert(offsetof(FILE, position) == 36);
static_assert(offsetof(FILE, eof_flag) == 40);

extern "C" {

// The one path by which output reaches any stream: 0 when all `count` bytes
// were taken, -1 otherwise.
int file_write_bytes(FILE *stream, const void *bytes, size_t count);

// Appends `count` (> 0) bytes to the heap buffer of a memory or spooled file
// stream: 0, or -1 with the stream and the caller's variables as they were.
int stream_buffer_append(FILE *stream, const void *bytes, size_t count);

// The byte input of descriptor streams, one `read` of one byte: the kernel's
// answer. A positive answer advances `position` by itself, any other sets eof_flag.
int stream_read_byte(FILE *stream, unsigned char *byte);

}  // extern "C"

#endif
