// ASCII character classes and case mapping, without a locale.
#include <ctype.h>

namespace {

bool within(int c, char low, char high) {
    return c >= low && c <= high;
}

constexpr int k_delete = 0x7f;

}  // namespace

extern "C" {

int isdigit(int c) {
    return within(c, '0', '9');
}

int islower(int c) {
    return within(c, 'a', 'z');
}

int isupper(int c) {
    return within(c, 'A', 'Z');
}

int isalpha(int c) {
    return islower(c) || isupper(c);
}

int isalnum(int c) {
    return isalpha(c) || isdigit(c);
}

int isxdigit(int c) {
    return isdigit(c) || within(c, 'a', 'f') || within(c, 'A', 'F');
}

int isblank(int c) {
    return c == ' ' || c == '\t';
}

// Blank, tab, line feed, vertical tab, form feed, carriage return.
int isspace(int c) {
    return c == ' ' || within(c, '\t', '\r');
}

int iscntrl(int c) {
    return within(c, '\0', '\x1f') || c == k_delete;
}

int isprint(int c) {
    return within(c, ' ', '~');
}

int isgraph(int c) {
    return within(c, '!', '~');
}

int ispunct(int c) {
    return isgraph(c) && !isalnum(c);
}

int tolower(int c) {
    return isupper(c) ? c - 'A' + 'a' : c;
}

int toupper(int c) {
    return islower(c) ? c - 'a' + 'A' : c;
}

}  // extern "C"
