// The validator module under the system loader: what its entry point does at
// load (no thread started, the NAP utility library bound and nothing else),
// that it refuses to load without that library, and that it unloads cleanly.
#include <gtest/gtest.h>

#include <string>

#include "kern/seh_wrapper.h"
#include "platform/win32.h"

#include <tlhelp32.h>

namespace {

// The build folder: two levels above this program (tests-bin/windows/).
std::wstring build_folder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  for (int i = 0; i < 3; ++i) folder.erase(folder.find_last_of(L"\\/"));
  return folder;
}

std::wstring module_path() { return build_folder() + L"\\healthval.dll"; }

// Threads of this process, as the system lists them.
int thread_count() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// Whether the process's socket library has been started: a socket can be
// made only after WSAStartup.
bool socket_library_started() {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return WSAGetLastError() != WSANOTINITIALISED;
  closesocket(s);
  return true;
}

// Where the loader looks for QUtil.dll besides the system's folders.
class dll_directory_t {
 public:
  explicit dll_directory_t(const std::wstring& folder) { SetDllDirectoryW(folder.c_str()); }
  ~dll_directory_t() { SetDllDirectoryW(nullptr); }
  dll_directory_t(const dll_directory_t&) = delete;
  dll_directory_t& operator=(const dll_directory_t&) = delete;
};

class module_t {
 public:
  explicit module_t(const std::wstring& path) : module_(LoadLibraryW(path.c_str())), error_(GetLastError()) {}
  ~module_t() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  module_t(const module_t&) = delete;
  module_t& operator=(const module_t&) = delete;
  HMODULE get() const { return module_; }
  DWORD error() const { return error_; }
  void release() {
    FreeLibrary(module_);
    module_ = nullptr;
  }

 private:
  HMODULE module_;
  DWORD error_;
};

// Runs first: once a module has bound it, the NAP utility library stays with
// the process.
TEST(module_load, refuses_to_load_without_the_nap_utility_library) {
  ASSERT_EQ(GetModuleHandleW(L"QUtil.dll"), nullptr);
  // An empty folder to search, and a current folder without QUtil.dll.
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring empty = std::wstring(temp) + L"shv-no-qutil";
  CreateDirectoryW(empty.c_str(), nullptr);
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(empty.c_str());
  {
    dll_directory_t search(empty);
    module_t module(module_path());
    EXPECT_EQ(module.get(), nullptr);
    EXPECT_EQ(module.error(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  }
  SetCurrentDirectoryW(previous);
  RemoveDirectoryW(empty.c_str());
  EXPECT_EQ(GetModuleHandleW(module_path().c_str()), nullptr);
}

// Nothing that is unsafe under the loader lock, at load or unload: no thread,
// no socket library start-up (the module starts it at its first socket), no
// library freed.
TEST(module_load, attach_starts_no_thread_and_binds_only_the_nap_utility_library) {
  dll_directory_t search(build_folder());
  ASSERT_EQ(GetModuleHandleW(L"QUtil.dll"), nullptr);
  ASSERT_FALSE(socket_library_started());
  const int before = thread_count();
  ASSERT_GT(before, 0);
  module_t module(module_path());
  ASSERT_NE(module.get(), nullptr) << "error " << module.error();
  EXPECT_EQ(thread_count(), before);
  EXPECT_NE(GetModuleHandleW(L"QUtil.dll"), nullptr);
  EXPECT_FALSE(socket_library_started());

  using can_unload_fn = HRESULT(WINAPI*)();
  auto can_unload = reinterpret_cast<can_unload_fn>(GetProcAddress(module.get(), "DllCanUnloadNow"));
  ASSERT_NE(can_unload, nullptr);
  EXPECT_EQ(can_unload(), S_OK);
  EXPECT_EQ(thread_count(), before);

  module.release();
  EXPECT_EQ(GetModuleHandleW(module_path().c_str()), nullptr);
  // Freeing it would have to happen under the loader lock: the process keeps it.
  EXPECT_NE(GetModuleHandleW(L"QUtil.dll"), nullptr);
  EXPECT_EQ(thread_count(), before);
}

// Blocks in use on the process heap, where the system keeps what it makes
// for a module (a lock's record, for one).
size_t process_heap_blocks() {
  HANDLE heap = GetProcessHeap();
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry{};
  size_t blocks = 0;
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++blocks;
  }
  HeapUnlock(heap);
  return blocks;
}

// Each round gives back all it took: no thread, no block of the process heap
// (once the first rounds have filled the system's own caches).
TEST(module_load, load_and_unload_repeatedly) {
  dll_directory_t search(build_folder());
  const int before = thread_count();
  size_t blocks_after_warm_up = 0;
  for (int i = 0; i < 70; ++i) {
    if (i == 20) blocks_after_warm_up = process_heap_blocks();
    module_t module(module_path());
    ASSERT_NE(module.get(), nullptr) << "round " << i << ", error " << module.error();
  }
  EXPECT_EQ(GetModuleHandleW(module_path().c_str()), nullptr);
  EXPECT_EQ(thread_count(), before);
  // One block a round would be 50.
  EXPECT_LE(process_heap_blocks(), blocks_after_warm_up + 5);
}

TEST(structured_exceptions, mingw_builds_install_no_translator) {
  EXPECT_FALSE(kern_n::seh_translator_t::installs_translator());
  kern_n::seh_translator_t scope;  // constructible all the same, and harmless
}

}  // namespace
