// The registry stand-in's SQLite store: schema, transactions, the mapping of
// SQLite results to Win32 codes, and the key and value tables.
#include "platform/linux/registry_store.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <fcntl.h>
#include <locale.h>
#include <new>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/registry_api.h"

namespace plat_linux::reg {

const char default_store_path[] = "/var/lib/shv/registry.db";

namespace {

// 'SHVR' in the file header marks a store of ours; user_version its layout.
constexpr int application_id = 0x53485652;
constexpr int schema_version = 1;
// Long enough for any writer's single-value transaction, short enough that a
// stuck peer shows as an error instead of a hang.
constexpr int busy_timeout_ms = 10000;

const char schema_sql[] =
    "CREATE TABLE reg_keys(id INTEGER PRIMARY KEY, parent INTEGER, name BLOB NOT NULL,"
    " folded BLOB NOT NULL);"
    "CREATE UNIQUE INDEX reg_keys_by_name ON reg_keys(parent, folded);"
    "CREATE TABLE reg_values(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, name BLOB NOT NULL,"
    " folded BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX reg_values_by_name ON reg_values(key, folded);"
    "INSERT INTO reg_keys(id, parent, name, folded) VALUES(1, NULL, X'', X'');"
    "PRAGMA application_id = 1397249618;"
    "PRAGMA user_version = 1;";
static_assert(application_id == 1397249618);

LONG code_of(int rc, int system_errno) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_NOMEM:
    case SQLITE_TOOBIG:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_ERROR:  // a schema that is not ours
    case SQLITE_SCHEMA:
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
      return ERROR_BADDB;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
      if (system_errno == EACCES || system_errno == EPERM || system_errno == EROFS)
        return ERROR_ACCESS_DENIED;
      return ERROR_REGISTRY_IO_FAILED;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

[[noreturn]] void fail_sqlite(sqlite3* db, int rc) {
  const int system_errno = db != nullptr ? sqlite3_system_errno(db) : 0;
  fail(code_of(rc, system_errno));
}

// Names are compared upper-cased, code unit by code unit (as the registry
// does); stored big-endian so that the byte order of the blobs sorts as the
// code units do.
locale_t name_locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

std::string folded_blob(const std::u16string& name) {
  const locale_t locale = name_locale();
  std::string out;
  out.reserve(name.size() * 2);
  for (char16_t c : name) {
    char16_t u = c;
    if (c < 0x80) {
      if (c >= u'a' && c <= u'z') u = static_cast<char16_t>(c - 0x20);
    } else if ((c < 0xD800 || c > 0xDFFF) && locale != static_cast<locale_t>(0)) {
      const wint_t upper = towupper_l(static_cast<wint_t>(c), locale);
      if (upper <= 0xFFFF && (upper < 0xD800 || upper > 0xDFFF)) u = static_cast<char16_t>(upper);
    }
    out += static_cast<char>(u >> 8);
    out += static_cast<char>(u & 0xFF);
  }
  return out;
}

std::string name_blob(const std::u16string& name) {
  std::string out;
  out.reserve(name.size() * 2);
  for (char16_t c : name) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::u16string name_of_blob(const void* data, int size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::u16string out;
  if (bytes == nullptr) return out;
  out.reserve(static_cast<size_t>(size) / 2);
  for (int i = 0; i + 1 < size; i += 2)
    out += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  return out;
}

// One prepared statement; every step's failure becomes failure_t.
class statement_t {
 public:
  statement_t(sqlite3* db, const char* sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    if (rc != SQLITE_OK) fail_sqlite(db, rc);
  }
  ~statement_t() { sqlite3_finalize(stmt_); }
  statement_t(const statement_t&) = delete;
  statement_t& operator=(const statement_t&) = delete;

  statement_t& bind(int index, int64_t value) {
    check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
  }
  statement_t& bind(int index, const std::string& blob) {
    check(sqlite3_bind_blob64(stmt_, index, blob.empty() ? "" : blob.data(), blob.size(),
                              SQLITE_TRANSIENT));
    return *this;
  }
  // True while there is a row.
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail_sqlite(db_, rc);
  }
  int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string blob(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    if (data == nullptr || size <= 0) return std::string();
    return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
  }
  std::u16string name(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    return name_of_blob(data, sqlite3_column_bytes(stmt_, column));
  }

 private:
  void check(int rc) {
    if (rc != SQLITE_OK) fail_sqlite(db_, rc);
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

value_t value_of_row(const statement_t& row) {
  value_t value;
  value.name = row.name(0);
  value.type = static_cast<DWORD>(row.integer(1));
  value.data = row.blob(2);
  return value;
}

struct file_state_t {
  file_identity_t identity;
  bool exists = false;
  bool readable = false;
  bool writable = false;
};

file_state_t file_state(const std::string& path) {
  file_state_t state;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return state;
    fail(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED);
  }
  if (!S_ISREG(st.st_mode)) fail(ERROR_BADDB);
  state.exists = true;
  state.identity.device = st.st_dev;
  state.identity.inode = st.st_ino;
  state.identity.size = st.st_size;
  state.identity.modified = st.st_mtim;
  state.identity.changed = st.st_ctim;
  state.readable = (st.st_mode & 0444) != 0 && faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0;
  state.writable = (st.st_mode & 0222) != 0 && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
  return state;
}

// mkdir -p of the directory part of path.
void create_parent_directories(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    const std::string dir = path.substr(0, at);
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
      fail(errno == EACCES || errno == EROFS || errno == EPERM ? ERROR_ACCESS_DENIED
                                                                 : ERROR_REGISTRY_IO_FAILED);
    }
  }
}

}  // namespace

