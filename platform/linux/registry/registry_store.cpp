// The registry stand-in's SQLite store: schema, transactions, the mapping of
// SQLite results to Win32 codes, and the key and value tables.
#include "platform/linux/registry/registry_store.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <fcntl.h>
#include <locale.h>
#include <mutex>
#include <pthread.h>
#include <new>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/linux/registry/registry_api.h"
#include "platform/linux/registry/registry_generation.h"

namespace plat_linux::reg {

const char default_store_path[] = "/var/lib/shv/registry.db";

namespace {

// 'SHVR' in the file header marks a store of ours; user_version its layout.
constexpr int application_id = 0x53485652;
constexpr int schema_version = 1;
// Long enough for any writer's single-value transaction, short enough that a
// stuck peer shows as an error instead of a hang.
constexpr int busy_timeout_ms = 10000;

// Key ids are never used again, so that a handle to a deleted key stays dead
// instead of finding the next key made.
const char schema_sql[] =
    "CREATE TABLE reg_keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER, name BLOB NOT NULL,"
    " folded BLOB NOT NULL);"
    "CREATE UNIQUE INDEX reg_keys_by_name ON reg_keys(parent, folded);"
    "CREATE TABLE reg_values(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, name BLOB NOT NULL,"
    " folded BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX reg_values_by_name ON reg_values(key, folded);"
    "INSERT INTO reg_keys(id, parent, name, folded) VALUES(1, NULL, X'', X'');"
    "PRAGMA application_id = 1397249618;"
    "PRAGMA user_version = 1;";
static_assert(application_id == 1397249618);

// The marks of refuse_for_tests: triggers named with this prefix.
constexpr char test_refusal_prefix[] = "shv_test_refusal_";

LONG code_of(int rc, int system_errno) {
  // Only the tests' refusals raise in a trigger: refused as by a key's
  // security.
  if (rc == SQLITE_CONSTRAINT_TRIGGER) return ERROR_ACCESS_DENIED;
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
  std::string out(name.size() * 2, '\0');
  char* at = out.data();
  for (char16_t c : name) {
    char16_t u = c;
    if (c < 0x80) {
      if (c >= u'a' && c <= u'z') u = static_cast<char16_t>(c - 0x20);
    } else if ((c < 0xD800 || c > 0xDFFF) && locale != static_cast<locale_t>(0)) {
      const wint_t upper = towupper_l(static_cast<wint_t>(c), locale);
      if (upper <= 0xFFFF && (upper < 0xD800 || upper > 0xDFFF)) u = static_cast<char16_t>(upper);
    }
    *at++ = static_cast<char>(u >> 8);
    *at++ = static_cast<char>(u & 0xFF);
  }
  return out;
}

std::string name_blob(const std::u16string& name) {
  std::string out(name.size() * 2, '\0');
  char* at = out.data();
  for (char16_t c : name) {
    *at++ = static_cast<char>(c & 0xFF);
    *at++ = static_cast<char>(c >> 8);
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

// One of the connection's kept statements, borrowed for one use and reset
// after it; every step's failure becomes failure_t.
class statement_t {
 public:
  statement_t(connection_t& connection, const char* sql) : db_(connection.db()) {
    int rc = SQLITE_OK;
    stmt_ = connection.statement(sql, &rc);
    if (stmt_ == nullptr) fail_sqlite(db_, rc);
  }
  ~statement_t() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
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

// The outcome of the last permission check, kept while the file, its mode
// and owners (its change time) and the caller's identity stay the same: the
// two checks are most of what a read call costs the system.
struct access_memo_t {
  std::mutex lock;
  std::string path;
  file_identity_t identity;
  uid_t uid = 0;
  gid_t gid = 0;
  bool readable = false;
  bool writable = false;
  bool valid = false;
};

access_memo_t& access_memo() {
  static auto* memo = new access_memo_t;  // outlives static destructors that use the registry
  return *memo;
}

// The caller's effective user and group, taken once: the programs that use
// the store do not change theirs while they use it. A forked child takes
// them again, since it may change them before it goes on.
struct credentials_t {
  uid_t uid;
  gid_t gid;
};
constexpr uint64_t unknown_credentials = ~uint64_t{0};
std::atomic<uint64_t> packed_credentials{unknown_credentials};

void forget_credentials() { packed_credentials.store(unknown_credentials); }

credentials_t credentials() {
  static const int registered = pthread_atfork(nullptr, nullptr, &forget_credentials);
  (void)registered;
  uint64_t packed = packed_credentials.load();
  if (packed == unknown_credentials) {
    packed = (uint64_t{geteuid()} << 32) | getegid();
    packed_credentials.store(packed);
  }
  return credentials_t{static_cast<uid_t>(packed >> 32), static_cast<gid_t>(packed & 0xFFFFFFFFu)};
}

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
  const credentials_t caller = credentials();
  const uid_t uid = caller.uid;
  const gid_t gid = caller.gid;
  access_memo_t& memo = access_memo();
  {
    std::lock_guard<std::mutex> guard(memo.lock);
    if (memo.valid && memo.uid == uid && memo.gid == gid && memo.identity == state.identity &&
        memo.path == path) {
      state.readable = memo.readable;
      state.writable = memo.writable;
      return state;
    }
  }
  state.readable = (st.st_mode & 0444) != 0 && faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0;
  state.writable = (st.st_mode & 0222) != 0 && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
  std::lock_guard<std::mutex> guard(memo.lock);
  memo.path = path;
  memo.identity = state.identity;
  memo.uid = uid;
  memo.gid = gid;
  memo.readable = state.readable;
  memo.writable = state.writable;
  memo.valid = true;
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
  if (access == access_t::handle_read) {
    // The counter is read before anything else: answers kept under it were
    // read no earlier than it was.
    if (const std::optional<uint64_t> generation = mapped_generation(path)) {
      memo_ = memo_view_t::if_current(path, *generation);
      if (memo_.holds_answers()) return;  // the file is looked at on the first miss
    }
  }
  if (access == access_t::write) {
    read_begun_ = true;  // a writer reads in its own transaction
    const file_state_t state = file_state(path);
    if (state.exists && !state.readable) fail(ERROR_ACCESS_DENIED);
    if (state.exists && !state.writable) fail(ERROR_ACCESS_DENIED);
    if (!state.exists) create_parent_directories(path);
    open_file(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
              state.exists ? &state.identity : nullptr);
    // Another program's file is refused before anything is changed in it.
    check_schema();
    use_wal();
    exec("BEGIN IMMEDIATE");
    open_transaction_ = true;
    if (check_schema() == schema_t::none) {
      const int rc = sqlite3_exec(connection_->db(), schema_sql, nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) fail_sqlite(connection_->db(), rc);
    }
    return;
  }
  look_at_file();
  if (empty_) return;
  if (const std::optional<uint64_t> generation = current_generation(path, read_identity_))
    memo_ = memo_view_t(path, *generation, read_identity_);
}

void store_t::look_at_file() {
  if (file_seen_) return;
  file_seen_ = true;
  const file_state_t state = file_state(path_);
  if (state.exists && !state.readable) fail(ERROR_ACCESS_DENIED);
  if (!state.exists) {
    empty_ = true;
    read_begun_ = true;
    memo_ = memo_view_t();
    return;
  }
  read_identity_ = state.identity;
  // A file replaced since the answers were read: none of them is used again.
  if (memo_.holds_answers() && !(memo_.identity() == state.identity)) memo_ = memo_view_t();
}

void store_t::begin_read() {
  look_at_file();
  if (read_begun_) return;
  read_begun_ = true;
  // A reader never checkpoints: that stays with the writers, off the
  // validator's path.
  open_file(path_, SQLITE_OPEN_READONLY, &read_identity_);
  exec("BEGIN");
  open_transaction_ = true;
  empty_ = check_schema() == schema_t::none;
}

store_t::~store_t() {
  // A read call that failed (a key not found, mostly) leaves a connection as
  // good as any: ended here, it goes back for the next call.
  if (connection_ != nullptr && open_transaction_ && access_ != access_t::write &&
      sqlite3_exec(connection_->db(), "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK)
    open_transaction_ = false;
  if (connection_ != nullptr && !open_transaction_)
    give_back_connection(path_, flags_, std::move(connection_),
                         access_ != access_t::write ? &read_identity_ : nullptr);
}

void store_t::open_file(const std::string& path, int flags, const file_identity_t* identity) {
  flags_ = flags;
  if (identity != nullptr) {
    connection_ = take_connection(path, flags, *identity);
    if (connection_ != nullptr) return;
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  try {
    connection_ = std::make_unique<connection_t>(db);
  } catch (...) {
    sqlite3_close_v2(db);
    throw;
  }
  // A failed open still hands out a connection to close.
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

void store_t::use_wal() {
  // WAL lets the validator read while the configurator writes. The mode is
  // kept in the file, so only the first writer changes it; writers racing on
  // a new file find the change refused at once (the library does not wait
  // there, lest it deadlock), so they wait here, as long as for any lock.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busy_timeout_ms);
  for (;;) {
    try {
      exec("PRAGMA journal_mode=WAL");
      return;
    } catch (const failure_t& failure) {
      if (failure.code != ERROR_BUSY || std::chrono::steady_clock::now() >= deadline) throw;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void store_t::exec(const char* sql) {
  statement_t s(*connection_, sql);
  while (s.step()) {
  }
}

store_t::schema_t store_t::check_schema() {
  if (connection_->schema_seen) return schema_t::ours;
  statement_t id(*connection_, "PRAGMA application_id");
  const int64_t found_id = id.step() ? id.integer(0) : 0;
  statement_t version(*connection_, "PRAGMA user_version");
  const int64_t found_version = version.step() ? version.integer(0) : 0;
  if (found_id == application_id) {
    if (found_version != schema_version) fail(ERROR_BADDB);
    connection_->schema_seen = true;
    return schema_t::ours;
  }
  statement_t tables(*connection_, "SELECT count(*) FROM sqlite_master");
  const int64_t objects = tables.step() ? tables.integer(0) : 0;
  if (found_id != 0 || objects != 0) fail(ERROR_BADDB);
  return schema_t::none;
}

void store_t::commit() {
  if (!open_transaction_) return;
  exec("COMMIT");
  open_transaction_ = false;
  if (access_ != access_t::write) return;
  // Best effort: readers in the way only postpone it to a later write.
  sqlite3_wal_checkpoint_v2(connection_->db(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  raise_generation(path_);
  forget_answers(path_);
}

bool store_t::key_exists(int64_t id) {
  if (const std::optional<bool> known = memo_.key_exists(id)) return *known;
  begin_read();
  if (empty_) return id == root_id;
  statement_t s(*connection_, "SELECT 1 FROM reg_keys WHERE id = ?1");
  const bool exists = s.bind(1, id).step();
  memo_.keep_key_exists(id, exists);
  return exists;
}

std::optional<int64_t> store_t::find_child(int64_t parent, const std::u16string& name) {
  const std::string folded = folded_blob(name);
  if (const auto known = memo_.child(parent, folded)) return *known;
  begin_read();
  if (empty_) return std::nullopt;
  statement_t s(*connection_, "SELECT id FROM reg_keys WHERE parent = ?1 AND folded = ?2");
  const std::optional<int64_t> child =
      s.bind(1, parent).bind(2, folded).step() ? std::optional<int64_t>(s.integer(0)) : std::nullopt;
  memo_.keep_child(parent, folded, child);
  return child;
}

int64_t store_t::add_child(int64_t parent, const std::u16string& name) {
  statement_t s(*connection_, "INSERT INTO reg_keys(parent, name, folded) VALUES(?1, ?2, ?3)");
  s.bind(1, parent).bind(2, name_blob(name)).bind(3, folded_blob(name)).step();
  return sqlite3_last_insert_rowid(connection_->db());
}

std::optional<std::u16string> store_t::child_at(int64_t parent, uint32_t index) {
  begin_read();
  if (empty_) return std::nullopt;
  statement_t s(*connection_,
                "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2");
  if (!s.bind(1, parent).bind(2, static_cast<int64_t>(index)).step()) return std::nullopt;
  return s.name(0);
}

std::optional<value_t> store_t::find_value(int64_t key, const std::u16string& name) {
  const std::string folded = folded_blob(name);
  if (auto known = memo_.value(key, folded)) return std::move(*known);
  begin_read();
  if (empty_) return std::nullopt;
  statement_t s(*connection_, "SELECT name, type, data FROM reg_values WHERE key = ?1 AND folded = ?2");
  const std::optional<value_t> value =
      s.bind(1, key).bind(2, folded).step() ? std::optional<value_t>(value_of_row(s)) : std::nullopt;
  memo_.keep_value(key, folded, value);
  return value;
}

std::optional<value_t> store_t::value_at(int64_t key, uint32_t index) {
  begin_read();
  if (empty_) return std::nullopt;
  statement_t s(*connection_,
                "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY id"
                " LIMIT 1 OFFSET ?2");
  if (!s.bind(1, key).bind(2, static_cast<int64_t>(index)).step()) return std::nullopt;
  return value_of_row(s);
}

void store_t::set_value(int64_t key, const std::u16string& name, DWORD type, const BYTE* data,
                        size_t size) {
  // The name keeps the spelling of its first setting, as on Windows.
  statement_t s(*connection_,
                "INSERT INTO reg_values(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
                " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type,"
                " data = excluded.data");
  const std::string bytes = size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
  s.bind(1, key).bind(2, name_blob(name)).bind(3, folded_blob(name)).bind(4, type).bind(5, bytes);
  s.step();
}

bool store_t::delete_value(int64_t key, const std::u16string& name) {
  statement_t s(*connection_, "DELETE FROM reg_values WHERE key = ?1 AND folded = ?2");
  s.bind(1, key).bind(2, folded_blob(name)).step();
  return sqlite3_changes(connection_->db()) > 0;
}

void store_t::delete_tree(int64_t id, bool keep_key) {
  const char* const tree =
      "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
      " SELECT k.id FROM reg_keys k JOIN tree t ON k.parent = t.id) ";
  // With keep_key the key loses its values too, but stays.
  // Built once: the connection keeps its statements by their text's address.
  static const std::string values =
      std::string(tree) + "DELETE FROM reg_values WHERE key IN (SELECT id FROM tree)";
  static const std::string keys = std::string(tree) +
                           "DELETE FROM reg_keys WHERE id IN"
                           " (SELECT id FROM tree WHERE ?2 = 0 OR id <> ?1)";
  statement_t(*connection_, values.c_str()).bind(1, id).step();
  statement_t(*connection_, keys.c_str()).bind(1, id).bind(2, keep_key ? 1 : 0).step();
}

void store_t::add_test_refusal(refusal_t what, const std::u16string& value_name) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : folded_blob(value_name)) {
    hex += digits[(static_cast<unsigned char>(c) >> 4) & 0xF];
    hex += digits[static_cast<unsigned char>(c) & 0xF];
  }
  // The statement and the row it names. An upsert fires the insert trigger,
  // and the update one on a conflict.
  using event_t = std::pair<const char*, const char*>;
  const std::vector<event_t> events = what == refusal_t::set ? std::vector<event_t>{{"INSERT", "NEW"}, {"UPDATE", "NEW"}}
                                                             : std::vector<event_t>{{"DELETE", "OLD"}};
  for (const auto& [statement, row] : events) {
    const std::string sql = std::string("CREATE TRIGGER IF NOT EXISTS ") + test_refusal_prefix + statement + "_" + hex +
                            " BEFORE " + statement + " ON reg_values WHEN " + row + ".folded = X'" + hex +
                            "' BEGIN SELECT RAISE(ABORT, 'refused by a test'); END";
    // Not through the connection's statement cache: it keeps lifelong texts.
    const int rc = sqlite3_exec(connection_->db(), sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail_sqlite(connection_->db(), rc);
  }
}

void store_t::lift_test_refusals() {
  std::vector<std::string> names;
  {
    statement_t s(*connection_, "SELECT name FROM sqlite_master WHERE type = 'trigger'");
    while (s.step()) {
      const std::string name = s.blob(0);
      if (name.rfind(test_refusal_prefix, 0) == 0) names.push_back(name);
    }
  }
  for (const std::string& name : names) {
    const int rc = sqlite3_exec(connection_->db(), ("DROP TRIGGER " + name).c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail_sqlite(connection_->db(), rc);
  }
}

void refuse_for_tests(const std::string& path, store_t::refusal_t what, const std::u16string& value_name) {
  store_t store(path, store_t::access_t::write);
  store.add_test_refusal(what, value_name);
  store.commit();
}

void lift_test_refusals(const std::string& path) {
  store_t store(path, store_t::access_t::write);
  store.lift_test_refusals();
  store.commit();
}

}  // namespace plat_linux::reg
