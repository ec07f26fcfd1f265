// A store's change counter, shared by every process that uses the store: a
// file of 8 bytes beside it ("<store>-gen") that every writer raises once its
// change is committed and visible. A reader whose cached answers were read
// under the counter it still finds knows that nothing has changed since.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/registry/registry_pool.h"

namespace plat_linux::reg {

// The counter of the store at path, whose file currently is identity; none
// when there is no counter file (no writer has run) or it may not be read.
std::optional<uint64_t> current_generation(const std::string& path, const file_identity_t& identity);
// The same, without looking at the file: the counter as mapped for the file
// the process last found at path; none when it has not mapped one.
std::optional<uint64_t> mapped_generation(const std::string& path);

// Raises the counter after a committed change; creates the file on the first
// write. Best effort: a writer that may change the store but not the counter
// leaves the readers to find the change once their cached answers expire.
void raise_generation(const std::string& path);

}  // namespace plat_linux::reg
