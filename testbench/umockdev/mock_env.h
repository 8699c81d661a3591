#pragma once

#include <string>

namespace pavix_bench {

// Throws std::runtime_error with a clear message unless the process runs under the umockdev
// preload (umockdev-wrapper or LD_PRELOAD=libumockdev-preload.so.0). A bench test must never
// pass silently against the real host.
void requireMockEnvironment();
// Whether the preload library is loaded (true before any testbed exists).
bool inMockEnvironment();

// The environment a child process needs to see the testbed (LD_PRELOAD and UMOCKDEV_DIR are
// inherited; sanitizer builds also need ASAN_OPTIONS=verify_asan_link_order=0).
void prepareChildEnvironment();

}  // namespace pavix_bench
