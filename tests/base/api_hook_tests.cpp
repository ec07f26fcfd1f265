// The import hook on real modules: this program and a library, both importing
// from libkernel32.so; the program is linked with full RELRO, so its import
// slots are read-only and every patch needs the protection change.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/api_hook.h"
#include "capture_logger.h"
#include "kern/exceptions.h"

extern "C" void* FindResourceW(void* module, const char16_t* name, const char16_t* type);
extern "C" int hook_probe();
extern "C" int hook_probe_second();

namespace {

using test_support::capture_logger_t;

using base_n::api_hook_t;

int replacement_probe() { return 2; }

// The permissions ("r--p") of the mapping holding address.
std::string page_permissions(const void* address) {
  FILE* maps = std::fopen("/proc/self/maps", "r");
  std::string result;
  char line[512];
  while (maps != nullptr && std::fgets(line, sizeof(line), maps) != nullptr) {
    unsigned long start = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line, "%lx-%lx %4s", &start, &end, perms) == 3 &&
        reinterpret_cast<uintptr_t>(address) >= start && reinterpret_cast<uintptr_t>(address) < end) {
      result = perms;
    }
  }
  if (maps != nullptr) std::fclose(maps);
  return result;
}

const void* address_of(int (*f)()) { return reinterpret_cast<const void*>(f); }

TEST(api_hook, redirects_the_programs_import_and_restores_it_once) {
  ASSERT_EQ(hook_probe(), 1);
  {
    api_hook_t hook(address_of(&replacement_probe), nullptr, "kernel32.dll", "hook_probe", api_hook_t::policy_throw);
    ASSERT_NE(hook.slot(), nullptr);
    EXPECT_EQ(hook_probe(), 2);
    EXPECT_EQ(hook_probe_second(), 10) << "only the named function is redirected";
    uintptr_t in_slot = 0;
    std::memcpy(&in_slot, hook.slot(), sizeof(in_slot));
    EXPECT_EQ(in_slot, reinterpret_cast<uintptr_t>(&replacement_probe));
    EXPECT_NE(hook.saved_address(), 0u);
    // Full RELRO: the slot's page is read-only again after the write.
    EXPECT_EQ(page_permissions(hook.slot()).substr(0, 2), "r-");
    hook.reset();
    EXPECT_EQ(hook.slot(), nullptr);
    EXPECT_EQ(hook_probe(), 1);
    hook.reset();  // nothing left to restore
    EXPECT_EQ(hook_probe(), 1);
  }
  EXPECT_EQ(hook_probe(), 1);
}

TEST(api_hook, names_match_without_regard_to_case) {
  api_hook_t hook(address_of(&replacement_probe), nullptr, "KERNEL32.Dll", "HOOK_Probe", api_hook_t::policy_throw);
  EXPECT_NE(hook.slot(), nullptr);
  EXPECT_EQ(hook_probe(), 2);
}

