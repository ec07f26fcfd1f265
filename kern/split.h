// Splitting text at a single separator character without merging adjacent
// separators: "a  b" has three words, "" has one empty word.
#pragma once

#include <vector>

#include "kern/types.h"

namespace kern_n {
std::vector<lstr_t> split_words(lstr_t text, char separator);
}  // namespace kern_n
