/* notes: a numbered list of one-line notes, kept in the file notes.txt.
 *
 *     notes add WORD...   adds the words, joined by blanks, as the last note
 *     notes list          prints the notes, numbered from 1
 *     notes clear         removes every note
 *
 * The file is read through a descriptor and written back whole with
 * writefile, the way kivos writes files.
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
    fputs("notes: ", stderr);
    fputs(message, stderr);
    fputs("\n", stderr);
    return 1;
}

static int usage(void) {
    fputs("Usage: notes add WORD... | notes list | notes clear\n", stderr);
    return 2;
}

static void put_number(size_t n) {
    char digits[12];
    char *start = digits + sizeof digits;
    do {
        *--start = (char)('0' + n % 10);
        n /= 10;
    } while (n != 0);
    fwrite(start, 1, (size_t)(digits + sizeof digits - start), stdout);
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
    int fd = open(NOTES_PATH, O_RDONLY);
    if (fd == NO_SUCH_FILE) return 0;
    if (fd < 0) return -1;
    ssize_t got = 0;
    while (g_notes_used < NOTES_CAPACITY &&
           (got = read(fd, g_notes + g_notes_used, NOTES_CAPACITY - g_notes_used)) > 0)
        g_notes_used += (size_t)got;
    char extra;
    const int too_big = g_notes_used == NOTES_CAPACITY && read(fd, &extra, 1) > 0;
    close(fd);
    if (too_big || got < 0) return -1;
    if (g_notes_used > 0 && g_notes[g_notes_used - 1] != '\n') return append("\n", 1);
    return 0;
}

static size_t count_notes(void) {
    size_t count = 0;
    for (size_t i = 0; i < g_notes_used; ++i) count += g_notes[i] == '\n';
    return count;
}

static int add_note(int count, char **words) {
    if (count == 0) return usage();
    for (int i = 0; i < count; ++i) {
        if (append(words[i], strlen(words[i])) != 0 || append(i + 1 < count ? " " : "\n", 1) != 0)
            return fail("no room for another note");
    }
    if (writefile(NOTES_PATH, g_notes, g_notes_used) < 0) return fail("cannot write " NOTES_PATH);
    fputs("Note ", stdout);
    put_number(count_notes());
    puts(" added.");
    return 0;
}

static int list_notes(void) {
    size_t number = 0;
    size_t start = 0;
    for (size_t i = 0; i < g_notes_used; ++i) {
        if (g_notes[i] != '\n') continue;
        put_number(++number);
        fputs(". ", stdout);
        fwrite(g_notes + start, 1, i + 1 - start, stdout);
        start = i + 1;
    }
    if (number == 0) puts("No notes.");
    return 0;
}

static int clear_notes(void) {
    const int result = unlink(NOTES_PATH);
    if (result < 0 && result != NO_SUCH_FILE) return fail("cannot remove " NOTES_PATH);
    puts("Notes cleared.");
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    if (strcmp(argv[1], "clear") == 0) return argc == 2 ? clear_notes() : usage();
    if (load_notes() != 0) return fail("cannot read " NOTES_PATH);
    if (strcmp(argv[1], "add") == 0) return add_note(argc - 2, argv + 2);
    if (strcmp(argv[1], "list") == 0) return argc == 2 ? list_notes() : usage();
    return usage();
}
