// The frame every enforcement runs in. An agent may leave a reader by longjmp
// or by a structured exception that it catches outside the export; the unwind
// that follows passes this frame, and its handler gives the enforcement lock
// back (enforcement_lock.cpp). Assembly, so that the frame is the same under
// every compiler and linker: no compiler writes SEH frames inside C++ here.
// The exports stay C++ with their declared conventions and call into this
// frame; every reader runs below it, so every unwind to the agent passes it.
//
// int qri_run_in_enforcement_frame(int (*step)(void *argument, volatile LONG *hold), void *argument)
//   Calls step with the address of a hold kept in this frame and returns
//   its result. When an unwind passes the frame, the handler calls
//   qri_enforcement_frame_unwinding(record, hold).

#if defined(__x86_64__)
    // The handler is in the image's unwind tables (@unwind: called only while
    // unwinding); the hold lies at a fixed place above the frame's rsp, which
    // the system passes as the establisher frame.
    .text
    .p2align 4
    .globl qri_run_in_enforcement_frame
    .def qri_run_in_enforcement_frame; .scl 2; .type 32; .endef
    .seh_proc qri_run_in_enforcement_frame
qri_run_in_enforcement_frame:
    subq $56, %rsp
    .seh_stackalloc 56
    .seh_endprologue
    movq $0, 40(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    leaq 40(%rsp), %rdx
#if defined(QRI_GUARD_CF)
    // Control Flow Guard's dispatch checks the target in rax, then jumps to it.
    call *__guard_dispatch_icall_fptr(%rip)
#else
    call *%rax
#endif
    // The return address must not fall on the epilogue: the unwinder would
    // take the frame for one that is leaving and skip its handler.
    nop
    addq $56, %rsp
    ret
    .seh_handler enforcement_frame_handler, @unwind
    .seh_endproc

    // (record, establisher frame, context, dispatcher context): the hold's
    // address takes the place of the establisher frame.
    .p2align 4
    .def enforcement_frame_handler; .scl 3; .type 32; .endef
enforcement_frame_handler:
    addq $40, %rdx
    jmp qri_enforcement_frame_unwinding

#elif defined(__i386__)
    // A registration record on fs:[0] for the length of the call, the hold
    // right after its two fields: the system passes the record's address.
    .text
    .p2align 4
    .globl _qri_run_in_enforcement_frame
    .def _qri_run_in_enforcement_frame; .scl 2; .type 32; .endef
_qri_run_in_enforcement_frame:
    pushl %ebp
    movl %esp, %ebp
    pushl $0
    pushl $_enforcement_frame_handler
    pushl %fs:0
    movl %esp, %fs:0
    andl $-16, %esp
    subl $8, %esp
    leal -4(%ebp), %eax
    pushl %eax
    pushl 12(%ebp)
#if defined(QRI_GUARD_CF)
    // Control Flow Guard's check takes the target in ecx and returns only
    // when it is a valid one.
    movl 8(%ebp), %ecx
    call *___guard_check_icall_fptr
#endif
    call *8(%ebp)
    movl -12(%ebp), %ecx
    movl %ecx, %fs:0
    leave
    ret

    // cdecl (record, registration record, context, dispatcher context).
    .p2align 4
    .def _enforcement_frame_handler; .scl 3; .type 32; .endef
_enforcement_frame_handler:
    movl 8(%esp), %eax
    addl $8, %eax
    pushl %eax
    pushl 8(%esp)
    call _qri_enforcement_frame_unwinding
    addl $8, %esp
    ret
#if defined(__clang__)
    // Listed as a valid handler, should the image ever carry a SafeSEH table
    // (GNU as knows no .safeseh; GNU ld makes no such table).
    .safeseh _enforcement_frame_handler
    .def @feat.00; .scl 3; .type 0; .endef
    .globl @feat.00
    .set @feat.00, 1
#endif
#endif
