// qri_call_watching_stack: see plugin_dll.h.
#include "support/stack_watch.h"

// i386, cdecl: function, arguments (32 bits each), count, balanced.
asm(R"(
    .text
    .globl _qri_call_watching_stack
_qri_call_watching_stack:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 8(%ebp), %eax
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  movl %esp, %edi
    movl $0x13572468, %ebx
    movl $0x24681357, %esi
    call *%eax
    xorl %ecx, %ecx
    cmpl %esp, %edi
    jne 3f
    cmpl $0x13572468, %ebx
    jne 3f
    cmpl $0x24681357, %esi
    jne 3f
    movl $1, %ecx
3:  movl 20(%ebp), %edx
    movl %ecx, (%edx)
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");
