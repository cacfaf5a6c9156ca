// A caller that catches structured exceptions the way an agent does: the
// exception raised below is caught here, everything in between is unwound,
// and the call goes on.
#pragma once

#include <windows.h>

extern "C" {

// Calls function(argument). Returns 0 when it returned, 1 when a structured
// exception left it; the frames in between were unwound.
// x86_64: a frame with __C_specific_handler and one scope, as a compiler
// makes for __try/__except; i386: a registration record of our own on fs:[0]
// whose handler unwinds to it with RtlUnwind.
int qri_call_catching(void (*function)(void *), void *argument);

}
