// Writes a file through a spooled stream: file_writer PATH MODE write|empty|unclosed.
// "write" puts two lines and closes, "empty" closes at once, "unclosed" writes
// and exits with the stream still open. The status is 0 when fclose succeeded.
#include <kivos/meta.h>
#include <stdio.h>
#include <string.h>

KIVOS_COMMAND_RECORD("file_writer", "Writes a file through a stream");
KIVOS_PACKAGE_RECORD("kivos_tests", "0");

int main(int argc, char **argv) {
    if (argc != 4) return 2;
    FILE *file = fopen(argv[1], argv[2]);
    if (file == nullptr) return 3;
    if (strcmp(argv[3], "empty") != 0) {
        fputs("kivos\n", file);
        fprintf(file, "%s=%d|%5x|\n", "answer", -42, 0xbeef);
    }
    if (strcmp(argv[3], "unclosed") == 0) return 0;
    return fclose(file) == 0 ? 0 : 1;
}
