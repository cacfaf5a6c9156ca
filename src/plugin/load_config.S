// The load configuration that Control Flow Guard needs, which this mingw-w64
// CRT does not provide. clang (-mguard=cf) calls every indirect target through
// __guard_check_icall_fptr (i386) or __guard_dispatch_icall_fptr (x86_64); a
// system that enforces the guard points them at its own check when it loads
// the image, so they live in the read-only .00cfg section and start out at a
// check that lets every call through (Wine, older systems). lld fills in the
// __guard_* symbols: the table of valid call targets, its size and the flags.
// The layout is the system's IMAGE_LOAD_CONFIG_DIRECTORY up to the longjmp
// table; Size tells the loader how much of it there is. No SafeSEH table:
// the runtime's handlers come from objects that list none.

#if defined(__x86_64__)
#define PTR .quad
#define SYM(name) name
#else
#define PTR .long
#define SYM(name) _##name
#endif

    .section .00cfg,"dr"
    .p2align 3
    .globl SYM(__guard_check_icall_fptr)
SYM(__guard_check_icall_fptr):
    PTR guard_check_none
#if defined(__x86_64__)
    .globl __guard_dispatch_icall_fptr
__guard_dispatch_icall_fptr:
    .quad guard_dispatch_direct
#endif

    .text
    .p2align 4
    // The target comes in ecx (i386, fastcall) or rcx: nothing to check here.
guard_check_none:
    ret
#if defined(__x86_64__)
    .p2align 4
    // The target comes in rax, the call's own arguments in their registers.
guard_dispatch_direct:
    jmp *%rax
#endif

    .section .rdata,"dr"
    .p2align 3
    .globl SYM(_load_config_used)
SYM(_load_config_used):
    .long load_config_end - SYM(_load_config_used) // Size
    .long 0               // TimeDateStamp
    .short 0, 0           // MajorVersion, MinorVersion
    .long 0, 0, 0         // GlobalFlagsClear, GlobalFlagsSet, CriticalSectionDefaultTimeout
    PTR 0, 0, 0, 0, 0     // DeCommitFreeBlockThreshold .. VirtualMemoryThreshold
#if defined(__x86_64__)
    .quad 0               // ProcessAffinityMask
    .long 0               // ProcessHeapFlags
#else
    .long 0, 0            // ProcessHeapFlags, ProcessAffinityMask
#endif
    .short 0, 0           // CSDVersion, DependentLoadFlags
    PTR 0, 0, 0, 0        // EditList, SecurityCookie, SEHandlerTable, SEHandlerCount
    PTR SYM(__guard_check_icall_fptr)
#if defined(__x86_64__)
    .quad __guard_dispatch_icall_fptr
#else
    .long 0               // GuardCFDispatchFunctionPointer: x86_64 only
#endif
    PTR SYM(__guard_fids_table), SYM(__guard_fids_count)
    .long SYM(__guard_flags)
    .short 0, 0           // CodeIntegrity: Flags, Catalog
    .long 0, 0            // CodeIntegrity: CatalogOffset, Reserved
    PTR SYM(__guard_iat_table), SYM(__guard_iat_count)
    PTR SYM(__guard_longjmp_table), SYM(__guard_longjmp_count)
load_config_end:
