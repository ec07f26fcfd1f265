// Windows library names map to shared-object names in one place, and module
// facts come back for the program and for libraries.
#include <gtest/gtest.h>

#include <cerrno>

#include "base/module_info.h"
#include "platform/linux/kernel/loader.h"
#include "platform/win32.h"

namespace {

TEST(loader, windows_names_become_shared_object_names) {
  using plat_linux::shared_object_name;
  EXPECT_EQ(shared_object_name("Qutil.dll"), "libqutil.so");
  EXPECT_EQ(shared_object_name("QUTIL.DLL"), "libqutil.so");
  EXPECT_EQ(shared_object_name("healthval"), "libhealthval.so");
  EXPECT_EQ(shared_object_name("C:\\dir\\Sub\\NapSdk.dll"), "C:/dir/Sub/libnapsdk.so");
  EXPECT_EQ(shared_object_name("/opt/x/libfoo.so"), "/opt/x/libfoo.so");
  EXPECT_EQ(shared_object_name("libm.so.6"), "libm.so.6");
}

TEST(loader, failures_set_the_win32_error_and_keep_errno) {
  errno = 1234;
  EXPECT_EQ(LoadLibraryA("no_such_module_at_all.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(errno, 1234);
  HMODULE libm = LoadLibraryA("libm.so.6");
  ASSERT_NE(libm, nullptr);
  EXPECT_NE(GetProcAddress(libm, "cos"), nullptr);
  EXPECT_EQ(GetProcAddress(libm, "no_such_symbol"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(errno, 1234);
  EXPECT_TRUE(FreeLibrary(libm));
  errno = 0;
}

TEST(module_info, program_and_library_files) {
  const std::string program = base_n::module_file_name(nullptr);
  EXPECT_NE(program.find("platform_tests"), std::string::npos) << program;
  HMODULE self = base_n::module_of_address(reinterpret_cast<const void*>(&base_n::module_file_name));
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(base_n::module_file_name(self), program);
  HMODULE libm = LoadLibraryA("libm.so.6");
  void* cos_address = reinterpret_cast<void*>(GetProcAddress(libm, "cos"));
  HMODULE owner = base_n::module_of_address(cos_address);
  EXPECT_NE(base_n::module_file_name(owner).find("libm.so"), std::string::npos);
  char tiny[4];
  EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof(tiny)), sizeof(tiny));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(tiny[3], '\0');
  FreeLibrary(libm);
}

}  // namespace
