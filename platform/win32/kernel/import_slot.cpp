// Import slots of a PE module: the import address table entry that the import
// descriptor of a DLL pairs with an imported name.
#include "platform/import_slot.h"

namespace plat {

void** find_import_slot(HMODULE module, const char* dll, const char* function, std::string& error) {
  const std::string dll_name = dll != nullptr ? dll : "";
  const std::string function_name = function != nullptr ? function : "";
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const IMAGE_IMPORT_DESCRIPTOR* descriptor = nullptr;
  if (base != nullptr && dos->e_magic == IMAGE_DOS_SIGNATURE) {
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (nt->Signature == IMAGE_NT_SIGNATURE && dir.VirtualAddress != 0) {
      descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    }
  }
  for (; descriptor != nullptr && descriptor->Name != 0; ++descriptor) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), dll_name.c_str()) != 0) continue;
    const DWORD names_rva = descriptor->OriginalFirstThunk != 0 ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names_rva);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(const_cast<BYTE*>(base) + descriptor->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (lstrcmpiA(reinterpret_cast<const char*>(by_name->Name), function_name.c_str()) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
    error = "Function " + function_name + " didn`t found in imports for " + dll_name;
    return nullptr;
  }
  error = "Module " + dll_name + " didn`t found in imports";
  return nullptr;
}

}  // namespace plat
