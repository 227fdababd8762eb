/* upper: copies its standard input to its standard output in capitals. */
#include <kivos/meta.h>
#include <unistd.h>

KIVOS_COMMAND_RECORD("upper", "Copy the input in capitals");
KIVOS_PACKAGE_RECORD("kivos_examples", "1");

static int write_all(const char *bytes, int count) {
    for (int done = 0, n; done < count; done += n)
        if ((n = write(1, bytes + done, (size_t)(count - done))) < 1) return -1;
    return 0;
}

int main(void) {
    char buffer[4096];
    int n;
    while ((n = read(0, buffer, sizeof buffer)) > 0) {
        for (int i = 0; i < n; ++i)
            if (buffer[i] >= 'a' && buffer[i] <= 'z') buffer[i] = (char)(buffer[i] - 'a' + 'A');
        if (write_all(buffer, n) < 0) return 1;
    }
    return n < 0;
}
