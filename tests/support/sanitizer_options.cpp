// Sanitizer settings baked into every test executable, so a test run by hand behaves as in CI:
// any report stops the process with a failure. umockdev's preload library has to come before
// the ASan runtime, hence verify_asan_link_order=0.
extern "C" {
const char* __asan_default_options() {
    return "verify_asan_link_order=0:detect_leaks=1:abort_on_error=1:halt_on_error=1";
}
const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }
const char* __tsan_default_options() { return "halt_on_error=1:second_deadlock_stack=1"; }
// umockdev and GLib are not built with ThreadSanitizer: their own worker thread and the
// testbed calls race in ways TSan cannot see through. Reports from inside them are theirs,
// not ours; every frame of our code stays checked.
const char* __tsan_default_suppressions() {
    return "called_from_lib:libumockdev.so.0\n"
           "called_from_lib:libumockdev-preload.so.0\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           // libudev seeds a process-wide random pool with getrandom() from whichever thread
           // asks first; libusb and the bench both reach it.
           "called_from_lib:libudev.so.1\n"
           // The bench's ioctl handlers run on umockdev's thread, entered through GLib signal
           // emission (libffi); the node they read was published to that thread through
           // umockdev's socket, a hand-off TSan cannot see.
           "race:pavix_bench::node::cbIoctl\n";
}
}
