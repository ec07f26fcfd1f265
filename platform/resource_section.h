// Where a module keeps its resources: the root of its resource directory (the
// Windows resource-section layout) and the base its data offsets count from.
#pragma once

#include "platform/win32.h"

namespace plat {

struct resource_section_t {
  const BYTE* root = nullptr;        // the root resource directory
  DWORD size = 0;                    // bytes from root that belong to the section
  const BYTE* image_base = nullptr;  // data entries' offsets count from here
};

// The module's own resource section (the main program's for null); false when
// it has none.
#ifdef _WIN32
inline bool find_resource_section(HMODULE module, resource_section_t& out) {
  if (module == nullptr) module = GetModuleHandleW(nullptr);
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (base == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
  if (dir.VirtualAddress == 0 || dir.Size == 0) return false;
  out.root = base + dir.VirtualAddress;
  out.size = dir.Size;
  out.image_base = base;
  return true;
}
#else
bool find_resource_section(HMODULE module, resource_section_t& out);
#endif

}  // namespace plat

#ifndef _WIN32
// A module embeds its section (generated from its resource data) with
// SHV_EMBED_RESOURCES; data offsets count from the section's start. The seam
// finds the exported function of this name in the module itself only. A
// function, not a table: every module defines the same name, and a data
// symbol of the host program would take the place of the module's own.
struct shv_embedded_resources_t {
  const unsigned char* data;
  unsigned size;
};
typedef const shv_embedded_resources_t* (*shv_embedded_resources_fn)();
#define SHV_EMBEDDED_RESOURCES_NAME "shv_embedded_resources"
#define SHV_EMBED_RESOURCES(data, size)                                                          \
  extern "C" __attribute__((visibility("default"))) const shv_embedded_resources_t*            \
  shv_embedded_resources() {                                                                     \
    static const shv_embedded_resources_t resources = {data, static_cast<unsigned>(size)};      \
    return &resources;                                                                           \
  }
#endif
