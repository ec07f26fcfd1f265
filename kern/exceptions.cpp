// Bodies and shells of the exception family.
#include "kern/exceptions.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "kern/strings.h"

namespace {
const char set_reason_failed[] = "d_exception_t::set_reason failed because of exception";
}

d_exception_t::d_exception_t(const char* source_file, int line)
    : source_file_(source_file), line_(line) {}

d_exception_t::~d_exception_t() {
  std::free(reason_);
  delete cause_;
}

const char* d_exception_t::what() const noexcept {
  if (reason_ != nullptr) return reason_;
  if (cause_ != nullptr) return cause_->what();
  return "NO REASON";
}

void d_exception_t::set_reason(const char* format, ...) noexcept {
  // Formatted before the old reason goes: the arguments may point into it
  // (a reason built from what()).
  char* formatted = nullptr;
  try {
    std::string text;
    va_list args;
    va_start(args, format);
    string_vprintf(text, format, args);
    va_end(args);
    formatted = static_cast<char*>(std::malloc(text.size() + 1));
    if (formatted != nullptr) std::memcpy(formatted, text.c_str(), text.size() + 1);
  } catch (...) {
  }
  if (formatted == nullptr) formatted = strdup(set_reason_failed);
  std::free(reason_);
  reason_ = formatted;
}

void d_exception_t::set_cause(d_exception_t* cause) noexcept {
  if (cause == cause_) return;
  delete cause_;
  cause_ = cause;
}

d_exception_t_shell_t::d_exception_t_shell_t(const char* format, ...) {
  va_list args;
  va_start(args, format);
  format_pending(format, args);
  va_end(args);
}

d_exception_t_shell_t::d_exception_t_shell_t(kern_n::detail::va_tag_t, const char* format,
                                             va_list args) {
  format_pending(format, args);
}

d_exception_t_shell_t::d_exception_t_shell_t(const d_exception_t_shell_t& other)
    : std::exception(other), pending_(other.pending_), body_(other.body_) {
  other.body_ = nullptr;
}

d_exception_t_shell_t::~d_exception_t_shell_t() { delete body_; }

void d_exception_t_shell_t::format_pending(const char* format, va_list args) {
  string_vprintf(pending_, format, args);
}

const char* d_exception_t_shell_t::what() const noexcept {
  if (body_ == nullptr) return "NOTHING: I am cloned shell.";
  return body_->what();
}

void d_exception_t_shell_t::attach(d_exception_t* body) noexcept {
  if (body != body_) delete body_;
  body_ = body;
  if (body_ != nullptr) {
    body_->set_reason("%s", pending_.c_str());
    kern_n::clear_string(pending_);
  }
}

d_exception_t* d_exception_t_shell_t::release_body() noexcept {
  d_exception_t* body = body_;
  body_ = nullptr;
  return body;
}

const char* kern_n::detail::source_base_name(const char* path) noexcept {
  if (path == nullptr) return "";
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/') base = p + 1;
  }
  return base;
}
