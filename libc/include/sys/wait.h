/* Reading what waitpid stores (see kivos/abi.h); waitpid itself is declared
 * in <unistd.h>. WTERMSIG of a child that faulted is KIVOS_WAIT_FAULTED.
 */
#ifndef KIVOS_SYS_WAIT_H
#define KIVOS_SYS_WAIT_H

#include <unistd.h>

/* waitpid answers 0 at once instead of waiting while the child runs. */
#define WNOHANG KIVOS_WAIT_NOHANG

#define WIFEXITED(status) ((0xff & (status)) == 0)
#define WEXITSTATUS(status) (((status) >> 8) & 0xff)
#define WIFSIGNALED(status) ((0xff & (status)) != 0)
#define WTERMSIG(status) (0x7f & (status))

#endif
