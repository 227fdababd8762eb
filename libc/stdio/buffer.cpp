// The growing heap buffer of memory and spooled file streams: 256 bytes at
// first, doubled as often as a write needs.
#include <stdlib.h>
#include <string.h>

#include "stream.h"

namespace {

constexpr unsigned k_first_capacity = 256;

// The first capacity of the doubling series from `cap` (256 when none) that
// holds `needed` bytes; false when the series would pass 2^32 - 1 first.
bool grown_capacity(unsigned cap, unsigned needed, unsigned *capacity) {
    unsigned c = cap == 0 ? k_first_capacity : cap;
    while (c < needed) {
        if (__builtin_mul_overflow(c, 2u, &c)) return false;
    }
    *capacity = c;
    return true;
}

// Room for `needed` bytes; on failure nothing of the stream has changed.
bool reserve(FILE *stream, unsigned needed) {
    if (needed <= stream->cap) return true;
    unsigned capacity;
    if (!grown_capacity(stream->cap, needed, &capacity)) return false;
    // The arena never reuses a block, so the old buffer stays readable as it was.
    char *grown = static_cast<char *>(realloc(stream->buf, capacity));
    if (grown == nullptr) return false;
    stream->buf = grown;
    stream->cap = capacity;
    return true;
}

}  // namespace

extern "C" {

int stream_buffer_append(FILE *stream, const void *bytes, size_t count) {
    unsigned needed;  // the bytes held, the new ones and the NUL
    if (__builtin_add_overflow(stream->len, count, &needed) ||
        __builtin_add_overflow(needed, 1u, &needed))
        return -1;
    if (!reserve(stream, needed)) return -1;
    memcpy(stream->buf + stream->len, bytes, count);
    stream->len += count;
    stream->buf[stream->len] = '\0';
    if (stream->kind == STREAM_MEMORY && stream->out_buf != nullptr &&
        stream->out_size != nullptr) {
        *stream->out_buf = stream->buf;
        *stream->out_size = stream->len;
    }
    return 0;
}

}  // extern "C"
