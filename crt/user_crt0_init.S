/* _start for commands that have constructors (C++ globals, constructor
 * functions): the same entry as user_crt0.o, but every entry of .init_array
 * runs once, in the link layout's order, before main. kivos-cc links this
 * object only into images that have constructors, so every other command
 * keeps the plain start-up.
 */
    .section .text._start, "ax", @progbits
    .globl _start
    .type _start, @function
_start:
    movl (%esp), %esi           /* argc, kept across the constructors */
    leal 4(%esp), %edi          /* argv */
    andl $-16, %esp             /* each constructor is called on an aligned stack */
    .globl kivos_run_constructors
kivos_run_constructors:
    movl $__init_array_start, %ebx
.next:
    cmpl $__init_array_end, %ebx
    jae .main
    call *(%ebx)
    addl $4, %ebx
    jmp .next
.main:
    subl $8, %esp               /* 16-byte aligned again once both arguments are pushed */
    pushl %edi
    pushl %esi
    call main
    movl %eax, (%esp)
    call _exit
.hang:
    jmp .hang
    .size _start, . - _start

    .section .note.GNU-stack, "", @progbits
