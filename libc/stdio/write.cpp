// The standard streams, the stream writer and the unformatted output calls.
#include <string.h>

#include "stream.h"
#include "syscall.h"

namespace {

// A descriptor stream on a console descriptor, every other field zero.
constexpr FILE console_stream(int fd) {
    FILE stream{};
    stream.kind = STREAM_FD;
    stream.fd = fd;
    return stream;
}

constinit FILE g_stdin = console_stream(KIVOS_CONSOLE_IN_FD);
constinit FILE g_stdout = console_stream(KIVOS_CONSOLE_OUT_FD);
// Error output shares the console descriptor, so it interleaves in call order.
constinit FILE g_stderr = console_stream(KIVOS_CONSOLE_OUT_FD);

constexpr size_t k_max_write = 0x7fffffff;

int write_to_console(const char *bytes, size_t count) {
    size_t written = 0;
    do {
        const size_t left = count - written;
        const int n = kivos::write_call(KIVOS_CONSOLE_OUT_FD, bytes + written,
                                        left < k_max_write ? left : k_max_write);
        if (n <= 0) return -1;
        written += static_cast<size_t>(n);
    } while (written < count);
    return 0;
}

// The writer once stream and bytes are known to be there. Inline, so that puts, which checks
// those itself, sends the report's lines without a call per piece.
inline int write_checked(FILE *stream, const void *bytes, size_t count) {
    if (count == 0) return 0;
    if (stream->kind != STREAM_FD) return stream_buffer_append(stream, bytes, count);
    // Only the console descriptor is open for output.
    if (stream->fd != KIVOS_CONSOLE_OUT_FD) return -1;
    return write_to_console(static_cast<const char *>(bytes), count);
}

}  // namespace

extern "C" {

constinit FILE *stdin = &g_stdin;
constinit FILE *stdout = &g_stdout;
constinit FILE *stderr = &g_stderr;

int file_write_bytes(FILE *stream, const void *bytes, size_t count) {
    if (stream == nullptr || bytes == nullptr) return -1;
    return write_checked(stream, bytes, count);
}

int fputc(int c, FILE *stream) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (file_write_bytes(stream, &byte, 1) != 0) return -1;
    return byte;
}

int putchar(int c) {
    return fputc(c, stdout);
}

int fputs(const char *s, FILE *stream) {
    if (s == nullptr) return -1;
    const size_t length = strlen(s);
    if (file_write_bytes(stream, s, length) != 0) return -1;
    return static_cast<int>(length);
}

// stdout is read anew for the newline, as for every write.
int puts(const char *s) {
    if (s == nullptr || stdout == nullptr) return -1;
    if (write_checked(stdout, s, strlen(s)) != 0) return -1;
    if (stdout == nullptr) return -1;
    return write_checked(stdout, "\n", 1) == 0 ? 0 : -1;
}

size_t fwrite(const void *ptr, size_t size, size_t count, FILE *stream) {
    if (ptr == nullptr || stream == nullptr || size == 0 || count == 0) return 0;
    size_t total;
    if (__builtin_mul_overflow(size, count, &total)) return 0;
    return file_write_bytes(stream, ptr, total) == 0 ? count : 0;
}

}  // extern "C"
