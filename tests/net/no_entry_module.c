/* A module without the IP driver's entry function. */
int vtest_no_entry_answer(void);

int vtest_no_entry_answer(void) { return 7; }
