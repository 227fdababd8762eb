// Reading, positioning and status. Only descriptor streams read, one `read`
// per call with nothing held back, so the kernel's offset is where the caller
// has read to; position and eof_flag are the library's own count.
#include <unistd.h>

#include "stream.h"

namespace {

bool readable(const FILE *stream) {
    return stream != nullptr && stream->kind == STREAM_FD;
}

// The console descriptors cannot seek, nor can a stream that happens to hold one.
bool seekable(const FILE *stream) {
    return readable(stream) && stream->fd >= KIVOS_FIRST_FILE_FD;
}

}  // namespace

extern "C" {

size_t fread(void *ptr, size_t size, size_t count, FILE *stream) {
    if (ptr == nullptr || size == 0 || count == 0 || !readable(stream)) return 0;
    size_t total;
    if (__builtin_mul_overflow(size, count, &total)) return 0;
    const ssize_t n = read(stream->fd, ptr, total);
    if (n <= 0) {
        stream->eof_flag = 1;
        return 0;
    }
    stream->position += n;
    const size_t got = static_cast<size_t>(n);
    // A short read counts as the end, even from a source that may yet deliver more.
    if (got < total) stream->eof_flag = 1;
    return got / size;
}

int stream_read_byte(FILE *stream, unsigned char *byte) {
    const ssize_t n = read(stream->fd, byte, 1);
    if (n <= 0)
        stream->eof_flag = 1;
    else
        stream->position += n;
    return n;
}

int fgetc(FILE *stream) {
    if (!readable(stream)) return -1;
    unsigned char byte;
    if (stream_read_byte(stream, &byte) <= 0) return -1;
    return byte;
}

int getchar(void) {
    return fgetc(stdin);
}

int fseek(FILE *stream, long offset, int whence) {
    if (!seekable(stream)) return -1;
    const off_t at = lseek(stream->fd, offset, whence);
    if (at < 0) return -1;
    stream->position = at;
    stream->eof_flag = 0;
    return 0;
}

long ftell(FILE *stream) {
    return seekable(stream) ? stream->position : -1;
}

void rewind(FILE *stream) {
    if (stream == nullptr) return;
    if (seekable(stream)) {
        const off_t at = lseek(stream->fd, 0, SEEK_SET);
        if (at >= 0) stream->position = at;
    }
    stream->error_flag = 0;
    stream->eof_flag = 0;
}

int feof(FILE *stream) {
    return stream == nullptr ? 1 : stream->eof_flag;
}

int ferror(FILE *stream) {
    return stream == nullptr ? 1 : stream->error_flag;
}

// Descriptor streams hold nothing back and a memory stream's caller variables
// are current after every write: there is never anything to flush.
int fflush(FILE *) {
    return 0;
}

void setbuf(FILE *, char *) {}

}  // extern "C"
