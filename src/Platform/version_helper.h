#pragma once

#include <boost/filesystem/path.hpp>

#include <string>

namespace morvane::util {

class version_helper {
public:
    // version := the first word of the first line of the file. When the file cannot be
    // opened, error := a message and version stays empty. Never throws for file problems.
    static void readVersionFromFile(boost::filesystem::path path, std::string& version,
                                    std::string& error);
};

}  // namespace morvane::util
