/* sh: runs one command line of kivos programs connected by pipes.
 *
 *     sh 'count < notes.txt | upper > out.txt'
 *
 * A line is one or more commands separated by `|`; each command is a program
 * and its arguments. `< FILE` gives the first command its input, `> FILE`
 * catches the last command's output in FILE. A program named without a `/` is
 * looked for in /bin. The shell waits for every command and exits with the
 * last one's status (128 and more when it faulted, 127 when it could not
 * be started), 2 for a line it cannot read.
 *
 * Each command starts with spawn_ex, its standard input and output being the
 * pipes of its neighbours. The output caught for `> FILE` comes back through
 * a pipe and goes into a streamed file, which appears whole once the last
 * command is done.
 */
#include <fcntl.h>
#include <kivos/meta.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

KIVOS_COMMAND_RECORD("sh", "Run a line of commands joined by pipes");
KIVOS_PACKAGE_RECORD("kivos_examples", "1");

#define MOST_COMMANDS 8
#define MOST_WORDS 16
#define LINE_CAPACITY 1024
#define PATH_CAPACITY 256

struct command {
    char *words[MOST_WORDS + 1];
    int count;
};

struct line {
    struct command commands[MOST_COMMANDS];
    int count;
    const char *input;  /* after `<`, or NULL */
    const char *output; /* after `>`, or NULL */
};

static char g_text[LINE_CAPACITY];

static int complain(const char *what, const char *detail) {
    fprintf(stderr, "sh: %s%s\n", what, detail);
    return -1;
}

static int is_operator(char c) {
    return c == '<' || c == '>' || c == '|';
}

/* Joins the arguments and cuts them into words and the operators `<`, `>`
 * and `|`, each NUL-terminated in g_text: 0, or -1 when the line is too long. */
static int split(int argc, char **argv, char **tokens, int *count) {
    size_t used = 0;
    int in_word = 0;
    *count = 0;
    for (int i = 1; i < argc; ++i) {
        for (const char *c = argv[i];; ++c) {
            int blank = *c == ' ' || *c == '\0';
            if (used + 2 >= LINE_CAPACITY) return complain("line too long", "");
            if (in_word && (blank || is_operator(*c))) {
                g_text[used++] = '\0';
                in_word = 0;
            }
            if (*c == '\0') break;
            if (blank) continue;
            if (!in_word) {
                if (*count == MOST_COMMANDS * MOST_WORDS) return complain("line too long", "");
                tokens[(*count)++] = g_text + used;
                in_word = !is_operator(*c);
            }
            g_text[used++] = *c;
            if (is_operator(*c)) g_text[used++] = '\0';
        }
    }
    return 0;
}

static int parse(char **tokens, int count, struct line *line) {
    memset(line, 0, sizeof *line);
    struct command *command = &line->commands[0];
    line->count = 1;
    for (int i = 0; i < count; ++i) {
        const char *token = tokens[i];
        if (strcmp(token, "|") == 0) {
            if (command->count == 0 || line->output != NULL) return complain("misplaced |", "");
            if (line->count == MOST_COMMANDS) return complain("too many commands", "");
            command = &line->commands[line->count++];
        } else if (strcmp(token, "<") == 0 || strcmp(token, ">") == 0) {
            const char **target = token[0] == '<' ? &line->input : &line->output;
            if (i + 1 == count || is_operator(tokens[i + 1][0]))
                return complain("missing file after ", token);
            if (*target != NULL || (token[0] == '<' && line->count > 1))
                return complain("misplaced ", token);
            *target = tokens[++i];
        } else {
            if (command->count == MOST_WORDS) return complain("too many words", "");
            command->words[command->count++] = tokens[i];
        }
    }
    if (command->count == 0) return complain("missing command", "");
    return 0;
}

static int start(const struct command *command, int in, int out) {
    char path[PATH_CAPACITY];
    const char *name = command->words[0];
    snprintf(path, sizeof path, "%s%s", strchr(name, '/') != NULL ? "" : "/bin/", name);
    /* Error output (-1) goes where fd_set_stdio sent it; nothing else is inherited. */
    int pid = spawn_ex(path, command->words, command->count, in, out, -1, 0);
    if (pid < 0) complain("cannot start ", name);
    return pid;
}

/* Copies everything that comes through `fd` into a file that appears whole at the end. */
static int catch_output(int fd, const char *path) {
    char buffer[4096];
    int handle = kivfs_stream_begin(path);
    if (handle < 0) return complain("cannot write ", path);
    int n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        if (kivfs_stream_write(handle, buffer, (size_t)n) != n) break;
    if (n != 0 || kivfs_stream_end(handle) < 0) return complain("cannot write ", path);
    return 0;
}

/* Starts every command, the first reading `in`, each next one the pipe of the
 * one before. Answers the read end of the last pipe when the output is
 * caught, else -1; pids[i] is -1 for a command that did not start. */
static int start_all(const struct line *line, int in, int *pids) {
    int i;
    for (i = 0; i < line->count; ++i) pids[i] = -1;
    for (i = 0; i < line->count; ++i) {
        int last = i == line->count - 1;
        int ends[2] = {-1, 1};
        if ((!last || line->output != NULL) && pipe(ends) < 0) {
            complain("cannot make a pipe", "");
            break;
        }
        pids[i] = start(&line->commands[i], in, ends[1]);
        /* Our copies go, so that each reader sees the end when its writer ends. */
        if (in != 0) close(in);
        if (ends[1] != 1) close(ends[1]);
        in = ends[0];
    }
    if (i == line->count && line->output != NULL) return in;
    if (in > 0) close(in);
    return -1;
}

int main(int argc, char **argv) {
    char *tokens[MOST_COMMANDS * MOST_WORDS];
    int count;
    struct line line;
    if (argc < 2) {
        fputs("Usage: sh 'COMMAND [< FILE] | COMMAND ... [> FILE]'\n", stderr);
        return 2;
    }
    if (split(argc, argv, tokens, &count) < 0 || parse(tokens, count, &line) < 0) return 2;

    int in = 0;
    if (line.input != NULL && (in = open(line.input, O_RDONLY)) < 0) {
        complain("cannot read ", line.input);
        return 1;
    }
    fd_set_stdio(0, 1, 1); /* the commands' error output goes to ours */
    int pids[MOST_COMMANDS];
    int caught = start_all(&line, in, pids);
    int failed = caught >= 0 && catch_output(caught, line.output) < 0;
    if (caught >= 0) close(caught);

    int status = 0, result = 0;
    for (int i = 0; i < line.count; ++i) {
        if (pids[i] < 0) {
            result = 127;
            continue;
        }
        waitpid(pids[i], &status, 0);
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return failed && result == 0 ? 1 : result;
}
