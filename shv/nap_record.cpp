// Checking the NAP data record.
#include "shv/nap_record.h"

#include <cstring>

#include "kern/logger.h"
#include "kern/split.h"

namespace shv {

bool check_record(const std::string& record, std::string& client_id, std::string& digest) {
  const std::vector<lstr_t> words = kern_n::split_words(lstr_t(record), ' ');
  if (words.size() != 3) {
    KLOG(lvl_error, "invalid nap data, expected 3 arguments, but received %lu expected",
         static_cast<unsigned long>(words.size()));
    return false;
  }
  if (words[0] != lstr_t("1")) {
    KLOG(lvl_error, "invalid nap data, only protocol version #1 supported");
    return false;
  }
  // Both words go into the central server's protocol lines: a line break
  // inside one would let the client write lines of its own there.
  for (const lstr_t& word : {words[1], words[2]}) {
    if (std::memchr(word.pointer, '\r', word.length) != nullptr ||
        std::memchr(word.pointer, '\n', word.length) != nullptr) {
      KLOG(lvl_error, "invalid nap data, line break inside client id or digest");
      return false;
    }
  }
  client_id = words[1].str();
  digest = words[2].str();
  return true;
}

}  // namespace shv
