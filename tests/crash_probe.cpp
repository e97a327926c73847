// Crashes on purpose. CTest expects it to fail within seconds: under Wine a
// crashed test must end at once rather than wait in a debugger until the
// test's time limit (scripts/wine-run turns the debugger off).
int main() {
    *static_cast<volatile int*>(nullptr) = 1;
    return 0;
}
