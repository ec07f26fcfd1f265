// The slot through which a loaded module calls a function it imports: on
// Windows an entry of its import address table, on Linux a GOT entry that a
// dynamic relocation fills. The import hook rewrites such a slot.
#pragma once

#include <string>

#include "platform/win32.h"

namespace plat {

// The slot of function as module imports it from dll (names compared without
// regard to case), or null with the reason in error ("Module <dll> didn`t
// found in imports", "Function <function> didn`t found in imports for <dll>").
void** find_import_slot(HMODULE module, const char* dll, const char* function, std::string& error);

}  // namespace plat
