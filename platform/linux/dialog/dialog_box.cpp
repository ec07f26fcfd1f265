// DialogBoxIndirectParamW: the module side of the dialog manager. The template
// is read only within the resource section that holds it, then the shared
// manager runs the dialog.
#include <string>

#include "platform/linux/dialog/dialog_manager.h"
#include "platform/resource_section.h"
#include "platform/win32.h"

INT_PTR DialogBoxIndirectParamW(HINSTANCE module, LPCDLGTEMPLATEW dialog_template, HWND parent, DLGPROC proc,
                                LPARAM param) {
  (void)module;  // controls of registered classes only: the module adds none
  if (parent != nullptr && !IsWindow(parent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(dialog_template);
  HMODULE holder = nullptr;
  plat::resource_section_t section;
  if (bytes == nullptr || proc == nullptr ||
      !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(bytes), &holder) ||
      !plat::find_resource_section(holder, section) || bytes < section.root ||
      bytes >= section.root + section.size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  plat::dialog_desc_t desc;
  std::string reason;
  if (!plat::parse_dialog_template(bytes, static_cast<size_t>(section.root + section.size - bytes), desc, reason)) {
    SetLastError(ERROR_INVALID_DATATYPE);
    return -1;
  }
  return shv_seam_dialog_box(desc, parent, proc, param);
}
