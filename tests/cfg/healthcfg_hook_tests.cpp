// The host's resource lookup after the settings dialogs are gone: restored
// whatever order overlapping dialogs close in, and never leading into an
// unloaded module. Each case ends by unloading healthcfg and calling through
// the host's import, so it runs in a child process of its own.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "healthcfg_fixture.h"
#include "latch.h"
#include "platform/import_slot.h"

extern "C" void* FindResourceW(void* module, const char16_t* name, const char16_t* type);

namespace test_support {
namespace {

void* const fake_lookup = reinterpret_cast<void*>(static_cast<uintptr_t>(0xF0F0));

// In the child: reports what went wrong and ends it.
void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s\n", what);
  std::_Exit(1);
}

class healthcfg_hook : public healthcfg_test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    healthcfg_test::SetUp();
  }
  // Lets the module go as the console does, then calls through the host's
  // import: into the kernel32 stand-in, or into a module still mapped.
  void unload_and_call_through_the_import(bool pinned) {
    config_.reset();
    // A module that agrees to go leaves at the next call that finds it still
    // agreeing (no delay asked for here).
    CoFreeUnusedLibrariesEx(0, 0);
    CoFreeUnusedLibrariesEx(0, 0);
    FreeLibrary(module_);
    module_ = nullptr;
    require((GetModuleHandleA("healthcfg.dll") != nullptr) == pinned,
            pinned ? "the module was unloaded" : "the module is still loaded");
    void* const found = FindResourceW(nullptr, reinterpret_cast<const char16_t*>(uintptr_t{300}),
                                      reinterpret_cast<const char16_t*>(uintptr_t{5}));
    require(pinned ? found == nullptr : found == fake_lookup, "the import leads somewhere else");
  }
};

// Two console threads: the first dialog opens, then the second; the first
// closes while the second is still open.
void overlapping_dialogs(INapComponentConfig* config) {
  test_support::latch_t first_open(1);
  test_support::latch_t second_open(1);
  test_support::latch_t first_closed(1);
  bool redirected_while_second_open = false;
  std::thread first([&] {
    SetThreadLocale(0x0409);
    scripted_front_end_t ui([&](HWND) {
      first_open.count_down();
      second_open.wait();
    });
    config->InvokeUI(nullptr);
    first_closed.count_down();
  });
  std::thread second([&] {
    SetThreadLocale(0x0409);
    first_open.wait();
    scripted_front_end_t ui([&](HWND) {
      second_open.count_down();
      first_closed.wait();
      redirected_while_second_open = FindResourceW(nullptr, nullptr, nullptr) != fake_lookup;
    });
    config->InvokeUI(nullptr);
  });
  first.join();
  second.join();
  require(redirected_while_second_open, "the first dialog to close took the hook from the second");
  require(FindResourceW(nullptr, nullptr, nullptr) == fake_lookup, "not restored after both");
}

TEST_F(healthcfg_hook, overlapping_dialogs_restore_the_import_whatever_order_they_close_in) {
  EXPECT_EXIT(
      {
        overlapping_dialogs(config_.get());
        unload_and_call_through_the_import(false);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// The page of the host's import slot becomes one whose protection cannot be
// changed (a sealed shared mapping with the same bytes) while the dialog is
// open: the restore fails, and the module must stay.
void seal_page_of(void* address) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* start = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address) & ~(page - 1));
  const int fd = memfd_create("sealed-imports", MFD_ALLOW_SEALING);
  require(fd >= 0 && write(fd, start, page) == static_cast<ssize_t>(page), "no copy of the page");
  require(fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW) == 0, "no seal");
  require(mmap(start, page, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) == start, "no sealed mapping");
  close(fd);
}

TEST_F(healthcfg_hook, a_restore_that_fails_pins_the_module_and_says_so) {
  EXPECT_EXIT(
      {
        const debug_output_t debug(store_.dir());
        std::string error;
        void** slot = plat::find_import_slot(GetModuleHandleA(nullptr), "kernel32.dll", "FindResourceW", error);
        require(slot != nullptr, "the program does not import FindResourceW");
        scripted_front_end_t ui([&](HWND) { seal_page_of(slot); });
        config_->InvokeUI(nullptr);
        require(debug.has("[ApiHook] Unable to restore the import slot because of unable to enable writing to "
                          "protected memory because of "),
                "the failed restore was not logged");
        require(debug.has("/libhealthcfg.so stays loaded for the rest of the process"), "no word of the pin");
        unload_and_call_through_the_import(true);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace test_support
