// One connection to a registry store file with its prepared statements, which
// it keeps for as long as it lives: preparing costs more than running them.
#pragma once

#include <sqlite3.h>
#include <unordered_map>

namespace plat_linux::reg {

class connection_t {
 public:
  explicit connection_t(sqlite3* db) : db_(db) {}
  // Finalizes the kept statements, then closes (rolling back what is open).
  ~connection_t();
  connection_t(const connection_t&) = delete;
  connection_t& operator=(const connection_t&) = delete;

  sqlite3* db() const { return db_; }

  // The kept statement for sql (a string that lives as long as the program,
  // which is also its key), prepared on first use; null with *rc set when
  // preparing fails. The caller resets it after use.
  sqlite3_stmt* statement(const char* sql, int* rc);

  // Set once the file showed our schema on this connection: a store's
  // layout is fixed once written, so later calls need not look again.
  bool schema_seen = false;

 private:
  sqlite3* db_;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

}  // namespace plat_linux::reg
