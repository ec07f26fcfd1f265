// Idle connections to registry store files, kept between calls: a call that
// finds one skips rebuilding the store's shared WAL index, which a lone new
// connection has to do from the files on every open.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>

struct sqlite3;

namespace plat_linux::reg {

// What tells a file apart from the one a connection was opened on: a file
// replaced, rewritten in place, checkpointed into or given other permissions
// has another identity, and its idle connections are not used again.
struct file_identity_t {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  bool operator==(const file_identity_t& other) const;
};

std::optional<file_identity_t> identity_of(const std::string& path);

// An idle connection to path opened with flags while the file was identity,
// or null. The caller owns it.
sqlite3* take_connection(const std::string& path, int flags, const file_identity_t& identity);
// Keeps db (outside any transaction) for a later call, or closes it when the
// file is gone or enough connections are idle.
void give_back_connection(const std::string& path, int flags, sqlite3* db);

}  // namespace plat_linux::reg
