// The fault watch on Windows: a vectored exception handler that describes a
// fatal fault inside the watched module and always answers "continue the
// search", so that the fault goes on to whoever would have seen it anyway.
#include "platform/fault_watch.h"

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace plat {

namespace {

// One watch per module: the platform library is linked into each.
struct watch_t {
  uintptr_t begin = 0;
  uintptr_t end = 0;
  fault_report_fn report = nullptr;
  PVOID handler = nullptr;
};
watch_t watch;
// Whether the handler may still describe a fault: cleared before the
// handler is removed.
std::atomic<bool> watching{false};
// Calls of the handler past its first test, on any thread. The system does
// not wait for them when the handler is removed: the unload does, so that no
// thread is left running code of an unmapped module.
std::atomic<int> calls_in_flight{0};
// How long an unload waits for them. A report takes microseconds, more with
// a debugger that stops at every line; past the limit the unload goes on.
constexpr ULONGLONG unload_wait_ms = 2000;
// A fault while a fault is being described (the report itself crashing)
// is left alone, not described again.
std::atomic<bool> reporting{false};

// Errors the processor or the system raise, not exceptions a program raises
// itself: not the debugger output (DBG_PRINTEXCEPTION_C, raised by every
// OutputDebugString of the process), breakpoints (warnings) or C++ exceptions
// (which carry the customer bit). A stack overflow leaves no stack to
// describe it on.
bool is_fatal(DWORD code) {
  if (code == EXCEPTION_STACK_OVERFLOW) return false;
  return (code & 0xC0000000u) == 0xC0000000u && (code & 0x20000000u) == 0;
}

// Leaves calls_in_flight however the call ends.
struct in_flight_t {
  in_flight_t() { calls_in_flight.fetch_add(1); }
  ~in_flight_t() { calls_in_flight.fetch_sub(1); }
  in_flight_t(const in_flight_t&) = delete;
  in_flight_t& operator=(const in_flight_t&) = delete;
};

// Appends to a fixed buffer, cut at its end: all a faulting thread may use.
class text_t {
 public:
  text_t(char* buffer, size_t size) : buffer_(buffer), size_(size) { buffer_[0] = '\0'; }
  void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (used_ + 1 >= size_) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer_ + used_, size_ - used_, format, args);
    va_end(args);
    if (n > 0) used_ = used_ + static_cast<size_t>(n) < size_ ? used_ + static_cast<size_t>(n) : size_ - 1;
  }

 private:
  char* buffer_;
  size_t size_;
  size_t used_ = 0;
};

uint64_t u(uintptr_t value) { return static_cast<uint64_t>(value); }

void describe(const EXCEPTION_POINTERS& info, char* buffer, size_t size) {
  const EXCEPTION_RECORD& r = *info.ExceptionRecord;
  const CONTEXT& c = *info.ContextRecord;
  text_t t(buffer, size);
  t.add("exception %08lx (%lx) @ %016" PRIx64 " %lu:[", r.ExceptionCode, r.ExceptionFlags,
        u(reinterpret_cast<uintptr_t>(r.ExceptionAddress)), r.NumberParameters);
  for (DWORD i = 0; i < r.NumberParameters && i < EXCEPTION_MAXIMUM_PARAMETERS; ++i) {
    t.add(i == 0 ? "%016" PRIx64 : " %016" PRIx64, u(r.ExceptionInformation[i]));
  }
  t.add("] RIP=%02x:%016" PRIx64 " RSP=%02x:%016" PRIx64 " RBP=%02x:%016" PRIx64
        " CS=%02x DS=%02x ES=%02x FS=%02x GS=%02x",
        c.SegCs, c.Rip, c.SegSs, c.Rsp, c.SegSs, c.Rbp, c.SegCs, c.SegDs, c.SegEs, c.SegFs, c.SegGs);
  t.add(" RAX=%016" PRIx64 " RBX=%016" PRIx64 " RCX=%016" PRIx64 " RDX=%016" PRIx64 " RDI=%016" PRIx64
        " RSI=%016" PRIx64,
        c.Rax, c.Rbx, c.Rcx, c.Rdx, c.Rdi, c.Rsi);
  t.add(" R8=%016" PRIx64 " R9=%016" PRIx64 " R10=%016" PRIx64 " R11=%016" PRIx64 " R12=%016" PRIx64
        " R13=%016" PRIx64 " R14=%016" PRIx64 " R15=%016" PRIx64 " EFL=%08lx code=[",
        c.R8, c.R9, c.R10, c.R11, c.R12, c.R13, c.R14, c.R15, c.EFlags);
  // Read through the system, which fails where a plain read would fault again.
  unsigned char code[16];
  SIZE_T read = 0;
  if (!ReadProcessMemory(GetCurrentProcess(), r.ExceptionAddress, code, sizeof(code), &read) ||
      read != sizeof(code)) {
    std::snprintf(buffer, size, "double fault: original exception %08lx occured at EIP=%02x:%016" PRIx64,
                  r.ExceptionCode, c.SegCs, c.Rip);
    return;
  }
  for (size_t i = 0; i < sizeof(code); ++i) t.add(i == 0 ? "%02x" : " %02x", code[i]);
  t.add("]");
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS* info) noexcept {
  // Every exception of the process passes here, most of them harmless and
  // frequent: those leave before anything else is touched.
  if (!is_fatal(info->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  const in_flight_t counted;
  if (!watching.load()) return EXCEPTION_CONTINUE_SEARCH;
  const EXCEPTION_RECORD& r = *info->ExceptionRecord;
  const uintptr_t at = reinterpret_cast<uintptr_t>(r.ExceptionAddress);
  if (at >= watch.begin && at < watch.end && watch.report != nullptr && !reporting.exchange(true)) {
    // Whoever handles the fault further on sees the thread as it was.
    const DWORD last_error = GetLastError();
    const int saved_errno = errno;
    char text[1024];
    describe(*info, text, sizeof(text));
    watch.report(text);
    errno = saved_errno;
    SetLastError(last_error);
    reporting.store(false);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool watch_faults(HMODULE module, fault_report_fn report) noexcept {
  if (module == nullptr || report == nullptr || watch.handler != nullptr) return false;
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  watch.begin = reinterpret_cast<uintptr_t>(base);
  watch.end = watch.begin + nt->OptionalHeader.SizeOfImage;
  watch.report = report;
  watching.store(true);
  // Called last: a fault another handler of the process resolves is no crash.
  watch.handler = AddVectoredExceptionHandler(0, &on_exception);
  if (watch.handler == nullptr) watching.store(false);
  return watch.handler != nullptr;
}

void unwatch_faults() noexcept {
  if (watch.handler == nullptr) return;
  watching.store(false);
  RemoveVectoredExceptionHandler(watch.handler);
  // No new call starts now; the ones under way need nothing but themselves
  // (never the loader lock this may run under) and end soon.
  const ULONGLONG deadline = GetTickCount64() + unload_wait_ms;
  while (calls_in_flight.load() != 0 && GetTickCount64() < deadline) Sleep(1);
  watch = watch_t{};
}

}  // namespace plat
