// libpavix.so is built from the pavix_core archive as a whole; a shared library target
// still needs one source of its own.
