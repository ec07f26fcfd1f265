// The per-store answer memo: one lock per store, a reset (a new era) whenever
// the store's counter or file moved on, a bound on what it holds.
#include "platform/linux/registry/registry_memo.h"

#include <chrono>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/linux/registry/registry_store.h"

namespace plat_linux::reg {

namespace {

constexpr auto max_age = std::chrono::seconds(2);
constexpr size_t max_answers = 4096;  // of each kind, per store
constexpr size_t max_stores = 16;      // past this, memos no call holds go

using clock_t_ = std::chrono::steady_clock;

// "<id>/<folded name bytes>": the lookups' keys.
std::string key_of(int64_t id, const std::string& folded) {
  std::string key = std::to_string(id);
  key += '/';
  key += folded;
  return key;
}

}  // namespace

struct memo_t {
  std::mutex lock;
  uint64_t era = 0;
  uint64_t generation = 0;
  file_identity_t identity;
  clock_t_::time_point began{};
  std::unordered_map<std::string, std::optional<int64_t>> children;
  std::unordered_map<int64_t, bool> keys;
  std::unordered_map<std::string, std::optional<value_t>> values;

  void reset() {
    ++era;
    children.clear();
    keys.clear();
    values.clear();
  }
};

namespace {

struct memos_t {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<memo_t>> by_path;
};

memos_t& memos() {
  static auto* instance = new memos_t;  // outlives static destructors that use the registry
  return *instance;
}

std::shared_ptr<memo_t> memo_of(const std::string& path) {
  memos_t& m = memos();
  std::lock_guard<std::mutex> guard(m.lock);
  const auto found = m.by_path.find(path);
  if (found != m.by_path.end()) return found->second;
  if (m.by_path.size() >= max_stores) {
    for (auto it = m.by_path.begin(); it != m.by_path.end();)
      it = it->second.use_count() == 1 ? m.by_path.erase(it) : std::next(it);
  }
  return m.by_path.emplace(path, std::make_shared<memo_t>()).first->second;
}

template <class Map, class Key>
auto answer(const std::shared_ptr<memo_t>& memo, uint64_t era, const Map& map, const Key& key)
    -> std::optional<typename Map::mapped_type> {
  if (memo == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> guard(memo->lock);
  if (memo->era != era) return std::nullopt;
  const auto found = map.find(key);
  if (found == map.end()) return std::nullopt;
  return found->second;
}

template <class Map, class Key, class Value>
void keep(const std::shared_ptr<memo_t>& memo, uint64_t era, Map& map, const Key& key, const Value& value) {
  if (memo == nullptr) return;
  std::lock_guard<std::mutex> guard(memo->lock);
  if (memo->era != era || map.size() >= max_answers) return;
  map.insert_or_assign(key, value);
}

}  // namespace

memo_view_t::memo_view_t(const std::string& path, uint64_t generation, const file_identity_t& identity)
    : memo_(memo_of(path)) {
  const auto now = clock_t_::now();
  std::lock_guard<std::mutex> guard(memo_->lock);
  if (memo_->generation != generation || !(memo_->identity == identity) || now - memo_->began > max_age) {
    memo_->reset();
    memo_->generation = generation;
    memo_->identity = identity;
    memo_->began = now;
  }
  era_ = memo_->era;
  identity_ = identity;
}

memo_view_t memo_view_t::if_current(const std::string& path, uint64_t generation) {
  memo_view_t view;
  std::shared_ptr<memo_t> memo = memo_of(path);
  std::lock_guard<std::mutex> guard(memo->lock);
  if (memo->era == 0 || memo->generation != generation || clock_t_::now() - memo->began > max_age)
    return view;
  view.era_ = memo->era;
  view.identity_ = memo->identity;
  view.memo_ = std::move(memo);
  return view;
}

std::optional<std::optional<int64_t>> memo_view_t::child(int64_t parent, const std::string& folded) const {
  if (memo_ == nullptr) return std::nullopt;
  return answer(memo_, era_, memo_->children, key_of(parent, folded));
}

std::optional<bool> memo_view_t::key_exists(int64_t id) const {
  if (memo_ == nullptr) return std::nullopt;
  return answer(memo_, era_, memo_->keys, id);
}

std::optional<std::optional<value_t>> memo_view_t::value(int64_t key, const std::string& folded) const {
  if (memo_ == nullptr) return std::nullopt;
  return answer(memo_, era_, memo_->values, key_of(key, folded));
}

void memo_view_t::keep_child(int64_t parent, const std::string& folded, std::optional<int64_t> id) const {
  if (memo_ == nullptr) return;
  keep(memo_, era_, memo_->children, key_of(parent, folded), id);
}

void memo_view_t::keep_key_exists(int64_t id, bool exists) const {
  if (memo_ == nullptr) return;
  keep(memo_, era_, memo_->keys, id, exists);
}

void memo_view_t::keep_value(int64_t key, const std::string& folded, const std::optional<value_t>& value) const {
  if (memo_ == nullptr) return;
  keep(memo_, era_, memo_->values, key_of(key, folded), value);
}

void forget_answers(const std::string& path) {
  const std::shared_ptr<memo_t> memo = memo_of(path);
  std::lock_guard<std::mutex> guard(memo->lock);
  memo->reset();
}

}  // namespace plat_linux::reg
