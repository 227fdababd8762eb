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

#endif
