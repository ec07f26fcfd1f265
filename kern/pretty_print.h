// Writes a failure report to the log one " because of " clause per line.
#pragma once

#include <exception>

// Text: format expanded with arg when both are given; the one given otherwise;
// else "General error \"<what>\" detected" for e; else a BUG text. Never
// throws: it runs in the handlers of thread bodies and COM methods, and a
// report that cannot be made is dropped.
void pretty_print_exception(int level, const char* format, const char* arg,
                            const std::exception* e) noexcept;
