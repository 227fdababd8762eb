// System-call wrappers: check, clamp, trap, pass the kernel's answer on.
#include <unistd.h>

#include "syscall.h"

using kivos::clamp_count;
using kivos::trap;

extern "C" {

ssize_t write(int fd, const void *buf, size_t count) {
    return kivos::write_call(fd, buf, count);
}

ssize_t read(int fd, void *buf, size_t count) {
    if (buf == nullptr) return -1;
    return trap(KIVOS_SYS_read, fd, buf, clamp_count(count));
}

int close(int fd) {
    return trap(KIVOS_SYS_close, fd);
}

void _exit(int status) {
    trap(KIVOS_SYS__exit, status);
    for (;;) asm volatile("hlt");
}

int getkey(void) {
    return trap(KIVOS_SYS_getkey);
}

int writefile(const char *path, const void *buf, size_t count) {
    if (path == nullptr || buf == nullptr) return -1;
    return trap(KIVOS_SYS_writefile, path, buf, clamp_count(count));
}

int usleep(unsigned int usec) {
    trap(KIVOS_SYS_usleep, usec);
    return 0;
}

unsigned int sleep(unsigned int seconds) {
    // The kernel takes microseconds in 32 bits: sleep in pieces that fit.
    constexpr unsigned int k_usec_per_sec = 1000000;
    constexpr unsigned int k_max_seconds = 0xFFFFFFFFu / k_usec_per_sec;
    while (seconds > k_max_seconds) {
        trap(KIVOS_SYS_usleep, k_max_seconds * k_usec_per_sec);
        seconds -= k_max_seconds;
    }
    trap(KIVOS_SYS_usleep, seconds * k_usec_per_sec);
    return 0;
}

int mkdir(const char *path, ...) {
    if (path == nullptr) return -1;
    return trap(KIVOS_SYS_mkdir, path);
}

int mkfifo(const char *path, ...) {
    if (path == nullptr) return -1;
    return trap(KIVOS_SYS_mkfifo, path);
}

int unlink(const char *path) {
    if (path == nullptr) return -1;
    return trap(KIVOS_SYS_unlink, path);
}

int rmdir(const char *path) {
    if (path == nullptr) return -1;
    return trap(KIVOS_SYS_rmdir, path);
}

int chdir(const char *path) {
    if (path == nullptr) return -1;
    return trap(KIVOS_SYS_chdir, path);
}

char *getcwd(char *buf, size_t size) {
    if (buf == nullptr || size == 0) return reinterpret_cast<char *>(-1);
    return reinterpret_cast<char *>(trap(KIVOS_SYS_getcwd, buf, clamp_count(size), 0));
}

void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    if (length == 0) return MAP_FAILED;
    // The sixth argument goes in ebp, which cannot be named as an operand:
    // eax carries the address of the offset until ebp is loaded.
    kivos::word offset_word = kivos::as_word(offset);
    int result;
    asm volatile(
        "pushl %%ebp\n\t"
        "movl (%%eax), %%ebp\n\t"
        "movl %[number], %%eax\n\t"
        "int $0x80\n\t"
        "popl %%ebp"
        : "=a"(result)
        : "a"(&offset_word), "b"(addr), "c"(length), "d"(prot), "S"(flags),
          "D"(fd), [number] "i"(KIVOS_SYS_mmap)
        : "memory");
    return reinterpret_cast<void *>(result);
}

int munmap(void *addr, size_t length) {
    return trap(KIVOS_SYS_munmap, addr, length, 0);
}

off_t lseek(int fd, off_t offset, int whence) {
    return trap(KIVOS_SYS_lseek, fd, offset, whence);
}

int pipe(int fds[2]) {
    if (fds == nullptr) return -1;
    return trap(KIVOS_SYS_pipe, fds);
}

int dup(int fd) {
    return trap(KIVOS_SYS_dup, fd);
}

int dup2(int oldfd, int newfd) {
    return trap(KIVOS_SYS_dup2, oldfd, newfd, 0);
}

int fd_set_inherit(int enable) {
    return trap(KIVOS_SYS_fd_set_inherit, enable != 0 ? 1 : 0);
}

int fd_set_stdio(int a, int b, int c) {
    return trap(KIVOS_SYS_fd_set_stdio, a, b, c);
}

int fd_set_nonblock(int fd, int enable) {
    return trap(KIVOS_SYS_fd_set_nonblock, fd, enable != 0 ? 1 : 0, 0);
}

int spawn(const char *path, char *const argv[], int argc) {
    if (path == nullptr || argc < 0) return -1;
    return trap(KIVOS_SYS_spawn, path, argv, argc);
}

int spawn_ex(const char *path, char *const argv[], int argc, int a, int b, int c, int flag) {
    if (path == nullptr || argc < 0) return -1;
    // The kernel reads the block during the call only, so it lives on our stack.
    kivos::word block[KIVOS_SPAWN_WORDS];
    block[KIVOS_SPAWN_PATH] = kivos::as_word(path);
    block[KIVOS_SPAWN_ARGV] = kivos::as_word(argv);
    block[KIVOS_SPAWN_ARGC] = kivos::as_word(argc);
    block[KIVOS_SPAWN_STDIN] = kivos::as_word(a);
    block[KIVOS_SPAWN_STDOUT] = kivos::as_word(b);
    block[KIVOS_SPAWN_STDERR] = kivos::as_word(c);
    block[KIVOS_SPAWN_INHERIT] = flag != 0 ? 1 : 0;
    return trap(KIVOS_SYS_spawn_ex, block, argc, flag);
}

pid_t waitpid(pid_t pid, int *status, int options) {
    return trap(KIVOS_SYS_waitpid, pid, status, options);
}

int kivfs_stream_begin(const char *path) {
    if (path == nullptr) return -1;
    return trap(KIVOS_SYS_kivfs_stream_begin, path);
}

int kivfs_stream_write(int handle, const void *buf, size_t count) {
    if (buf == nullptr) return -1;
    return trap(KIVOS_SYS_kivfs_stream_write, handle, buf, clamp_count(count));
}

int kivfs_stream_end(int handle) {
    return trap(KIVOS_SYS_kivfs_stream_end, handle);
}

int access(const char *path, int) {
    if (path == nullptr) return -1;
    int fd = trap(KIVOS_SYS_open, path, KIVOS_O_RDONLY, 0);
    if (fd < 0) return -1;
    trap(KIVOS_SYS_close, fd);
    return 0;
}

}  // extern "C"
