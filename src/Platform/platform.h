#pragma once

#include "Pavix/export.h"
#include "Platform/platform_exception.h"

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

namespace morvane::platform {

// Host queries. All operations are static and safe to call from any thread.
class PAVIX_EXPORT platform {
public:
    virtual ~platform() = default;

    // Absolute path of the running executable. Throws platform_exception when it cannot be
    // read in full.
    static std::string getExeFile();

    // The directory of the running executable joined with "udd".
    static std::string getUddPath();

    // No serial ports are reported by this query on this host.
    static std::vector<std::string> getSerialPorts();

    static int getPID();

    // True when the path has a root directory.
    static bool isPathRooted(const boost::filesystem::path& p);
    static bool isPathRooted(const char* p);

    static bool jlinkInstalled();

    static const std::string UddPath;
};

}  // namespace morvane::platform
