// A command with more code than fits below 0x405000, to prove the link layout moves on.
#include <kivos/meta.h>
#include <stdio.h>

KIVOS_COMMAND_RECORD("big_command", "A command with 40 KiB of code");
KIVOS_PACKAGE_RECORD("kivos_tests", "0");

extern "C" void slide(void);
// 40 KiB of code that runs: a slide of no-operations before the return.
asm(".section .text.slide, \"ax\", @progbits\n"
    ".globl slide\n"
    "slide:\n"
    ".fill 40960, 1, 0x90\n"
    "ret\n"
    ".previous\n");

int main() {
    slide();
    puts("big command ran");
    return 0;
}
