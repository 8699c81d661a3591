#include "DeviceMgr/database/devicedb_device.h"

#include "DeviceMgr/devices/supported_host_protocols.h"

#include <utility>

namespace morvane::devices {

namespace proto = supported_host_protocols;

devicedb_device::devicedb_device(std::string name) : m_name(std::move(name)) {}

template <typename Pred>
devicedb_device::config_ptr devicedb_device::findFirst(Pred pred) const {
    for (const auto& c : m_configs)
        if (c && pred(*c)) return c;
    return nullptr;
}

devicedb_device::config_ptr devicedb_device::getHidByVidPidIfs(unsigned short vid, unsigned short pid,
                                                               unsigned short ifs) const {
    return findFirst([&](const devicedb_config& c) {
        return c.getProtocol() == proto::hid && c.getVID() == vid && c.getPID() == pid &&
               (ifs == 0xFFFF || c.getInterface() == ifs);
    });
}

devicedb_device::config_ptr devicedb_device::getHidByVidPidIfsPlatfid(unsigned short vid, unsigned short pid,
                                                                      unsigned short ifs,
                                                                      unsigned char platf) const {
    return findFirst([&](const devicedb_config& c) {
        return c.getProtocol() == proto::hid && c.getVID() == vid && c.getPID() == pid &&
               (ifs == 0xFFFF || c.getInterface() == ifs) && c.getPlatformId() == platf;
    });
}

devicedb_device::config_ptr devicedb_device::getBulkByVidPid(unsigned short vid, unsigned short pid) const {
    return findFirst([&](const devicedb_config& c) {
        return c.getProtocol() == proto::bulk && c.getVID() == vid && c.getPID() == pid;
    });
}

devicedb_device::config_ptr devicedb_device::getBulkByVidPidIfs(unsigned short vid, unsigned short pid,
                                                                int ifs) const {
    return findFirst([&](const devicedb_config& c) {
        return c.getProtocol() == proto::bulk && c.getVID() == vid && c.getPID() == pid &&
               static_cast<int>(c.getInterface()) == ifs;
    });
}

devicedb_device::config_ptr devicedb_device::getBulkByVidPidPlatfid(unsigned short vid, unsigned short pid,
                                                                    unsigned char platf) const {
    return findFirst([&](const devicedb_config& c) {
        return c.getProtocol() == proto::bulk && c.getVID() == vid && c.getPID() == pid &&
               c.getPlatformId() == platf;
    });
}

devicedb_device::config_ptr devicedb_device::getSerialByVidPid(unsigned short vid, unsigned short pid) const {
    return findFirst([&](const devicedb_config& c) {
        return c.getProtocol() == proto::serial && c.getVID() == vid && c.getPID() == pid;
    });
}

devicedb_device::config_ptr devicedb_device::getSerialByVidPidPlatfid(unsigned short vid, unsigned short pid,
                                                                      unsigned char platf) const {
    return findFirst([&](const devicedb_config& c) {
        return c.getProtocol() == proto::serial && c.getVID() == vid && c.getPID() == pid &&
               c.getPlatformId() == platf;
    });
}

}  // namespace morvane::devices
