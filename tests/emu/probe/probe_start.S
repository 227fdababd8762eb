/* Entry and raw trap of the probe guest. */
    .section .text.start, "ax"
    .globl _start
_start:
    mov (%esp), %eax
    lea 4(%esp), %edx
    and $-16, %esp
    sub $8, %esp
    push %edx
    push %eax
    call probe_main
    mov %eax, %ebx
    mov $2, %eax
    int $0x80
    hlt

/* int trap(number, ebx, ecx, edx, esi, edi, ebp): any call with any registers. */
    .text
    .globl trap
trap:
    push %ebp
    push %edi
    push %esi
    push %ebx
    mov 20(%esp), %eax
    mov 24(%esp), %ebx
    mov 28(%esp), %ecx
    mov 32(%esp), %edx
    mov 36(%esp), %esi
    mov 40(%esp), %edi
    mov 44(%esp), %ebp
    int $0x80
    pop %ebx
    pop %esi
    pop %edi
    pop %ebp
    ret

    .section .note.GNU-stack, "", @progbits
