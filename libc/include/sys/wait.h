/* Reading what waitpid stores; waitpid itself is declared in <unistd.h>.
 *
 * A child that called _exit stores its status in bits 8 to 15 and 0 below;
 * one the system ended because it faulted stores 11 and nothing above.
 */
#ifndef KIVOS_SYS_WAIT_H
#define KIVOS_SYS_WAIT_H

#include <unistd.h>

/* waitpid answers 0 at once instead of waiting while the child runs. */
#define WNOHANG 1

#define WIFEXITED(status) (((status) & 0xff) == 0)
#define WEXITSTATUS(status) (((status) >> 8) & 0xff)
#define WIFSIGNALED(status) (((status) & 0xff) != 0)
#define WTERMSIG(status) ((status) & 0x7f)

#endif
