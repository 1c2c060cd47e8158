// A vendor library stand-in for the DLL channel's tests.
extern "C" __attribute__((visibility("default"))) int qvpa_test_add(int a, int b) { return a + b; }
