// Fuzzes the configuration blob: any bytes given to save either raise
// BUG_exception or are stored so that load gives the blob back (the odd last
// byte of a name aside). The store is a private file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "common/settings.h"
#include "kern/exceptions.h"
#include "kern/logger.h"

namespace {
std::string& store_path() {
  static std::string path = "/tmp/shv-fuzz-settings-" + std::to_string(getpid()) + ".db";
  return path;
}
void remove_store() {
  for (const char* suffix : {"", "-wal", "-shm"}) unlink((store_path() + suffix).c_str());
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("SHV_REGISTRY", store_path().c_str(), 1);
  std::atexit(remove_store);
  // A failing write would log; nothing should fail here, and the report is
  // the abort below.
  if (global_logger != nullptr) global_logger->set_level(-1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const lstr_t blob(reinterpret_cast<const char*>(data), size);
  try {
    shv_settings::save(blob);
  } catch (const BUG_exception_shell_t&) {
    return 0;
  }
  std::string back;
  shv_settings::load(back);
  std::string expected(reinterpret_cast<const char*>(data), size);
  if ((size - 24) % 2 != 0) {
    expected.pop_back();
    expected[4] = static_cast<char>(expected[4] - 1);  // the name length loses the odd byte
  }
  if (back != expected) std::abort();
  return 0;
}
