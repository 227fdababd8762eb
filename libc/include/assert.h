/* assert: a failed assertion prints "file:line: function: Assertion 'expr'
 * failed." on the console and ends the program through abort. With NDEBUG
 * defined, assert evaluates nothing. Like every assert.h, this one may be
 * included again after NDEBUG changes. */
#include <kivos/cdefs.h>

#undef assert
#ifdef NDEBUG
#define assert(expr) ((void)0)
#else
#define assert(expr) ((expr) ? (void)0 : __assert_fail(#expr, __FILE__, __LINE__, __func__))
#endif

#if !defined(__cplusplus) && !defined(static_assert)
#define static_assert _Static_assert
#endif

#ifndef KIVOS_ASSERT_H
#define KIVOS_ASSERT_H

KIVOS_BEGIN_DECLS

KIVOS_NORETURN void __assert_fail(const char *expr, const char *file, unsigned int line,
                                  const char *function);

KIVOS_END_DECLS

#endif
