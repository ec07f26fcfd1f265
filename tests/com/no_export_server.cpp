// A module registered as a server that does not export DllGetClassObject.
extern "C" __attribute__((visibility("default"))) int not_a_com_server() { return 0; }
