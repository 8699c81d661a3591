#include "umockdev/mock_env.h"

#include <umockdev.h>

#include <cstdlib>
#include <dlfcn.h>
#include <stdexcept>
#include <string>

namespace pavix_bench {

// umockdev_in_mock_environment() only answers true once a testbed exists (and caches its
// first answer), so ask the loader whether the preload library is in the process instead.
bool inMockEnvironment() {
    void* h = dlopen("libumockdev-preload.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (!h) return false;
    dlclose(h);
    return true;
}

void requireMockEnvironment() {
    if (!inMockEnvironment())
        throw std::runtime_error(
            "not running under the umockdev preload: start this program with umockdev-wrapper "
            "(or LD_PRELOAD=libumockdev-preload.so.0)");
}

void prepareChildEnvironment() {
    // The preload library must come before the sanitizer runtime in a child as well.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    if (asan.find("verify_asan_link_order") == std::string::npos) {
        if (!asan.empty()) asan += ":";
        asan += "verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
    }
}

}  // namespace pavix_bench
