/* A loadable module for the platform layer's loader tests. */
int vtest_module_answer(void);

int vtest_module_answer(void) { return 42; }
