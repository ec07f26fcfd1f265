// healthval's registry script (the COM class, its ProgID and AppID).
#pragma once

#include <string>

namespace shv {
const std::string& registry_script();
}
