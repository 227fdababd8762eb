// Making and finishing streams: descriptor streams to read files, spooled file
// streams written whole by fclose, and memory streams.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "stream.h"

namespace {

// A zeroed record of the given kind, or null.
FILE *new_stream(int kind) {
    FILE *stream = static_cast<FILE *>(calloc(1, sizeof(FILE)));
    if (stream != nullptr) stream->kind = kind;
    return stream;
}

// "-" and the null path name the standard streams; no record is made for them.
FILE *standard_stream(char mode) {
    if (mode == 'r') return stdin;
    if (mode == 'w') return stdout;
    return nullptr;
}

FILE *open_for_reading(const char *path) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) return nullptr;
    FILE *stream = new_stream(STREAM_FD);
    if (stream == nullptr) {
        close(fd);
        return nullptr;
    }
    stream->fd = fd;
    return stream;
}

// The file is not touched until fclose writes it.
FILE *open_spooled(const char *path) {
    FILE *stream = new_stream(STREAM_SPOOLED);
    if (stream == nullptr) return nullptr;
    stream->path = strdup(path);
    if (stream->path == nullptr) {
        free(stream);
        return nullptr;
    }
    return stream;
}

// What the kind leaves behind: the file's descriptor closed, or the file written.
int finish(const FILE *stream) {
    switch (stream->kind) {
        case STREAM_FD:
            // The console descriptors outlive every stream.
            return stream->fd >= KIVOS_FIRST_FILE_FD ? close(stream->fd) : 0;
        case STREAM_SPOOLED: {
            if (stream->path == nullptr) return -1;
            // Never written to: the file is made empty.
            const char *bytes = stream->buf != nullptr ? stream->buf : "";
            return writefile(stream->path, bytes, stream->len) < 0 ? -1 : 0;
        }
        default:
            return 0;
    }
}

}  // namespace

extern "C" {

// Only the first character of the mode counts.
FILE *fopen(const char *path, const char *mode) {
    if (mode == nullptr) return nullptr;
    if (path == nullptr || strcmp(path, "-") == 0) return standard_stream(mode[0]);
    if (mode[0] == 'r') return open_for_reading(path);
    if (mode[0] == 'w') return open_spooled(path);
    return nullptr;
}

FILE *open_memstream(char **bufp, size_t *sizep) {
    if (bufp == nullptr || sizep == nullptr) return nullptr;
    FILE *stream = new_stream(STREAM_MEMORY);
    if (stream == nullptr) return nullptr;
    stream->out_buf = bufp;
    stream->out_size = sizep;
    *bufp = nullptr;
    *sizep = 0;
    return stream;
}

int fclose(FILE *stream) {
    if (stream == nullptr) return -1;
    if (stream == stdin || stream == stdout || stream == stderr) return 0;
    const int result = finish(stream);
    // A memory stream's buffer belongs to the caller who asked for it.
    if (stream->kind != STREAM_MEMORY) free(stream->buf);
    free(stream->path);
    free(stream);
    return result;
}

}  // extern "C"
