/* The sample library of the platform tests: one exported function whose answer shows that
   this library, and not another of the same name, was loaded. (MinGW exports every function
   of a DLL that marks none for export.) */
int platform_test_answer(void) {
    return 42;
}
