// A module without resources of its own that uses a module with resources, so
// that the loader's symbol search reaches the other module's section.
extern "C" int shvtest_resource_module();
extern "C" __attribute__((visibility("default"))) int shvtest_no_resource_module() {
  return shvtest_resource_module() + 1;
}
