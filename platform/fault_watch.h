// A line in the log when our own code crashes: a watch over one module's code
// that, for a fatal processor fault (access violation, division by zero,
// illegal instruction, ...) whose address lies inside that module, hands its
// description to a report function and then lets the fault go on exactly as
// if nobody had looked. It never handles, changes or hides a fault, and
// ignores every fault outside the module and every exception a program raises
// itself (C++ exceptions among them).
#pragma once

#include "platform/win32.h"

namespace plat {

// Called on the faulting thread with the fault's description: "exception
// <code> (<flags>) @ <address> <n>:[<parameters>] RIP=... code=[<bytes>]".
// It runs after a crash, when the heap may be broken: it must not allocate.
typedef void (*fault_report_fn)(const char* description) noexcept;

// Starts the watch over module's code; false where the platform has no such
// watch (Linux: the stand-in has no structured exceptions) or when it could not
// be set up. One watch per module: the module that carries this code.
bool watch_faults(HMODULE module, fault_report_fn report) noexcept;
// Ends it; the module calls this before it is unloaded. A description under
// way on another thread is waited for (two seconds at most), so that no
// thread is left in the module's code once it is unmapped.
void unwatch_faults() noexcept;

}  // namespace plat
