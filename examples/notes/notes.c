/* notes: a numbered list of one-line notes, kept in the file notes.txt.
 *
 *     notes add WORD...   adds the words, joined by blanks, as the last note
 *     notes list          prints the notes, numbered from 1
 *     notes clear         removes every note
 *
 * The file is read through its descriptor, which tells a missing file from one
 * that cannot be read, and written back whole when the stream that writes it is
 * closed, the way kivos writes files. Any failure, of the file or of the output,
 * makes the exit status 1, and leaves the notes as they were.
 */
#include <fcntl.h>
#include <kivos/meta.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

KIVOS_COMMAND_RECORD("notes", "Keep a numbered list of one-line notes");
KIVOS_PACKAGE_RECORD("kivos_examples", "1");

#define NOTES_PATH "notes.txt"
#define NOTES_CAPACITY 65536
#define NO_SUCH_FILE (-2)

static char g_notes[NOTES_CAPACITY];
static size_t g_notes_used;

static int fail(const char *message) {
    fprintf(stderr, "notes: %s\n", message);
    return 1;
}

static int usage(void) {
    fputs("Usage: notes add WORD... | notes list | notes clear\n", stderr);
    return 2;
}

static int append(const char *text, size_t length) {
    if (length > NOTES_CAPACITY - g_notes_used) return -1;
    memcpy(g_notes + g_notes_used, text, length);
    g_notes_used += length;
    return 0;
}

/* Reads notes.txt into g_notes, ending in a newline even if an editor left
 * none: 0 when done (no file is no notes), -1 when it cannot be read or does
 * not fit. */
static int load_notes(void) {
    const int fd = open(NOTES_PATH, O_RDONLY);
    if (fd == NO_SUCH_FILE) return 0;
    if (fd < 0) return -1;
    ssize_t got;
    while ((got = read(fd, g_notes + g_notes_used, NOTES_CAPACITY - g_notes_used)) > 0)
        g_notes_used += (size_t)got;
    /* A full buffer reads nothing more: one byte more tells whether the file ends there. */
    char more;
    if (got == 0 && g_notes_used == NOTES_CAPACITY) got = read(fd, &more, 1);
    close(fd);
    if (got != 0) return -1;
    if (g_notes_used > 0 && g_notes[g_notes_used - 1] != '\n') return append("\n", 1);
    return 0;
}

static unsigned count_notes(void) {
    unsigned count = 0;
    for (size_t i = 0; i < g_notes_used; ++i) count += g_notes[i] == '\n';
    return count;
}

static int add_note(int count, char **words) {
    if (count == 0) return usage();
    for (int i = 0; i < count; ++i) {
        if (append(words[i], strlen(words[i])) != 0 || append(i + 1 < count ? " " : "\n", 1) != 0)
            return fail("no room for another note");
    }
    /* Nothing reaches the file before fclose, so a failed write leaves it as it was. */
    FILE *out = fopen(NOTES_PATH, "w");
    if (out == NULL || fwrite(g_notes, 1, g_notes_used, out) != g_notes_used || fclose(out) != 0)
        return fail("cannot write " NOTES_PATH);
    return printf("Note %u added.\n", count_notes()) < 0;
}

static int list_notes(void) {
    unsigned number = 0;
    size_t start = 0;
    for (size_t i = 0; i < g_notes_used; ++i) {
        if (g_notes[i] != '\n') continue;
        if (printf("%u. %.*s", ++number, (int)(i + 1 - start), g_notes + start) < 0) return 1;
        start = i + 1;
    }
    return number == 0 && puts("No notes.") < 0;
}

static int clear_notes(void) {
    const int result = unlink(NOTES_PATH);
    if (result < 0 && result != NO_SUCH_FILE) return fail("cannot remove " NOTES_PATH);
    return puts("Notes cleared.") < 0;
}

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    if (strcmp(argv[1], "clear") == 0) return argc == 2 ? clear_notes() : usage();
    if (load_notes() != 0) return fail("cannot read " NOTES_PATH);
    if (strcmp(argv[1], "add") == 0) return add_note(argc - 2, argv + 2);
    if (strcmp(argv[1], "list") == 0) return argc == 2 ? list_notes() : usage();
    return usage();
}
