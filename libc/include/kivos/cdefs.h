/* Declarations shared by the kivos headers. */
#ifndef KIVOS_CDEFS_H
#define KIVOS_CDEFS_H

#ifdef __cplusplus
#define KIVOS_BEGIN_DECLS extern "C" {
#define KIVOS_END_DECLS }
#define KIVOS_NOEXCEPT noexcept
#else
#define KIVOS_BEGIN_DECLS
#define KIVOS_END_DECLS
#define KIVOS_NOEXCEPT
#endif

#define KIVOS_NORETURN __attribute__((noreturn))

/* The compiler checks the arguments of printf- and scanf-like calls against their format. */
#define KIVOS_FORMAT(archetype, format_index, first_argument) \
    __attribute__((format(archetype, format_index, first_argument)))

#endif
