// The dialog manager's entry for a modal dialog whose template has been read
// (see dialog_api.h); the modules' DialogBoxIndirectParamW call it.
#pragma once

#include "platform/linux/dialog/dialog_template.h"
#include "platform/linux/dialog/dialog_api.h"

SHV_SEAM_API INT_PTR shv_seam_dialog_box(const plat::dialog_desc_t& desc, HWND parent, DLGPROC proc, LPARAM param);
