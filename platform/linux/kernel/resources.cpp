// Stand-in for module resources: each module embeds its resource section
// (SHV_EMBED_RESOURCES) and the seam finds it by name in that module alone.
#include <dlfcn.h>
#include <link.h>

#include "platform/resource_section.h"

namespace {

// The loader's record of module (the main program for null), or null.
link_map* module_map(HMODULE module) {
  void* handle = module;
  void* own = nullptr;
  if (handle == nullptr) handle = own = dlopen(nullptr, RTLD_NOW);
  link_map* map = nullptr;
  if (handle == nullptr || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) map = nullptr;
  if (own != nullptr) dlclose(own);
  return map;
}

bool inside(const plat::resource_section_t& section, const void* p, size_t size) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(section.root);
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  return at >= start && at - start <= section.size && size <= section.size - (at - start);
}

// The bytes of a data entry, when entry and bytes lie inside module's section.
const BYTE* resource_bytes(HMODULE module, HRSRC resource, DWORD& size) {
  plat::resource_section_t section;
  const auto* entry = reinterpret_cast<const IMAGE_RESOURCE_DATA_ENTRY*>(resource);
  if (resource == nullptr || !plat::find_resource_section(module, section) ||
      !inside(section, entry, sizeof(*entry))) {
    return nullptr;
  }
  const uintptr_t start = static_cast<uintptr_t>(section.root - section.image_base);
  if (entry->OffsetToData < start || entry->OffsetToData - start > section.size ||
      entry->Size > section.size - (entry->OffsetToData - start)) {
    return nullptr;
  }
  size = entry->Size;
  return section.root + (entry->OffsetToData - start);
}

}  // namespace

namespace plat {

bool find_resource_section(HMODULE module, resource_section_t& out) {
  link_map* map = module_map(module);
  if (map == nullptr) return false;
  void* handle = module != nullptr ? static_cast<void*>(module) : dlopen(nullptr, RTLD_NOW);
  if (handle == nullptr) return false;
  void* symbol = dlsym(handle, SHV_EMBEDDED_RESOURCES_NAME);
  if (module == nullptr) dlclose(handle);
  if (symbol == nullptr) return false;
  // dlsym also searches the module's dependencies: only the module's own
  // section counts.
  Dl_info info{};
  link_map* owner = nullptr;
  if (dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0 || owner != map) {
    return false;
  }
  const shv_embedded_resources_t* embedded = reinterpret_cast<shv_embedded_resources_fn>(symbol)();
  if (embedded == nullptr || embedded->data == nullptr || embedded->size == 0) return false;
  out.root = embedded->data;
  out.size = embedded->size;
  out.image_base = embedded->data;
  return true;
}

}  // namespace plat

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  DWORD size = 0;
  const BYTE* data = resource_bytes(module, resource, size);
  if (data == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return const_cast<BYTE*>(data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  DWORD size = 0;
  if (resource_bytes(module, resource, size) == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return size;
}
