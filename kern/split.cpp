// split_words over Boost's string algorithms.
#include "kern/split.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/range/iterator_range.hpp>

namespace kern_n {

std::vector<lstr_t> split_words(lstr_t text, char separator) {
  std::vector<boost::iterator_range<const char*>> ranges;
  const boost::iterator_range<const char*> input(text.begin(), text.end());
  boost::algorithm::split(ranges, input, boost::algorithm::is_from_range(separator, separator),
                          boost::algorithm::token_compress_off);
  std::vector<lstr_t> words;
  words.reserve(ranges.size());
  for (const auto& r : ranges) words.emplace_back(r.begin(), static_cast<uint64_t>(r.size()));
  if (words.empty()) words.emplace_back(text.pointer, 0);
  return words;
}

}  // namespace kern_n
