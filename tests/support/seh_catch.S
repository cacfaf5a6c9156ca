// qri_call_catching: see seh_catch.h. Assembly, because neither width lets a
// mingw compiler write __try/__except itself.
#if defined(__x86_64__)
    .text
    .p2align 4
    .globl qri_call_catching
    .def qri_call_catching; .scl 2; .type 32; .endef
    .seh_proc qri_call_catching
qri_call_catching:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
.Lguarded:
    call *%rax
    nop
.Lguarded_end:
    xorl %eax, %eax
.Lreturn:
    addq $40, %rsp
    ret
    // Reached through RtlUnwindEx, whose return value systems differ on.
.Lcaught:
    movl $1, %eax
    jmp .Lreturn
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    .long 1
    .rva .Lguarded, .Lguarded_end
    .long 1 // EXCEPTION_EXECUTE_HANDLER: no filter, every exception is caught
    .rva .Lcaught
    .text
    .seh_endproc

#elif defined(__i386__)
    .text
    .p2align 4
    .globl _qri_call_catching
    .def _qri_call_catching; .scl 2; .type 32; .endef
_qri_call_catching:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    // The registration record: next, handler, and this frame's ebp to resume with.
    pushl %ebp
    pushl $catch_handler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    addl $4, %esp
    xorl %eax, %eax
resume:
    // esp is the registration record again, on return and after an unwind.
    movl (%esp), %ecx
    movl %ecx, %fs:0
    addl $12, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    // cdecl (record, registration, context, dispatcher context). Catches
    // every exception on the first pass; passes on while unwinding.
    .def catch_handler; .scl 3; .type 32; .endef
catch_handler:
    movl 4(%esp), %eax
    testl $6, 4(%eax) // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
    jz 1f
    movl $1, %eax // ExceptionContinueSearch
    ret
1:  movl 8(%esp), %esi
    pushl $0
    pushl %eax
    pushl $0
    pushl %esi
    call _RtlUnwind@16
    movl %esi, %esp
    movl 8(%esi), %ebp
    movl $1, %eax
    jmp resume
#if defined(__clang__)
    .safeseh catch_handler
#endif
#endif
