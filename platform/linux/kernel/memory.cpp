// VirtualProtect over mprotect, with the previous protection taken from the
// process's own map of its pages; lstrcmpiA for ASCII names.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/linux/kernel/errno_guard.h"
#include "platform/win32.h"

namespace {

int to_prot(DWORD protection, bool& ok) {
  ok = true;
  switch (protection) {
    case PAGE_NOACCESS: return PROT_NONE;
    case PAGE_READONLY: return PROT_READ;
    case PAGE_READWRITE: return PROT_READ | PROT_WRITE;
    case PAGE_EXECUTE: return PROT_EXEC;
    case PAGE_EXECUTE_READ: return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: ok = false; return PROT_NONE;
  }
}

DWORD from_flags(bool r, bool w, bool x) {
  if (x) return w ? PAGE_EXECUTE_READWRITE : (r ? PAGE_EXECUTE_READ : PAGE_EXECUTE);
  if (w) return PAGE_READWRITE;
  return r ? PAGE_READONLY : PAGE_NOACCESS;
}

// The protection of the mapping holding address; false when none does.
bool current_protection(uintptr_t address, DWORD& out) {
  FILE* maps = std::fopen("/proc/self/maps", "re");
  if (maps == nullptr) return false;
  bool found = false;
  char line[512];
  while (!found && std::fgets(line, sizeof(line), maps) != nullptr) {
    unsigned long start = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line, "%lx-%lx %4s", &start, &end, perms) != 3) continue;
    if (address >= start && address < end) {
      out = from_flags(perms[0] == 'r', perms[1] == 'w', perms[2] == 'x');
      found = true;
    }
    // Lines longer than the buffer: skip their rest.
    while (std::strchr(line, '\n') == nullptr && std::fgets(line, sizeof(line), maps) != nullptr) {
    }
  }
  std::fclose(maps);
  return found;
}

}  // namespace

BOOL VirtualProtect(LPVOID address, SIZE_T size, DWORD protection, PDWORD old_protection) {
  const plat_linux::errno_guard_t keep_errno;
  bool known = false;
  const int prot = to_prot(protection, known);
  if (address == nullptr || size == 0 || old_protection == nullptr || !known) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(address) & ~(page - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(address) + size;
  DWORD previous = 0;
  if (!current_protection(reinterpret_cast<uintptr_t>(address), previous)) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  if (mprotect(reinterpret_cast<void*>(start), end - start, prot) != 0) {
    SetLastError(errno == ENOMEM ? static_cast<DWORD>(ERROR_INVALID_ADDRESS) : static_cast<DWORD>(ERROR_ACCESS_DENIED));
    return FALSE;
  }
  *old_protection = previous;
  return TRUE;
}

int lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  for (;; ++a, ++b) {
    const int ca = std::tolower(static_cast<unsigned char>(*a));
    const int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}