void fail(LONG code) { throw failure_t{code}; }

std::string current_store_path() {
  const char* path = std::getenv("SHV_REGISTRY");
  if (path != nullptr && *path != '\0') return path;
  return default_store_path;
}

bool store_writable(const std::string& path) {
  const file_state_t state = file_state(path);
  if (!state.exists) return true;
  if (!state.readable) fail(ERROR_ACCESS_DENIED);
  return state.writable;
}

store_t::store_t(const std::string& path, access_t access) : path_(path), access_(access) {
  const file_state_t state = file_state(path);
  if (state.exists && !state.readable) fail(ERROR_ACCESS_DENIED);
  if (access == access_t::write) {
    if (state.exists && !state.writable) fail(ERROR_ACCESS_DENIED);
    if (!state.exists) create_parent_directories(path);
    open_file(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
              state.exists ? &state.identity : nullptr);
    // Another program's file is refused before anything is changed in it.
    check_schema();
    // WAL lets the validator read while the configurator writes; the mode is
    // kept in the file, so only the first writer changes it.
    exec("PRAGMA journal_mode=WAL");
    exec("BEGIN IMMEDIATE");
    open_transaction_ = true;
    if (check_schema() == schema_t::none) exec(schema_sql);
    return;
  }
  if (!state.exists) {
    empty_ = true;
    return;
  }
  // A reader never checkpoints: that stays with the writers, off the
  // validator's path.
  open_file(path, SQLITE_OPEN_READONLY, &state.identity);
  exec("BEGIN");
  open_transaction_ = true;
  empty_ = check_schema() == schema_t::none;
}

store_t::~store_t() {
  if (db_ != nullptr && !open_transaction_) give_back_connection(path_, flags_, db_.release());
}

void store_t::closer_t::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

