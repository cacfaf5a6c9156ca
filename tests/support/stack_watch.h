// i386 only: calls a function with arguments pushed on the stack and watches
// what the call leaves behind.
#pragma once

#include <cstdint>

namespace qritest {

// Calls a caller-clean-up function with `count` stack arguments and checks
// that it came back with the stack pointer and the callee-saved registers as
// they were: a callback called with the wrong convention shows up here (or
// crashes the test).
extern "C" int __cdecl qri_call_watching_stack(const void *function, const std::uintptr_t *arguments, int count,
                                               int *balanced);

} // namespace qritest
