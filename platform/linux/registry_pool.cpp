// The pool of idle registry store connections: a few, process-wide, never
// carried into a forked child.
#include "platform/linux/registry_pool.h"

#include <deque>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat_linux::reg {

namespace {

constexpr size_t max_idle = 8;

struct idle_t {
  std::string path;
  int flags;
  file_identity_t identity;
  sqlite3* db;
};

struct pool_t {
  std::mutex lock;
  std::deque<idle_t> idle;  // oldest first
  pid_t owner = getpid();
};

pool_t& pool() {
  static auto* instance = new pool_t;  // outlives static destructors that use the registry
  return *instance;
}

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A child of fork must not use its parent's connections (their locks are the
// parent's); they are dropped without closing, which could disturb the parent.
void forget_if_forked(pool_t& p) {
  if (p.owner == getpid()) return;
  p.idle.clear();
  p.owner = getpid();
}

}  // namespace

bool file_identity_t::operator==(const file_identity_t& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         same_time(modified, other.modified) && same_time(changed, other.changed);
}

std::optional<file_identity_t> identity_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  file_identity_t identity;
  identity.device = st.st_dev;
  identity.inode = st.st_ino;
  identity.size = st.st_size;
  identity.modified = st.st_mtim;
  identity.changed = st.st_ctim;
  return identity;
}

sqlite3* take_connection(const std::string& path, int flags, const file_identity_t& identity) {
  std::deque<sqlite3*> stale;
  sqlite3* found = nullptr;
  {
    pool_t& p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    forget_if_forked(p);
    for (auto it = p.idle.begin(); it != p.idle.end();) {
      if (it->path != path) {
        ++it;
      } else if (!(it->identity == identity)) {
        stale.push_back(it->db);
        it = p.idle.erase(it);
      } else if (found == nullptr && it->flags == flags) {
        found = it->db;
        it = p.idle.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (sqlite3* db : stale) sqlite3_close_v2(db);
  return found;
}

void give_back_connection(const std::string& path, int flags, sqlite3* db) {
  const std::optional<file_identity_t> identity = identity_of(path);
  if (!identity || sqlite3_get_autocommit(db) == 0) {
    sqlite3_close_v2(db);
    return;
  }
  sqlite3* evicted = nullptr;
  {
    pool_t& p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    forget_if_forked(p);
    try {
      p.idle.push_back(idle_t{path, flags, *identity, db});
    } catch (...) {
      evicted = db;
    }
    if (evicted == nullptr && p.idle.size() > max_idle) {
      evicted = p.idle.front().db;
      p.idle.pop_front();
    }
  }
  if (evicted != nullptr) sqlite3_close_v2(evicted);
}

}  // namespace plat_linux::reg
