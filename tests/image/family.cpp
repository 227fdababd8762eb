// Processes, pipes and waiting, one role per first argument; each parent
// prints one line of what it saw. Children are started as /family.
#include <fcntl.h>
#include <kivos/meta.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

KIVOS_COMMAND_RECORD("family", "Starts, feeds and waits for its children");
KIVOS_PACKAGE_RECORD("kivos_tests", "0");

namespace {

int child(const char *role, int in, int out, int inherit) {
    char *argv[] = {const_cast<char *>("family"), const_cast<char *>(role), nullptr};
    return spawn_ex("/family", argv, 2, in, out, -1, inherit);
}

// Reads until the end of input; the bytes NUL-terminated in buf.
void drain(int fd, char *buf, int size) {
    int got = 0, n;
    while (got < size - 1 && (n = read(fd, buf + got, size - 1 - got)) > 0) got += n;
    buf[got] = '\0';
}

bool is(const char *role, const char *name) {
    return strcmp(role, name) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    const char *role = argc > 1 ? argv[1] : "";
    char buf[64];
    int st = -1, fds[2], back[2];
    if (is(role, "upper")) {  // its input in capitals, then status 3
        int n;
        while ((n = read(0, buf, sizeof buf)) > 0) {
            for (int i = 0; i < n; ++i)
                if (buf[i] >= 'a' && buf[i] <= 'z') buf[i] = static_cast<char>(buf[i] - 32);
            write(1, buf, n);
        }
        return 3;
    }
    if (is(role, "fault")) __builtin_trap();
    if (is(role, "tell")) return write(open("/f", O_WRONLY), "hello", 5) == 5 ? 0 : 1;
    if (is(role, "half")) {
        const int handle = kivfs_stream_begin("/half");
        return kivfs_stream_write(handle, "x", 1) == 1 ? 0 : 1;
    }
    if (is(role, "talk")) {
        pipe(fds);
        pipe(back);
        const int pid = child("upper", fds[0], back[1], 0);
        close(fds[0]);
        close(back[1]);
        write(fds[1], "ping", 4);
        close(fds[1]);
        drain(back[0], buf, sizeof buf);
        const bool waited = waitpid(pid, &st, 0) == pid;
        printf("%s %d %d\n", buf, waited, st);
    } else if (is(role, "wait")) {
        const int faulty = child("fault", -1, -1, 0), upper = child("upper", -1, -1, 0);
        printf("%d ", waitpid(upper, &st, WNOHANG));
        const int order[] = {faulty, upper};
        for (const int pid : order) {
            const bool first = waitpid(-1, &st, 0) == pid;
            printf("%d %d ", first, st);
        }
        printf("%d %d %d\n", waitpid(-1, &st, 0), waitpid(0, &st, 0), waitpid(upper, &st, 2));
    } else if (is(role, "fifo")) {
        const int made = mkfifo("/f");
        printf("%d %d ", made, mkfifo("/f"));
        child("tell", -1, -1, 0);
        drain(open("/f", O_RDONLY), buf, sizeof buf);
        printf("%s %d\n", buf, unlink("/f"));
    } else if (is(role, "crowd")) {
        int started = 0, pid;
        pipe(fds);
        while ((pid = child("upper", fds[0], -1, 0)) > 0) ++started;
        close(fds[1]);  // every child's input ends
        while (waitpid(-1, &st, 0) > 0) {
        }
        printf("%d %d\n", started, pid);
    } else if (is(role, "deadlock")) {
        pipe(fds);
        child("upper", fds[0], -1, 1);  // holds the write end too: its input never ends
        waitpid(-1, &st, 0);
    }
    return 0;
}
