// The verdicts central-sim hands out: per client_id and digest, per client_id,
// or a default.
#pragma once

#include <map>
#include <string>
#include <utility>

namespace central_sim {

class verdict_table_t {
 public:
  // "CLIENT=STATE" or "CLIENT/DIGEST=STATE"; false when malformed.
  bool add(const std::string& rule);
  // One rule per line; blank lines and lines starting with "#" are skipped.
  bool load(const std::string& path, std::string& error);
  void set_default(const std::string& state) { default_ = state; }
  const std::string& lookup(const std::string& client_id, const std::string& digest) const;

 private:
  std::map<std::pair<std::string, std::string>, std::string> exact_;
  std::map<std::string, std::string> by_client_;
  std::string default_ = "OK";
};

}  // namespace central_sim
