// Test peer for the registry stand-in: hammers one key from its own process.
//   registry_hammer write KEY PREFIX COUNT   sets PREFIX_i (i < COUNT) and the
//       shared value "shared", each a self-describing record, in COUNT rounds
//   registry_hammer read KEY COUNT           reads "shared" COUNT times and
//       checks every record it sees is whole
// Exit status 0 when every call succeeded and every record was whole.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32.h"

namespace {

// A record: 4-byte length n, then n bytes all equal to a fill byte, then the
// fill byte again. A torn read cannot pass.
std::string make_record(unsigned seed) {
  const size_t n = 1 + (seed * 7919u) % 6000u;
  const char fill = static_cast<char>('A' + seed % 26);
  std::string r(4, '\0');
  for (int i = 0; i < 4; ++i) r[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  r.append(n, fill);
  r += fill;
  return r;
}

bool record_whole(const std::string& r) {
  if (r.size() < 6) return false;
  size_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(r[i]);
  if (r.size() != n + 5) return false;
  const char fill = r.back();
  for (size_t i = 4; i < 4 + n; ++i)
    if (r[i] != fill) return false;
  return true;
}

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

int fail(const char* what, long code) {
  std::fprintf(stderr, "registry_hammer: %s failed with %ld\n", what, code);
  return 1;
}

int writer(const std::u16string& key_path, const std::string& prefix, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != 0) return fail("create", rc);
    const std::string record = make_record(i + static_cast<unsigned>(prefix[0]));
    const std::u16string name = wide(prefix + "_" + std::to_string(i));
    rc = RegSetValueExW(key, name.c_str(), 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(record.data()),
                        static_cast<DWORD>(record.size()));
    if (rc == 0)
      rc = RegSetValueExW(key, u"shared", 0, REG_BINARY,
                          reinterpret_cast<const BYTE*>(record.data()),
                          static_cast<DWORD>(record.size()));
    RegCloseKey(key);
    if (rc != 0) return fail("set", rc);
  }
  return 0;
}

int reader(const std::u16string& key_path, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // no writer got there yet
    if (rc != 0) return fail("open", rc);
    std::string data(8192, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegQueryValueExW(key, u"shared", nullptr, &type, reinterpret_cast<LPBYTE>(data.data()),
                          &size);
    RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) continue;
    if (rc != 0) return fail("query", rc);
    data.resize(size);
    if (type != REG_BINARY || !record_whole(data)) {
      std::fprintf(stderr, "registry_hammer: torn record of %u bytes\n", static_cast<unsigned>(size));
      return 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "write") == 0)
    return writer(wide(argv[2]), argv[3], static_cast<unsigned>(std::atoi(argv[4])));
  if (argc == 4 && std::strcmp(argv[1], "read") == 0)
    return reader(wide(argv[2]), static_cast<unsigned>(std::atoi(argv[3])));
  std::fprintf(stderr, "usage: registry_hammer write KEY PREFIX COUNT | read KEY COUNT\n");
  return 64;
}
