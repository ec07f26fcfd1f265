// Answers of earlier read calls (which key a name leads to, whether a key is
// there, what a value holds), kept per store for as long as they still hold:
// the validator reads the same few keys and values for every request, and a
// lookup here costs a fraction of a transaction on the file.
//
// Answers hold while the store's change counter, the file's identity and the
// process's own writes leave them alone, and for two seconds at most: the
// bound for a change whose writer could not raise the counter.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/registry/registry_pool.h"

namespace plat_linux::reg {

struct value_t;
struct memo_t;

// One call's access to its store's answers. Answers read by the call are
// kept only if nothing changed the store since the call began.
class memo_view_t {
 public:
  // A view that holds nothing and keeps nothing.
  memo_view_t() = default;
  // Binds to the answers of path valid under generation and identity, both
  // taken before the call reads anything from the file.
  memo_view_t(const std::string& path, uint64_t generation, const file_identity_t& identity);
  // Binds to the answers of path if they still hold under generation for the
  // file they were read from, without looking at the file; holds nothing
  // otherwise.
  static memo_view_t if_current(const std::string& path, uint64_t generation);

  bool holds_answers() const { return memo_ != nullptr; }
  // The identity of the file the answers were read from.
  file_identity_t identity() const { return identity_; }

  // Answer found: the outer optional is engaged.
  std::optional<std::optional<int64_t>> child(int64_t parent, const std::string& folded) const;
  std::optional<bool> key_exists(int64_t id) const;
  std::optional<std::optional<value_t>> value(int64_t key, const std::string& folded) const;

  void keep_child(int64_t parent, const std::string& folded, std::optional<int64_t> id) const;
  void keep_key_exists(int64_t id, bool exists) const;
  void keep_value(int64_t key, const std::string& folded, const std::optional<value_t>& value) const;

 private:
  std::shared_ptr<memo_t> memo_;
  uint64_t era_ = 0;  // of the answers this view may read and add to
  file_identity_t identity_;
};

// Drops every answer about path: this process has just changed the store.
void forget_answers(const std::string& path);

}  // namespace plat_linux::reg
