// Time spans as text: [D-]HH:MM:SS.mmm.
#pragma once

#include <string>

#include "kern/types.h"

std::string elapsed_time(timegap_t gap);
