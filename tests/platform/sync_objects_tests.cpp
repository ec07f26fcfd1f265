// The stand-in's kernel objects keep the Win32 rules the lock classes are
// built on: semaphore limits, event reset modes, mutex ownership, time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/win32.h"

namespace {

struct handle_t {
  HANDLE h;
  explicit handle_t(HANDLE h) : h(h) {}
  ~handle_t() {
    if (h) CloseHandle(h);
  }
};

TEST(semaphore, counts_and_limit) {
  handle_t s(CreateSemaphoreA(nullptr, 1, 2, nullptr));
  ASSERT_NE(s.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(s.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s.h, 10), WAIT_TIMEOUT);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(s.h, 2, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(ReleaseSemaphore(s.h, 1, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
#ifndef _WIN32  // a count of 0 is refused by the stand-in; Wine accepts it
  EXPECT_FALSE(ReleaseSemaphore(s.h, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
#endif
  EXPECT_EQ(CreateSemaphoreA(nullptr, 3, 2, nullptr), nullptr);
}

TEST(event, auto_and_manual_reset) {
  handle_t automatic(CreateEventA(nullptr, FALSE, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(automatic.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic.h, 0), WAIT_TIMEOUT);
  handle_t manual(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  EXPECT_TRUE(SetEvent(manual.h));
  EXPECT_EQ(WaitForSingleObject(manual.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual.h, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(manual.h));
  EXPECT_EQ(WaitForSingleObject(manual.h, 0), WAIT_TIMEOUT);
  // A waiter on another thread is released by SetEvent.
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] { result = WaitForSingleObject(automatic.h, INFINITE); });
  SetEvent(automatic.h);
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
}

TEST(mutex_object, ownership_is_per_thread_and_recursive) {
  handle_t m(CreateMutexA(nullptr, FALSE, nullptr));
  EXPECT_EQ(WaitForSingleObject(m.h, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m.h, INFINITE), WAIT_OBJECT_0);
  std::atomic<DWORD> other{0};
  std::thread t([&] {
    other = WaitForSingleObject(m.h, 20);
    if (!ReleaseMutex(m.h)) other = other + 1000 + GetLastError();
  });
  t.join();
  EXPECT_EQ(other, WAIT_TIMEOUT + 1000 + ERROR_NOT_OWNER);
  EXPECT_TRUE(ReleaseMutex(m.h));
  EXPECT_TRUE(ReleaseMutex(m.h));
  EXPECT_FALSE(ReleaseMutex(m.h));
}

TEST(handles, wrong_kind_and_null_are_invalid) {
  handle_t e(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  EXPECT_FALSE(ReleaseMutex(e.h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(nullptr));
#ifndef _WIN32  // Windows can wait on a file handle; the stand-in has no such object
  const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(2));
  EXPECT_EQ(WaitForSingleObject(file, 0), WAIT_FAILED);
#endif
}

TEST(messages, format_message_contract) {
#ifdef _WIN32
  GTEST_SKIP() << "the stand-in's message table; the system's words its texts and languages its own way";
#endif
  char* text = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD n = FormatMessageA(flags, nullptr, 2, 1033, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  ASSERT_GT(n, 0u);
  EXPECT_STREQ(text, "The system cannot find the file specified.\r\n");
  EXPECT_EQ(n, std::strlen(text));
  LocalFree(text);
  EXPECT_EQ(FormatMessageA(flags, nullptr, 2, 1031, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
  EXPECT_EQ(FormatMessageA(flags, nullptr, 4242, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  char small[8];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, small, sizeof(small), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(thread_local_slots, values_are_per_thread) {
  const DWORD slot = TlsAlloc();
  ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
  int mine = 1, theirs = 2;
  TlsSetValue(slot, &mine);
  void* seen_there = &mine;
  std::thread t([&] {
    seen_there = TlsGetValue(slot);
    TlsSetValue(slot, &theirs);
  });
  t.join();
  EXPECT_EQ(seen_there, nullptr);
  EXPECT_EQ(TlsGetValue(slot), &mine);
  EXPECT_TRUE(TlsFree(slot));
}

}  // namespace
