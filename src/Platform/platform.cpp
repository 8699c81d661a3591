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

std::string platform::getUddPath() {
    return (boost::filesystem::path(getExeFile()).parent_path() / "udd").string();
}

std::vector<std::string> platform::getSerialPorts() { return {}; }

int platform::getPID() { return static_cast<int>(::getpid()); }

bool platform::isPathRooted(const boost::filesystem::path& p) { return p.has_root_directory(); }

bool platform::isPathRooted(const char* p) {
    return p != nullptr && boost::filesystem::path(p).has_root_directory();
}

bool platform::jlinkInstalled() { return true; }

}  // namespace morvane::platform
