/* System calls of the kivos kernel, one thin wrapper each.
 *
 * A wrapper checks its pointer and count arguments (-1 without a trap when
 * one is bad), clamps byte counts to 0x7fffffff, traps with int 0x80 and
 * hands back the kernel's eax unchanged: a negative result is a negated
 * error number. None of them touches errno.
 */
#ifndef KIVOS_UNISTD_H
#define KIVOS_UNISTD_H

#include <kivos/abi.h>
#include <kivos/cdefs.h>
#include <stddef.h>

typedef int ssize_t;
typedef long off_t;
typedef int pid_t;

#define SEEK_SET KIVOS_SEEK_SET
#define SEEK_CUR KIVOS_SEEK_CUR
#define SEEK_END KIVOS_SEEK_END

#define STDIN_FILENO KIVOS_CONSOLE_IN_FD
#define STDOUT_FILENO KIVOS_CONSOLE_OUT_FD
#define STDERR_FILENO KIVOS_CONSOLE_ERR_FD

#define F_OK 0
#define R_OK 4
#define W_OK 2
#define X_OK 1

#define PROT_NONE KIVOS_PROT_NONE
#define PROT_READ KIVOS_PROT_READ
#define PROT_WRITE KIVOS_PROT_WRITE
#define PROT_EXEC KIVOS_PROT_EXEC
/* mmap gives private memory only: anonymous, or a read-only copy of a file. */
#define MAP_PRIVATE KIVOS_MAP_PRIVATE
#define MAP_ANONYMOUS KIVOS_MAP_ANONYMOUS
#define MAP_ANON MAP_ANONYMOUS
#define MAP_FAILED ((void *)-1)

KIVOS_BEGIN_DECLS

ssize_t write(int fd, const void *buf, size_t count);
ssize_t read(int fd, void *buf, size_t count);
int close(int fd);
KIVOS_NORETURN void _exit(int status);
off_t lseek(int fd, off_t offset, int whence);
int access(const char *path, int mode);

/* The next key from the console, as the kernel reports it. */
int getkey(void);
/* Writes the whole file `path` in one call. */
int writefile(const char *path, const void *buf, size_t count);

int usleep(unsigned int usec);
/* Always 0; a long sleep is made of several traps, so none of it is lost. */
unsigned int sleep(unsigned int seconds);

/* A mode, when given, is accepted and not passed on. */
int mkdir(const char *path, ...);
int mkfifo(const char *path, ...);
int unlink(const char *path);
int rmdir(const char *path);
int chdir(const char *path);
/* The kernel's answer, as a pointer: a value from -KIVOS_LAST_ERROR to -1 is a failure. */
char *getcwd(char *buf, size_t size);

void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset);
int munmap(void *addr, size_t length);

int pipe(int fds[2]);
int dup(int fd);
int dup2(int oldfd, int newfd);
int fd_set_inherit(int enable);
int fd_set_stdio(int a, int b, int c);
int fd_set_nonblock(int fd, int enable);

int spawn(const char *path, char *const argv[], int argc);
int spawn_ex(const char *path, char *const argv[], int argc, int a, int b, int c, int flag);
pid_t waitpid(pid_t pid, int *status, int options);

/* Streamed writing of one named file: begin, write pieces, end. */
int kivfs_stream_begin(const char *path);
int kivfs_stream_write(int handle, const void *buf, size_t count);
int kivfs_stream_end(int handle);

KIVOS_END_DECLS

#endif
