// The operating-system settings of the compiler's C++ library, for kivos. The
// compiler's own version of this header describes the host and reads the host
// C library's headers, which a kivos program must never see.
#ifndef _GLIBCXX_OS_DEFINES
#define _GLIBCXX_OS_DEFINES 1
#endif
