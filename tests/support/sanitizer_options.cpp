// Sanitizer settings baked into every test executable, so a test run by hand behaves as in CI:
// any report stops the process with a failure. umockdev's preload library has to come before
// the ASan runtime, hence verify_asan_link_order=0.
extern "C" {
const char* __asan_default_options() {
    return "verify_asan_link_order=0:detect_leaks=1:abort_on_error=1:halt_on_error=1";
}
const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }
const char* __tsan_default_options() { return "halt_on_error=1:second_deadlock_stack=1"; }
}
