// net2::request_queue: an ordered list of byte chunks, each owned or borrowed,
// each able to report its completion through a callback when it goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "kern/types.h"

namespace net2 {

class request_queue : public noncopyable_t {
 public:
  class request : public noncopyable_t {
   public:
    typedef std::function<void(bool)> completion_t;
    enum kind_t { const_buf_ssl = 0, owned_string = 1, kind_count = 2 };

    // Borrows size bytes at data (the caller keeps them alive until the
    // callback runs); the callback gets whether the request was completed.
    static std::unique_ptr<request> wrap_const_buf_ssl(const void* data, uint64_t size,
                                                      completion_t callback);
    // Takes the string's contents over (the caller's string is left empty).
    static std::unique_ptr<request> take_string(std::string& data, completion_t callback = {});

    // Runs the completion callback; its failure is logged, never thrown.
    ~request();

    const char* data() const { return data_; }
    uint64_t size() const { return size_; }
    kind_t kind() const { return kind_; }
    // Marks the chunk as delivered: the callback will be told true.
    void set_done() { done_ = true; }

    static const char* kind_name(kind_t kind);
    // Diagnostics: live requests and the bytes they hold, per kind.
    static int64_t live_count(kind_t kind);
    static int64_t live_bytes(kind_t kind);

   private:
    request(kind_t kind, const char* data, uint64_t size, completion_t callback);
    request(std::string&& owned, completion_t callback);
    void count_in();

    kind_t kind_;
    std::string owned_;
    const char* data_;
    uint64_t size_;
    completion_t callback_;
    bool done_ = false;
  };

  request_queue() = default;
  request_queue(request_queue&& other) noexcept;
  ~request_queue();

  void push_back(std::unique_ptr<request> item);
  // Appends every request of other, leaving it empty; never throws.
  void push_back(request_queue& other) noexcept;
  // Destroys every request, first to last.
  void clear() noexcept;

  bool empty() const { return items_.empty(); }
  size_t count() const { return items_.size(); }
  uint64_t bytes() const;
  const std::list<std::unique_ptr<request>>& items() const { return items_; }
  void set_all_done();

 private:
  std::list<std::unique_ptr<request>> items_;
};

}  // namespace net2