void store_t::open_file(const std::string& path, int flags, const file_identity_t* identity) {
  flags_ = flags;
  if (identity != nullptr) {
    db_.reset(take_connection(path, flags, *identity));
    if (db_ != nullptr) return;
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(db);  // a failed open still hands out a connection to close
  if (rc != SQLITE_OK) fail_sqlite(db, rc);
  sqlite3_busy_timeout(db, busy_timeout_ms);
  sqlite3_extended_result_codes(db, 1);
  if (flags & SQLITE_OPEN_READWRITE) {
    // The -wal and -shm files stay when the last connection closes (the -wal
    // emptied), so that a process that may read the store but not create
    // files beside it can still open it.
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    exec("PRAGMA journal_size_limit=0");
  }
}

void store_t::exec(const char* sql) {
  const int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail_sqlite(db_.get(), rc);
}

store_t::schema_t store_t::check_schema() {
  statement_t id(db_.get(), "PRAGMA application_id");
  const int64_t found_id = id.step() ? id.integer(0) : 0;
  statement_t version(db_.get(), "PRAGMA user_version");
  const int64_t found_version = version.step() ? version.integer(0) : 0;
  if (found_id == application_id) {
    if (found_version != schema_version) fail(ERROR_BADDB);
    return schema_t::ours;
  }
  statement_t tables(db_.get(), "SELECT count(*) FROM sqlite_master");
  const int64_t objects = tables.step() ? tables.integer(0) : 0;
  if (found_id != 0 || objects != 0) fail(ERROR_BADDB);
  return schema_t::none;
}

void store_t::commit() {
  if (!open_transaction_) return;
  exec("COMMIT");
  open_transaction_ = false;
  // Best effort: readers in the way only postpone it to a later write.
  if (access_ == access_t::write)
    sqlite3_wal_checkpoint_v2(db_.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

bool store_t::key_exists(int64_t id) {
  if (empty_) return id == root_id;
  statement_t s(db_.get(), "SELECT 1 FROM reg_keys WHERE id = ?1");
  return s.bind(1, id).step();
}

std::optional<int64_t> store_t::find_child(int64_t parent, const std::u16string& name) {
  if (empty_) return std::nullopt;
  statement_t s(db_.get(), "SELECT id FROM reg_keys WHERE parent = ?1 AND folded = ?2");
  if (!s.bind(1, parent).bind(2, folded_blob(name)).step()) return std::nullopt;
  return s.integer(0);
}

int64_t store_t::add_child(int64_t parent, const std::u16string& name) {
  statement_t s(db_.get(), "INSERT INTO reg_keys(parent, name, folded) VALUES(?1, ?2, ?3)");
  s.bind(1, parent).bind(2, name_blob(name)).bind(3, folded_blob(name)).step();
  return sqlite3_last_insert_rowid(db_.get());
}

std::optional<std::u16string> store_t::child_at(int64_t parent, uint32_t index) {
  if (empty_) return std::nullopt;
  statement_t s(db_.get(),
                "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2");
  if (!s.bind(1, parent).bind(2, static_cast<int64_t>(index)).step()) return std::nullopt;
  return s.name(0);
}

std::optional<value_t> store_t::find_value(int64_t key, const std::u16string& name) {
  if (empty_) return std::nullopt;
  statement_t s(db_.get(), "SELECT name, type, data FROM reg_values WHERE key = ?1 AND folded = ?2");
  if (!s.bind(1, key).bind(2, folded_blob(name)).step()) return std::nullopt;
  return value_of_row(s);
}

std::optional<value_t> store_t::value_at(int64_t key, uint32_t index) {
  if (empty_) return std::nullopt;
  statement_t s(db_.get(),
                "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY id"
                " LIMIT 1 OFFSET ?2");
  if (!s.bind(1, key).bind(2, static_cast<int64_t>(index)).step()) return std::nullopt;
  return value_of_row(s);
}

void store_t::set_value(int64_t key, const std::u16string& name, DWORD type, const BYTE* data,
                        size_t size) {
  // The name keeps the spelling of its first setting, as on Windows.
  statement_t s(db_.get(),
                "INSERT INTO reg_values(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
                " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type,"
                " data = excluded.data");
  const std::string bytes = size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
  s.bind(1, key).bind(2, name_blob(name)).bind(3, folded_blob(name)).bind(4, type).bind(5, bytes);
  s.step();
}

bool store_t::delete_value(int64_t key, const std::u16string& name) {
  statement_t s(db_.get(), "DELETE FROM reg_values WHERE key = ?1 AND folded = ?2");
  s.bind(1, key).bind(2, folded_blob(name)).step();
  return sqlite3_changes(db_.get()) > 0;
}

void store_t::delete_tree(int64_t id, bool keep_key) {
  const char* const tree =
      "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
      " SELECT k.id FROM reg_keys k JOIN tree t ON k.parent = t.id) ";
  // With keep_key the key loses its values too, but stays.
  const std::string values =
      std::string(tree) + "DELETE FROM reg_values WHERE key IN (SELECT id FROM tree)";
  const std::string keys = std::string(tree) +
                           "DELETE FROM reg_keys WHERE id IN"
                           " (SELECT id FROM tree WHERE ?2 = 0 OR id <> ?1)";
  statement_t(db_.get(), values.c_str()).bind(1, id).step();
  statement_t(db_.get(), keys.c_str()).bind(1, id).bind(2, keep_key ? 1 : 0).step();
}

}  // namespace plat_linux::reg
