/* The two records that let the kivos shell and package tooling describe a
 * command without running it.
 *
 * Each record is an eight-byte header (four magic letters, a 32-bit format
 * version of 1) followed by its two strings back to back, each with its NUL,
 * and zero fill to a multiple of four bytes. The command record holds the
 * description, then the command's name; the package record the package's
 * name, then its tag. A command declares each record once:
 *
 *     KIVOS_COMMAND_RECORD("hello", "Say hello");
 *     KIVOS_PACKAGE_RECORD("hello", "1");
 *
 * The link layout keeps both sections although nothing refers to them.
 */
#ifndef KIVOS_META_H
#define KIVOS_META_H

#include <kivos/abi.h>

#ifdef __cplusplus

/* The builder runs at compile time in any case; C++20 also lets the compiler prove it. */
#ifdef __cpp_constinit
#define KIVOS_META_CONSTINIT_ constinit
#else
#define KIVOS_META_CONSTINIT_
#endif

namespace kivos_meta {

template <unsigned Size>
struct record {
    unsigned char bytes[Size];
};

constexpr unsigned text_size(const char *text) {
    unsigned n = 0;
    while (text[n] != '\0') ++n;
    return n + 1;
}

constexpr unsigned record_size(const char *first, const char *second) {
    const unsigned used = KIVOS_RECORD_HEADER_SIZE + text_size(first) + text_size(second);
    return (used + KIVOS_RECORD_FILL - 1u) & ~(KIVOS_RECORD_FILL - 1u);
}

template <unsigned Size>
constexpr record<Size> build(const char *magic, const char *first, const char *second) {
    record<Size> r{};
    unsigned at = 0;
    for (unsigned i = 0; i < KIVOS_RECORD_MAGIC_SIZE; ++i)
        r.bytes[at++] = static_cast<unsigned char>(magic[i]);
    for (unsigned shift = 0; shift < 32; shift += 8)
        r.bytes[at++] = static_cast<unsigned char>(KIVOS_RECORD_VERSION >> shift);
    const char *const texts[2] = {first, second};
    for (const char *text : texts) {
        const unsigned n = text_size(text);
        for (unsigned k = 0; k < n; ++k) r.bytes[at++] = static_cast<unsigned char>(text[k]);
    }
    return r;
}

}  // namespace kivos_meta

#define KIVOS_META_RECORD_(symbol, section_name, alignment, magic, first, second)          \
    extern "C" __attribute__((section(section_name), used, aligned(alignment)))            \
    KIVOS_META_CONSTINIT_ const kivos_meta::record<kivos_meta::record_size(first, second)> \
        symbol = kivos_meta::build<kivos_meta::record_size(first, second)>(magic, first, second)

#else /* C: the compiler lays the strings out and pads the record to four bytes. */

#define KIVOS_META_RECORD_(symbol, section_name, alignment, magic, first, second)   \
    __attribute__((section(section_name), used, aligned(alignment))) const struct { \
        char magic_[KIVOS_RECORD_MAGIC_SIZE];                                       \
        unsigned int version_;                                                      \
        char first_[sizeof(first)];                                                 \
        char second_[sizeof(second)];                                               \
    } symbol = {magic, KIVOS_RECORD_VERSION, first, second}

#endif

/* The command record: `name` runs the command, `description` says what it does. */
#define KIVOS_COMMAND_RECORD(name, description)                                     \
    KIVOS_META_RECORD_(g_cmdmeta_0, KIVOS_COMMAND_SECTION, KIVOS_COMMAND_ALIGNMENT, \
                       KIVOS_COMMAND_MAGIC, description, name)

/* The package record: the package's name and its tag. */
#define KIVOS_PACKAGE_RECORD(package, tag)                                          \
    KIVOS_META_RECORD_(g_pkgmeta_0, KIVOS_PACKAGE_SECTION, KIVOS_PACKAGE_ALIGNMENT, \
                       KIVOS_PACKAGE_MAGIC, package, tag)

#endif
