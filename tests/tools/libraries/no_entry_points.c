/* A shared library that loads but offers neither plug-in entry point. */
int vx_tests_unrelated_function(int x) { return x + 1; }
