// Locale names of the environment to Windows locale ids.
#pragma once

#include "platform/linux/win32_types.h"

namespace plat_linux {
// "de_AT.UTF-8" -> 0x0C07, "de" -> 0x0407; 0 for an unknown or malformed name.
LCID lcid_from_locale_name(const char* name);
// From LC_ALL, LC_MESSAGES, LANG (first one set); 0x0409 when none names a
// known language.
LCID lcid_from_environment();
}  // namespace plat_linux
