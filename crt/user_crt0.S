/* _start: where the kernel enters every kivos command.
 *
 * The kernel leaves the argument count at the stack pointer and the argument
 * vector right above it. Nothing else is set up here: the loader hands over
 * the bss zeroed, and there are no initialisers or exit handlers to run.
 */
    .section .text._start, "ax", @progbits
    .globl _start
    .type _start, @function
_start:
    movl (%esp), %eax           /* argc */
    leal 4(%esp), %ecx          /* argv */
    andl $-16, %esp
    subl $8, %esp               /* 16-byte aligned again once both arguments are pushed */
    pushl %ecx
    pushl %eax
    call main
    movl %eax, (%esp)
    call _exit
.hang:
    jmp .hang
    .size _start, . - _start

    .section .note.GNU-stack, "", @progbits
