// Idle connections to registry store files, kept between calls: a call that
// finds one skips rebuilding the store's shared WAL index, which a lone new
// connection has to do from the files on every open.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

#include "platform/linux/registry/registry_connection.h"

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
// or null.
std::unique_ptr<connection_t> take_connection(const std::string& path, int flags,
                                              const file_identity_t& identity);
// Keeps a connection (outside any transaction, its statements reset) for a
// later call, or closes it when the file is gone or enough are idle. A call
// that changed nothing passes the identity it opened the file with, which
// saves looking again: a file changed meanwhile fails the next take's check.
void give_back_connection(const std::string& path, int flags,
                          std::unique_ptr<connection_t> connection,
                          const file_identity_t* unchanged_identity);

}  // namespace plat_linux::reg
