// The registry stand-in's store: one SQLite file with the key tree and the
// values, opened for one call and one transaction.
//
// The file is named by the environment variable SHV_REGISTRY, read afresh by
// every call that needs the store. Without it the store is the system-wide
// /var/lib/shv/registry.db: the validator (run by the network policy service)
// and the configurator (run by an administrator) are different processes,
// often of different users, and must meet in one machine-wide key, as they do
// in HKEY_LOCAL_MACHINE on Windows. The directory is created on the first
// write.
//
// Permissions play the part of the key's security: a process that may not read
// the file gets ERROR_ACCESS_DENIED on every call from a root key (reads
// through an open key keep the rights it opened with, as on Windows), one that
// may not write it gets ERROR_ACCESS_DENIED on every change and on opening a
// key for writing. A
// file without any write (read) permission bit counts as not writable
// (readable) for root as well, as the read-only attribute binds administrators
// on Windows. A file that is not a store of ours, or is damaged, gives
// ERROR_BADDB and is left untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/registry/registry_memo.h"
#include "platform/linux/registry/registry_pool.h"
#include "platform/linux/win32_types.h"

namespace plat_linux::reg {

extern const char default_store_path[];

// A call that fails with a Win32 result code; caught at the call's boundary.
struct failure_t {
  LONG code;
};
[[noreturn]] void fail(LONG code);

// $SHV_REGISTRY when set and not empty, else default_store_path.
std::string current_store_path();

// Whether this process may change the file at path (true for a missing file,
// which a write creates); throws failure_t when the file may not be read.
bool store_writable(const std::string& path);

struct value_t {
  std::u16string name;
  DWORD type = 0;
  std::string data;
};

class store_t {
 public:
  // handle_read: a read through an open key, whose rights were checked when
  // it opened; while the memo can answer, the file is not looked at.
  enum class access_t { read, handle_read, write };
  static constexpr int64_t root_id = 1;  // HKEY_LOCAL_MACHINE

  // Opens the file and begins the call's transaction (an immediate one for
  // write access, so that writers queue instead of failing on upgrade). Read
  // access to a missing or empty file yields an empty store. A read call
  // answers from the store's memo where it can, and opens the file only for
  // what the memo does not hold.
  store_t(const std::string& path, access_t access);
  // Rolls back unless committed; a committed call leaves its connection
  // idle for the next one.
  ~store_t();
  store_t(const store_t&) = delete;
  store_t& operator=(const store_t&) = delete;

  // Ends the call's transaction; after a write the file takes in the change
  // at once (a passive checkpoint), so a copy of it alone is up to date, and
  // the store's change counter moves on.
  void commit();

  bool key_exists(int64_t id);
  std::optional<int64_t> find_child(int64_t parent, const std::u16string& name);
  int64_t add_child(int64_t parent, const std::u16string& name);
  // The index-th sub-key in the order of the upper-cased names.
  std::optional<std::u16string> child_at(int64_t parent, uint32_t index);
  std::optional<value_t> find_value(int64_t key, const std::u16string& name);
  // The index-th value in the order of first setting.
  std::optional<value_t> value_at(int64_t key, uint32_t index);
  void set_value(int64_t key, const std::u16string& name, DWORD type, const BYTE* data,
                 size_t size);
  bool delete_value(int64_t key, const std::u16string& name);
  // Deletes the sub-keys and values below id, and id itself unless keep_key.
  void delete_tree(int64_t id, bool keep_key);

  // For tests only (see refuse_for_tests): a refusal written into the file,
  // and all of them lifted.
  enum class refusal_t { set, remove };
  void add_test_refusal(refusal_t what, const std::u16string& value_name);
  void lift_test_refusals();

 private:
  enum class schema_t { ours, none };

  // Checks the file and takes its identity, for a read call.
  void look_at_file();
  // Opens the read call's transaction when it has not yet.
  void begin_read();
  // Takes an idle connection to the file when one is still good for it.
  void open_file(const std::string& path, int flags, const file_identity_t* identity);
  // Fails with ERROR_BADDB for a file that is not a store of ours.
  schema_t check_schema();
  // Puts the file in WAL mode, waiting out writers that race on a new file.
  void use_wal();
  // Runs one statement of a lifelong string through the connection's cache.
  void exec(const char* sql);

  std::string path_;
  int flags_ = 0;
  access_t access_;
  std::unique_ptr<connection_t> connection_;  // closing it rolls back
  bool empty_ = false;  // read access to a file without our tables
  bool open_transaction_ = false;
  file_identity_t read_identity_;  // of the file a read call opened
  bool read_begun_ = false;
  bool file_seen_ = false;  // read_identity_ and the permissions checked
  memo_view_t memo_;
};

// For tests only. The stand-in keeps no rights per key or value, so a test
// that needs one value's change refused while the others go through marks it
// in the store file itself: from then on every call of any process that sets
// (refusal_t::set) or removes (refusal_t::remove, also with its key) a value
// of that name, in any key, fails with ERROR_ACCESS_DENIED and changes
// nothing, until lift_test_refusals. The file is made when missing.
void refuse_for_tests(const std::string& path, store_t::refusal_t what, const std::u16string& value_name);
void lift_test_refusals(const std::string& path);

}  // namespace plat_linux::reg
