// The validator's event source under the Application log: its key names the
// module as the message file, so that the event viewer can show our texts.
#pragma once

#include <string>

#include "platform/com.h"

namespace shv {

// HKLM\<events::source_key>: EventMessageFile (REG_EXPAND_SZ) = module_path,
// TypesSupported (REG_DWORD) = 7; S_OK or the registry's error as HRESULT.
HRESULT register_event_source(const std::u16string& module_path);
// Removes the key with all it holds; S_OK also when there is none.
HRESULT unregister_event_source();

}  // namespace shv
