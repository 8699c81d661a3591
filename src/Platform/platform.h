#pragma once

#include "Pavix/export.h"
#include "Platform/platform_exception.h"

#include <string>

namespace morvane::platform {

// Host queries. All operations are static.
class PAVIX_EXPORT platform {
public:
    virtual ~platform() = default;

    // Absolute path of the running executable. Throws platform_exception when it cannot be read.
    static std::string getExeFile();

    static const std::string UddPath;
};

}  // namespace morvane::platform
