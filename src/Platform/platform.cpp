#include "Platform/platform.h"

#include <unistd.h>

namespace morvane::platform {

const std::string platform::UddPath = "~/.morvane/udd";

std::string platform::getExeFile() {
    char buf[1024] = {};
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    // readlink() does not terminate the text; its length is the returned count, and a full
    // buffer means the path may have been cut.
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf)
        throw platform_exception("cannot read link '/proc/self/exe'");
    return std::string(buf, static_cast<size_t>(n));
}

}  // namespace morvane::platform