TEST(api_hook, the_destructor_restores_when_the_scope_is_left_by_an_exception) {
  try {
    api_hook_t hook(address_of(&replacement_probe), nullptr, "kernel32.dll", "hook_probe", api_hook_t::policy_throw);
    ASSERT_EQ(hook_probe(), 2);
    throw std::runtime_error("dialog failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(hook_probe(), 1);
}

TEST(api_hook, log_policy_reports_a_missing_library_and_changes_nothing) {
  capture_logger_t log;
  {
    api_hook_t hook(address_of(&replacement_probe), nullptr, "nosuch.dll", "hook_probe", api_hook_t::policy_log);
    EXPECT_EQ(hook.slot(), nullptr);
    EXPECT_EQ(hook.saved_address(), 0u);
    EXPECT_EQ(hook_probe(), 1);
  }
  EXPECT_TRUE(log.contains("[ApiHook] Module nosuch.dll didn\x60t found in imports"));
  EXPECT_EQ(hook_probe(), 1);
}

TEST(api_hook, log_policy_reports_a_missing_function_of_an_imported_library) {
  capture_logger_t log;
  api_hook_t hook(address_of(&replacement_probe), nullptr, "kernel32.dll", "no_such_function", api_hook_t::policy_log);
  EXPECT_EQ(hook.slot(), nullptr);
  EXPECT_TRUE(log.contains("[ApiHook] Function no_such_function didn`t found in imports for kernel32.dll"));
  // The success line is logged at level 8 all the same.
  EXPECT_TRUE(log.contains("[ApiHook] no_such_function from kernel32.dll hooked in module " +
                           std::string(std::filesystem::read_symlink("/proc/self/exe"))));
}

TEST(api_hook, a_function_of_another_library_is_not_an_import_of_this_one) {
  capture_logger_t log;
  // The program imports printf-like functions from the C library, not from
  // the fake kernel32.
  api_hook_t hook(address_of(&replacement_probe), nullptr, "kernel32.dll", "fopen", api_hook_t::policy_log);
  EXPECT_EQ(hook.slot(), nullptr);
  EXPECT_TRUE(log.contains("[ApiHook] Function fopen didn`t found in imports for kernel32.dll"));
}

TEST(api_hook, throw_policy_raises_from_the_constructor) {
  try {
    api_hook_t hook(address_of(&replacement_probe), nullptr, "kernel32.dll", "missing", api_hook_t::policy_throw);
    FAIL() << "no exception";
  } catch (const api_exception_shell_t& e) {
    EXPECT_NE(std::string(e.what()).find("Function missing didn`t found in imports for kernel32.dll"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(hook_probe(), 1);
}

TEST(api_hook, ignore_policy_says_nothing) {
  capture_logger_t log;
  api_hook_t hook(address_of(&replacement_probe), nullptr, "nosuch.dll", "hook_probe", api_hook_t::policy_ignore);
  EXPECT_EQ(hook.slot(), nullptr);
  EXPECT_TRUE(log.messages().empty());
}

TEST(api_hook, a_named_module_is_loaded_patched_alone_and_freed) {
  using call_fn = int (*)();
  HMODULE user = LoadLibraryA(HOOK_USER_PATH);
  ASSERT_NE(user, nullptr);
  auto call = reinterpret_cast<call_fn>(reinterpret_cast<void*>(GetProcAddress(user, "hook_user_calls_probe")));
  ASSERT_NE(call, nullptr);
  ASSERT_EQ(call(), 1);
  {
    api_hook_t hook(address_of(&replacement_probe), HOOK_USER_PATH, "kernel32.dll", "hook_probe",
                    api_hook_t::policy_throw);
    EXPECT_EQ(call(), 2);
    EXPECT_EQ(hook_probe(), 1) << "the program's own import is another slot";
  }
  EXPECT_EQ(call(), 1);
  FreeLibrary(user);
  // The hook's own reference went with it: the library is unloaded now.
  EXPECT_EQ(GetModuleHandleA("hookuser.dll"), nullptr);
}

TEST(api_hook, a_module_that_cannot_be_loaded_is_reported) {
  capture_logger_t log;
  api_hook_t hook(address_of(&replacement_probe), "nosuchmodule.dll", "kernel32.dll", "hook_probe",
                  api_hook_t::policy_log);
  EXPECT_EQ(hook.slot(), nullptr);
  bool found = false;
  for (const std::string& m : log.messages()) {
    found |= m.rfind("[ApiHook] Unable to get nosuchmodule.dll module because of ", 0) == 0;
  }
  EXPECT_TRUE(found);
}

TEST(api_hook, writes_through_read_only_memory_and_restores_the_protection) {
  const long page = sysconf(_SC_PAGESIZE);
  void* mem = mmap(nullptr, static_cast<size_t>(page), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mem, MAP_FAILED);
  api_hook_t hook(nullptr, nullptr, "nosuch.dll", "x", api_hook_t::policy_ignore);
  const uint64_t value = 0x1122334455667788u;
  hook.write_protected_memory(static_cast<char*>(mem) + 8, &value, sizeof(value));
  uint64_t back = 0;
  std::memcpy(&back, static_cast<char*>(mem) + 8, sizeof(back));
  EXPECT_EQ(back, value);
  EXPECT_EQ(page_permissions(mem).substr(0, 3), "r--");
  munmap(mem, static_cast<size_t>(page));
}

TEST(api_hook, unmapped_memory_is_reported_and_not_written) {
  // The second page of the address space: below the lowest address the
  // kernel maps anything at, so nothing can come to live there meanwhile (a
  // page just given back may be mapped again by the next allocation).
  void* mem = reinterpret_cast<void*>(static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)));
  capture_logger_t log;
  api_hook_t hook(nullptr, nullptr, "nosuch.dll", "x", api_hook_t::policy_ignore);
  api_hook_t logging(nullptr, nullptr, "kernel32.dll", "hook_probe_missing", api_hook_t::policy_log);
  log.clear();
  const uint64_t value = 1;
  logging.write_protected_memory(mem, &value, sizeof(value));
  bool found = false;
  for (const std::string& m : log.messages()) {
    found |= m.rfind("[ApiHook] Unable to enable writing to protected memory because of ", 0) == 0;
  }
  EXPECT_TRUE(found);
}

TEST(api_hook, the_resource_lookup_import_can_be_redirected_like_any_other) {
  void* const original = FindResourceW(nullptr, nullptr, nullptr);
  auto replacement = +[](void*, const char16_t*, const char16_t*) -> void* { return nullptr; };
  {
    api_hook_t hook(reinterpret_cast<const void*>(replacement), nullptr, "kernel32.dll", "FindResourceW",
                    api_hook_t::policy_throw);
    EXPECT_EQ(FindResourceW(nullptr, nullptr, nullptr), nullptr);
  }
  EXPECT_EQ(FindResourceW(nullptr, nullptr, nullptr), original);
}

}  // namespace
