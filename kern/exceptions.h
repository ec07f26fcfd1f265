// The library's exception family: heap bodies carrying reason, throw site and
// cause, thrown inside small shells whose copy moves the body. Handlers catch
// shells only. Throw with KERN_THROW(kind, format, ...).
#pragma once

#include <cstdarg>
#include <exception>
#include <string>

#include "kern/strings.h"

#define KERN_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

// ---- Bodies -----------------------------------------------------------------

class _d_exception_t : public std::exception {};

class d_exception_t : public _d_exception_t {
 public:
  d_exception_t(const char* source_file, int line);
  ~d_exception_t() override;
  d_exception_t(const d_exception_t&) = delete;
  d_exception_t& operator=(const d_exception_t&) = delete;

  const char* what() const noexcept override;
  // Replaces the reason; never throws (a failed format stores a fixed text).
  void set_reason(const char* format, ...) noexcept KERN_PRINTF(2, 3);
  // Takes ownership of an earlier failure's body.
  void set_cause(d_exception_t* cause) noexcept;

  const char* source_file() const { return source_file_; }
  int line() const { return line_; }
  const char* reason() const { return reason_; }
  const d_exception_t* cause() const { return cause_; }

 private:
  const char* source_file_;
  int line_;
  char* reason_ = nullptr;
  d_exception_t* cause_ = nullptr;
};

// ---- Shells -----------------------------------------------------------------

namespace kern_n::detail {
struct va_tag_t {};
}  // namespace kern_n::detail

class d_exception_t_shell_t : public std::exception {
 public:
  explicit d_exception_t_shell_t(const char* format, ...) KERN_PRINTF(2, 3);
  d_exception_t_shell_t(kern_n::detail::va_tag_t, const char* format, va_list args);
  // Copying takes the body over: only the newest copy owns it.
  d_exception_t_shell_t(const d_exception_t_shell_t& other);
  d_exception_t_shell_t& operator=(const d_exception_t_shell_t&) = delete;
  ~d_exception_t_shell_t() override;

  const char* what() const noexcept override;

  // Attaches the body (deleting any earlier one) and moves the pending text
  // into its reason.
  void attach(d_exception_t* body) noexcept;
  d_exception_t* body() const { return body_; }
  const std::string& pending_text() const { return pending_; }
  // Hands the body to the caller (for wrapping it as a cause).
  d_exception_t* release_body() noexcept;

 protected:
  d_exception_t_shell_t() = default;
  void format_pending(const char* format, va_list args);

 private:
  std::string pending_;
  mutable d_exception_t* body_ = nullptr;
};

// Declares a body and its shell, each derived from the base's body and shell.
#define KERN_DECLARE_EXCEPTION(name, base)                                                \
  class name : public base {                                                              \
   public:                                                                                \
    using base::base;                                                                     \
  };                                                                                      \
  class name##_shell_t : public base##_shell_t {                                          \
   public:                                                                                \
    explicit name##_shell_t(const char* format, ...) KERN_PRINTF(2, 3) {                  \
      va_list args;                                                                       \
      va_start(args, format);                                                             \
      format_pending(format, args);                                                       \
      va_end(args);                                                                       \
    }                                                                                     \
    name##_shell_t(kern_n::detail::va_tag_t, const char* format, va_list args) {          \
      format_pending(format, args);                                                       \
    }                                                                                     \
    name##_shell_t(const name##_shell_t&) = default;                                      \
                                                                                          \
   protected:                                                                             \
    name##_shell_t() = default;                                                           \
  }

KERN_DECLARE_EXCEPTION(BUG_exception, d_exception_t);
KERN_DECLARE_EXCEPTION(api_exception, d_exception_t);
KERN_DECLARE_EXCEPTION(io_error_exception, api_exception);
KERN_DECLARE_EXCEPTION(network_exception, io_error_exception);
KERN_DECLARE_EXCEPTION(host_not_found_exception, network_exception);
KERN_DECLARE_EXCEPTION(library_load_exception, api_exception);
KERN_DECLARE_EXCEPTION(sync_exception, api_exception);
KERN_DECLARE_EXCEPTION(mutex_exception, sync_exception);
KERN_DECLARE_EXCEPTION(condvar_exception, sync_exception);
KERN_DECLARE_EXCEPTION(critsect_exception, sync_exception);
KERN_DECLARE_EXCEPTION(number_format_exception, d_exception_t);
KERN_DECLARE_EXCEPTION(parse_exception, d_exception_t);
KERN_DECLARE_EXCEPTION(net_address_format_exception, parse_exception);
KERN_DECLARE_EXCEPTION(SEH_exception, d_exception_t);

namespace dns::utils {
KERN_DECLARE_EXCEPTION(dns_exception, network_exception);
KERN_DECLARE_EXCEPTION(dns_timeout_exception, dns_exception);
KERN_DECLARE_EXCEPTION(sysselect_exception, dns_exception);
}  // namespace dns::utils

namespace net2 {
KERN_DECLARE_EXCEPTION(spec_parse_error, net_address_format_exception);
}  // namespace net2

namespace win {
KERN_DECLARE_EXCEPTION(regkey_exception, d_exception_t);
KERN_DECLARE_EXCEPTION(regkey_access_denied_exception, regkey_exception);
KERN_DECLARE_EXCEPTION(regkey_not_exists_exception, regkey_exception);
KERN_DECLARE_EXCEPTION(regkey_wrong_type_exception, regkey_exception);
}  // namespace win

// ---- Throwing -----------------------------------------------------------------

namespace kern_n::detail {

// The base name of a source path (after the last "\\" or "/").
const char* source_base_name(const char* path) noexcept;

template <class Shell, class Body>
[[noreturn]] void throw_va(const char* file, int line, const char* format, va_list args) {
  Shell shell(va_tag_t{}, format, args);
  shell.attach(new Body(source_base_name(file), line));
  throw shell;
}

template <class Shell, class Body>
[[noreturn]] KERN_PRINTF(3, 4) void throw_exception(const char* file, int line, const char* format,
                                                    ...) {
  va_list args;
  va_start(args, format);
  Shell shell(va_tag_t{}, format, args);
  va_end(args);
  shell.attach(new Body(source_base_name(file), line));
  throw shell;
}

// Like throw_exception, with an earlier failure's body as the new body's cause.
template <class Shell, class Body>
[[noreturn]] KERN_PRINTF(4, 5) void throw_caused(const char* file, int line, d_exception_t* cause,
                                                 const char* format, ...) {
  va_list args;
  va_start(args, format);
  Shell shell(va_tag_t{}, format, args);
  va_end(args);
  Body* body = new Body(source_base_name(file), line);
  body->set_cause(cause);
  shell.attach(body);
  throw shell;
}

}  // namespace kern_n::detail

// KERN_THROW(mutex_exception, "unable to lock mutex because of %s", text)
// throws mutex_exception_shell_t carrying a mutex_exception body.
#define KERN_THROW(kind, ...) \
  ::kern_n::detail::throw_exception<kind##_shell_t, kind>(__FILE__, __LINE__, __VA_ARGS__)
// The same, wrapping the body taken from an earlier shell (release_body()).
#define KERN_THROW_CAUSED(kind, cause, ...)                                                \
  ::kern_n::detail::throw_caused<kind##_shell_t, kind>(__FILE__, __LINE__, cause, __VA_ARGS__)
