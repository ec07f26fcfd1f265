// A module that holds resources only; its one function lets a test find it.
extern "C" __attribute__((visibility("default"))) int shvtest_resource_module() { return 1; }
