// The registry store connection and its statement cache.
#include "platform/linux/registry/registry_connection.h"

namespace plat_linux::reg {

connection_t::~connection_t() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  sqlite3_close_v2(db_);
}

sqlite3_stmt* connection_t::statement(const char* sql, int* rc) {
  const auto found = statements_.find(sql);
  if (found != statements_.end()) {
    *rc = SQLITE_OK;
    return found->second;
  }
  sqlite3_stmt* stmt = nullptr;
  *rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (*rc != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  try {
    statements_.emplace(sql, stmt);
  } catch (...) {
    sqlite3_finalize(stmt);
    throw;
  }
  return stmt;
}

}  // namespace plat_linux::reg
