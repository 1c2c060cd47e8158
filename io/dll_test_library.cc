// A vendor library stand-in for the DLL channel's tests. QVPA_TEST_EXPORT is the build's
// way of exporting a function from a shared library on this platform.
extern "C" QVPA_TEST_EXPORT int qvpa_test_add(int a, int b) { return a + b; }
