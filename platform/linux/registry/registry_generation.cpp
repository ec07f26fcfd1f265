// The store's change counter: a file mapped into every process that uses the
// store, read and raised with atomic operations on the mapping, so that
// reading it costs no call into the system. Writers only ever grow the file;
// like the store's own shared-memory index, which the database library maps
// the same way, it must not be cut short behind the processes' backs.
#include "platform/linux/registry/registry_generation.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat_linux::reg {

namespace {

constexpr size_t max_mapped_counters = 16;
constexpr size_t counter_size = sizeof(uint64_t);

std::string counter_path(const std::string& path) { return path + "-gen"; }

// The counter of the file fd, mapped with prot; null when the file is too
// short to hold one or cannot be mapped.
uint64_t* map_counter(int fd, int prot) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(counter_size)) return nullptr;
  void* at = mmap(nullptr, counter_size, prot, MAP_SHARED, fd, 0);
  return at == MAP_FAILED ? nullptr : static_cast<uint64_t*>(at);
}

// A counter mapped for reading, with the store file it was mapped beside: a
// store replaced by another file gets its counter mapped afresh.
struct mapped_counter_t {
  const uint64_t* counter;
  dev_t device;
  ino_t inode;
};

struct counters_t {
  std::mutex lock;  // also held while reading, so that no mapping goes meanwhile
  std::map<std::string, mapped_counter_t> mapped;
};

counters_t& counters() {
  static auto* instance = new counters_t;  // outlives static destructors that use the registry
  return *instance;
}

void unmap(const mapped_counter_t& mapped) {
  munmap(const_cast<uint64_t*>(mapped.counter), counter_size);
}

}  // namespace

std::optional<uint64_t> current_generation(const std::string& path, const file_identity_t& identity) {
  counters_t& c = counters();
  std::lock_guard<std::mutex> guard(c.lock);
  auto found = c.mapped.find(path);
  if (found != c.mapped.end() &&
      (found->second.device != identity.device || found->second.inode != identity.inode)) {
    unmap(found->second);
    c.mapped.erase(found);
    found = c.mapped.end();
  }
  if (found == c.mapped.end()) {
    const int fd = ::open(counter_path(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const uint64_t* counter = map_counter(fd, PROT_READ);
    ::close(fd);
    if (counter == nullptr) return std::nullopt;
    if (c.mapped.size() >= max_mapped_counters) {
      unmap(c.mapped.begin()->second);
      c.mapped.erase(c.mapped.begin());
    }
    try {
      found = c.mapped.emplace(path, mapped_counter_t{counter, identity.device, identity.inode}).first;
    } catch (...) {
      munmap(const_cast<uint64_t*>(counter), counter_size);
      return std::nullopt;
    }
  }
  return __atomic_load_n(found->second.counter, __ATOMIC_ACQUIRE);
}

std::optional<uint64_t> mapped_generation(const std::string& path) {
  counters_t& c = counters();
  std::lock_guard<std::mutex> guard(c.lock);
  const auto found = c.mapped.find(path);
  if (found == c.mapped.end()) return std::nullopt;
  return __atomic_load_n(found->second.counter, __ATOMIC_ACQUIRE);
}

void raise_generation(const std::string& path) {
  const std::string counter_file = counter_path(path);
  int fd = ::open(counter_file.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    // A new counter may be changed by whoever may change the store.
    fd = ::open(counter_file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    struct stat store;
    if (fd >= 0 && stat(path.c_str(), &store) == 0) (void)fchmod(fd, store.st_mode & 0666);
    if (fd < 0 && errno == EEXIST) fd = ::open(counter_file.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) return;
  struct stat st;
  // A new file grows to hold the counter (zero); an existing one never shrinks.
  if (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(counter_size))
    (void)ftruncate(fd, counter_size);
  if (uint64_t* counter = map_counter(fd, PROT_READ | PROT_WRITE)) {
    __atomic_add_fetch(counter, 1, __ATOMIC_SEQ_CST);
    munmap(counter, counter_size);
  }
  ::close(fd);
}

}  // namespace plat_linux::reg
