// A small shared library for the loader tests: a "signature" export and one
// function.
extern "C" __attribute__((visibility("default"))) const char* signature() {
  return "kern test library 1.0";
}

extern "C" __attribute__((visibility("default"))) int kern_testlib_answer() { return 42; }
