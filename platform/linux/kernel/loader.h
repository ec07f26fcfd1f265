// Windows library names to shared-object names (see loader.cpp).
#pragma once

#include <string>
#include <vector>

namespace plat_linux {
std::string shared_object_name(const std::string& windows_name);
std::vector<std::string> search_directories();
std::string program_directory();
std::string program_path();
}  // namespace plat_linux
