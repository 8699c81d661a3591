#pragma once

#include "DeviceMgr/database/devicedb.h"
#include "Logger/logmgr.h"
#include "support/capture_sink.h"

#include <boost/filesystem.hpp>

#include <fstream>
#include <memory>
#include <string>

namespace pavix_test {

inline boost::filesystem::path shippedSchema() { return boost::filesystem::path(PAVIX_FIRMWARE_SRC_DIR) / "devdb.xsd"; }
inline boost::filesystem::path shippedDatabase() { return boost::filesystem::path(PAVIX_FIRMWARE_SRC_DIR) / "devdb.xml"; }

// A private directory for the files of one test, removed with the object.
class temp_dir {
public:
    temp_dir() : m_path(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("pavix-db-%%%%-%%%%")) {
        boost::filesystem::create_directories(m_path);
    }
    ~temp_dir() {
        boost::system::error_code ec;
        boost::filesystem::remove_all(m_path, ec);
    }
    const boost::filesystem::path& path() const { return m_path; }
    boost::filesystem::path write(const std::string& name, const std::string& content) const {
        auto p = m_path / name;
        std::ofstream(p.string(), std::ios::binary) << content;
        return p;
    }

private:
    boost::filesystem::path m_path;
};

// A log manager whose warnings and errors land in one capture sink.
struct captured_log {
    captured_log() {
        using t = morvane::logger::logmsg::msgtype;
        log.setSink(t::Warning, sink);
        log.setLevel(t::Warning, 10);
        log.setSink(t::Error, sink);
        log.setLevel(t::Error, 10);
    }
    morvane::logger::logmgr log;
    std::shared_ptr<capture_sink> sink = std::make_shared<capture_sink>();
};

// A database document from its three lists.
inline std::string dbXml(const std::string& devices, const std::string& props = "", const std::string& kits = "",
                         const std::string& rootAttrs = "major=\"1\"") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<devicedb " + rootAttrs + ">\n<props>" + props +
           "</props>\n<kits>" + kits + "</kits>\n<devices>" + devices + "</devices>\n</devicedb>\n";
}

}  // namespace pavix_test
