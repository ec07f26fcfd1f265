// The pool of idle registry store connections: a few, process-wide, never
// carried into a forked child.
#include "platform/linux/registry/registry_pool.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat_linux::reg {

namespace {

constexpr size_t max_idle = 8;

struct idle_t {
  std::string path;
  int flags;
  file_identity_t identity;
  std::unique_ptr<connection_t> connection;
};

// Raised in a fork's child, where only the forking thread lives on: the
// handler may take no lock, so the pool looks at the flag on its next use.
std::atomic<bool> forked{false};
void mark_forked() { forked.store(true); }

struct pool_t {
  pool_t() { pthread_atfork(nullptr, nullptr, &mark_forked); }
  std::mutex lock;
  std::deque<idle_t> idle;  // oldest first
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
  if (!forked.exchange(false)) return;
  for (idle_t& idle : p.idle) (void)idle.connection.release();
  p.idle.clear();
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

std::unique_ptr<connection_t> take_connection(const std::string& path, int flags,
                                              const file_identity_t& identity) {
  // Closed outside the lock, as the caller's own connection is.
  std::deque<std::unique_ptr<connection_t>> stale;
  std::unique_ptr<connection_t> found;
  {
    pool_t& p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    forget_if_forked(p);
    for (auto it = p.idle.begin(); it != p.idle.end();) {
      if (it->path != path) {
        ++it;
      } else if (!(it->identity == identity)) {
        stale.push_back(std::move(it->connection));
        it = p.idle.erase(it);
      } else if (found == nullptr && it->flags == flags) {
        found = std::move(it->connection);
        it = p.idle.erase(it);
      } else {
        ++it;
      }
    }
  }
  return found;
}

void give_back_connection(const std::string& path, int flags,
                          std::unique_ptr<connection_t> connection,
                          const file_identity_t* unchanged_identity) {
  const std::optional<file_identity_t> identity =
      unchanged_identity != nullptr ? std::optional<file_identity_t>(*unchanged_identity) : identity_of(path);
  if (!identity || sqlite3_get_autocommit(connection->db()) == 0) return;
  std::unique_ptr<connection_t> evicted;
  {
    pool_t& p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    forget_if_forked(p);
    try {
      p.idle.push_back(idle_t{path, flags, *identity, std::move(connection)});
    } catch (...) {
      return;  // the connection went with the element that failed to go in
    }
    if (p.idle.size() > max_idle) {
      evicted = std::move(p.idle.front().connection);
      p.idle.pop_front();
    }
  }
}

}  // namespace plat_linux::reg
