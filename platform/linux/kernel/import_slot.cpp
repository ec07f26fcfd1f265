// Import slots of an ELF module: the GOT entries its dynamic relocations
// (R_X86_64_JUMP_SLOT, R_X86_64_GLOB_DAT) fill with the address of a symbol
// from a shared library. The "DLL" of an import is the DT_NEEDED library
// that defines the symbol, named as the loader maps Windows names
// ("kernel32.dll" is libkernel32.so).
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/import_slot.h"
#include "platform/linux/kernel/loader.h"

namespace plat {

namespace {

struct dynamic_t {
  const char* strings = nullptr;
  size_t strings_size = 0;
  const ElfW(Sym)* symbols = nullptr;
  const ElfW(Rela)* plt = nullptr;
  size_t plt_size = 0;
  const ElfW(Rela)* rela = nullptr;
  size_t rela_size = 0;
  std::vector<size_t> needed;  // string offsets
};

// The loader relocates most pointers of a loaded module's dynamic section in
// place; a value below the load base is still an offset.
template <class T>
const T* pointer(ElfW(Addr) base, ElfW(Addr) value) {
  return reinterpret_cast<const T*>(value < base ? base + value : value);
}

bool read_dynamic(const link_map* map, dynamic_t& d) {
  if (map == nullptr || map->l_ld == nullptr) return false;
  const ElfW(Addr) base = map->l_addr;
  for (const ElfW(Dyn)* e = map->l_ld; e->d_tag != DT_NULL; ++e) {
    switch (e->d_tag) {
      case DT_STRTAB: d.strings = pointer<char>(base, e->d_un.d_ptr); break;
      case DT_STRSZ: d.strings_size = e->d_un.d_val; break;
      case DT_SYMTAB: d.symbols = pointer<ElfW(Sym)>(base, e->d_un.d_ptr); break;
      case DT_JMPREL: d.plt = pointer<ElfW(Rela)>(base, e->d_un.d_ptr); break;
      case DT_PLTRELSZ: d.plt_size = e->d_un.d_val; break;
      case DT_RELA: d.rela = pointer<ElfW(Rela)>(base, e->d_un.d_ptr); break;
      case DT_RELASZ: d.rela_size = e->d_un.d_val; break;
      case DT_NEEDED: d.needed.push_back(e->d_un.d_val); break;
      default: break;
    }
  }
  return d.strings != nullptr && d.symbols != nullptr;
}

const char* string_at(const dynamic_t& d, size_t offset) {
  return offset < d.strings_size ? d.strings + offset : nullptr;
}

// The final file-name part of a path.
const char* file_part(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// The slot of a relocation against symbol name (matched without regard to
// case) that the library handle defines; preferring the call slot
// (JUMP_SLOT) that calls go through over a data slot (GLOB_DAT).
void** find_in(const dynamic_t& d, ElfW(Addr) base, void* library, const char* function) {
  void** data_slot = nullptr;
  const struct {
    const ElfW(Rela)* table;
    size_t size;
  } tables[] = {{d.plt, d.plt_size}, {d.rela, d.rela_size}};
  for (const auto& t : tables) {
    if (t.table == nullptr) continue;
    for (size_t i = 0; i < t.size / sizeof(ElfW(Rela)); ++i) {
      const ElfW(Rela)& r = t.table[i];
      const auto type = ELF64_R_TYPE(r.r_info);
      if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) continue;
      const ElfW(Sym)& sym = d.symbols[ELF64_R_SYM(r.r_info)];
      const char* name = string_at(d, sym.st_name);
      if (name == nullptr || sym.st_shndx != SHN_UNDEF || lstrcmpiA(name, function) != 0) continue;
      // Defined by this library itself, not one it depends on.
      void* defined = dlsym(library, name);
      Dl_info where{};
      void* library_map = nullptr;
      link_map* owner = nullptr;
      if (defined == nullptr || dladdr1(defined, &where, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0 ||
          dlinfo(library, RTLD_DI_LINKMAP, &library_map) != 0 || owner != library_map) {
        continue;
      }
      void** slot = reinterpret_cast<void**>(base + r.r_offset);
      if (type == R_X86_64_JUMP_SLOT) return slot;
      if (data_slot == nullptr) data_slot = slot;
    }
  }
  return data_slot;
}

}  // namespace

void** find_import_slot(HMODULE module, const char* dll, const char* function, std::string& error) {
  const std::string dll_name = dll != nullptr ? dll : "";
  const std::string function_name = function != nullptr ? function : "";
  link_map* map = nullptr;
  dynamic_t d;
  if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !read_dynamic(map, d)) {
    error = "Module " + dll_name + " didn`t found in imports";
    return nullptr;
  }
  const std::string wanted = file_part(plat_linux::shared_object_name(dll_name).c_str());
  for (size_t offset : d.needed) {
    const char* needed = string_at(d, offset);
    if (needed == nullptr || lstrcmpiA(file_part(needed), wanted.c_str()) != 0) continue;
    void* library = dlopen(needed, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) continue;
    void** slot = find_in(d, map->l_addr, library, function_name.c_str());
    dlclose(library);
    if (slot != nullptr) return slot;
    error = "Function " + function_name + " didn`t found in imports for " + dll_name;
    return nullptr;
  }
  error = "Module " + dll_name + " didn`t found in imports";
  return nullptr;
}

}  // namespace plat
