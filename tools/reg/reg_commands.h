// The reg tool's operations; each returns the process exit status and writes
// reg.exe's texts (results to out, errors to err).
#pragma once

#include <cstdio>

#include "reg_args.h"

namespace reg_tool {

int run_query(const command_t& command, FILE* out, FILE* err);
// in answers the Yes/No question asked when /f is missing.
int run_add(const command_t& command, FILE* in, FILE* out, FILE* err);
int run_delete(const command_t& command, FILE* in, FILE* out, FILE* err);

}  // namespace reg_tool
