// Fault injection through the import table of the loaded QRIPLUGN.dll: every
// slot is swapped for a hook of the same signature that counts the call and,
// when the armed counter says so, fails it the way the system documents. The
// hooks also keep a ledger of what the DLL opens and closes, the trace it
// sends and the engines it starts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fault {

enum class Kind {
    Fails,      // may fail: the documented failure value and error
    Releases,   // releases for real, then may report failure
    Counted,    // hooked to count or record, never failed
    Internal,   // runtime internal, not injected; reaching it in a call is noted
    CannotFail, // left unhooked
};

struct Row {
    const char *dll;
    const char *name;
    void *hook;
    Kind kind;
    const char *failure; // what a failed call returns and sets
    void *original;      // the real function, once hooked
};

// One row per function the DLL may import.
std::vector<Row> &Table();

// Swaps every import slot of module for its hook; returns "DLL!name" of each
// import that has no row.
std::vector<std::string> HookImports(HMODULE module);

enum class Mode { Transient, Persistent };

// One imported call made while recording.
struct Call {
    const Row *row;
    const void *site; // return address in the DLL
    std::string tag;  // what the arguments say about the call site, e.g. a value name
    int ordinal;      // 1 for the first call of this function in the run
    bool failed;
};

// What the DLL opened and has not closed yet, by kind and value.
struct Resource {
    std::string opener;
    const void *site;
};
using Ledger = std::map<std::pair<std::string, std::uintptr_t>, Resource>;

// An engine the DLL started, with the scripts beside it as they were then.
struct Launch {
    std::string commandLine;
    std::map<std::string, std::string> scripts; // file name -> bytes
    HANDLE process;                             // the harness's own duplicate
    HANDLE dllProcess;                          // the DLL's handle, as it may store it
};

struct Record {
    std::vector<Call> calls; // of injectable functions
    std::vector<std::string> trace;
    std::vector<std::string> tempNames;
    std::vector<Launch> launches;
    std::set<std::string> internalReached;
    std::vector<std::string> strayCloses; // closes of values never opened
    unsigned failures = 0;
};

// Starts a new record: calls are counted and none fails, or (Arm) the k-th
// injectable call fails, and in persistent mode every later call of the
// same function too.
void StartRecording();
void Arm(Mode mode, unsigned k);
void StopRecording();
Record &Current();
Ledger &Live();

// Distinct (function, return address) pairs seen so far.
const std::set<std::pair<const Row *, const void *>> &Sites();

// Called before the process dies in a crash, with what was failing then.
void SetCrashContext(const std::string &context);

} // namespace fault
