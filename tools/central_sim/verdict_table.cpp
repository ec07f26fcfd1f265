// central-sim's verdict table.
#include "tools/central_sim/verdict_table.h"

#include <fstream>

namespace central_sim {

bool verdict_table_t::add(const std::string& rule) {
  const size_t eq = rule.rfind('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == rule.size()) return false;
  const std::string who = rule.substr(0, eq);
  const std::string state = rule.substr(eq + 1);
  if (state.find_first_of(" \r\n") != std::string::npos) return false;
  const size_t slash = who.find('/');
  if (slash == std::string::npos) {
    by_client_[who] = state;
  } else {
    exact_[{who.substr(0, slash), who.substr(slash + 1)}] = state;
  }
  return true;
}

bool verdict_table_t::load(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!add(line)) {
      error = path + ":" + std::to_string(number) + ": expected CLIENT=STATE or CLIENT/DIGEST=STATE";
      return false;
    }
  }
  return true;
}

const std::string& verdict_table_t::lookup(const std::string& client_id, const std::string& digest) const {
  if (auto it = exact_.find({client_id, digest}); it != exact_.end()) return it->second;
  if (auto it = by_client_.find(client_id); it != by_client_.end()) return it->second;
  return default_;
}

}  // namespace central_sim
