/* count: counts the lines, words and bytes of its standard input. */
#include <kivos/meta.h>
#include <stdio.h>
#include <unistd.h>

KIVOS_COMMAND_RECORD("count", "Count lines, words and bytes of the input");
KIVOS_PACKAGE_RECORD("kivos_examples", "1");

int main(void) {
    char buffer[4096];
    unsigned long lines = 0, words = 0, bytes = 0;
    int in_word = 0, n;
    while ((n = read(0, buffer, sizeof buffer)) > 0) {
        for (int i = 0; i < n; ++i) {
            char c = buffer[i];
            int blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
            lines += c == '\n';
            words += !blank && !in_word;
            in_word = !blank;
        }
        bytes += (unsigned long)n;
    }
    printf("%lu lines, %lu words, %lu bytes\n", lines, words, bytes);
    return n < 0;
}
