#include "Platform/version_helper.h"

#include "Logger/format.h"

#include <boost/filesystem/operations.hpp>

#include <cctype>
#include <fstream>

namespace morvane::util {

void version_helper::readVersionFromFile(boost::filesystem::path path, std::string& version,
                                         std::string& error) {
    version.clear();
    error.clear();

    boost::system::error_code ec;
    std::ifstream in;
    // A directory opens as a stream on this host but cannot be read: report it like a
    // missing file.
    if (!boost::filesystem::is_directory(path, ec)) in.open(path.string());
    if (!in.is_open()) {
        error = logger::fmt(logger::translate("Cannot open version file '{1}' for reading"),
                            path.string());
        return;
    }

    std::string line;
    std::getline(in, line);
    size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    size_t j = i;
    while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
    version = line.substr(i, j - i);
}

}  // namespace morvane::util
