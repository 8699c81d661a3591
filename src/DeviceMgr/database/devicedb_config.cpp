#include "DeviceMgr/database/devicedb_config.h"

#include "DeviceMgr/database/devicedb_device.h"

#include <utility>

namespace morvane::devices {

devicedb_config::devicedb_config(const devicedb_device* device, std::string name,
                                 std::string shortName, unsigned short vid, unsigned short pid,
                                 std::string protocol, unsigned short ifs,
                                 unsigned char platformId,
                                 std::map<std::string, std::string> props, std::string kits)
    : m_device(device),
      m_name(std::move(name)),
      m_short_name(std::move(shortName)),
      m_vid(vid),
      m_pid(pid),
      m_protocol(std::move(protocol)),
      m_interface(ifs),
      m_props(std::move(props)),
      m_kits(std::move(kits)),
      m_platform_id(platformId),
      m_device_name(device ? device->getName() : std::string()) {}

const std::string devicedb_config::getPropertyValue(const std::string& name) const {
    auto it = m_props.find(name);
    return it == m_props.end() ? std::string() : it->second;
}

}  // namespace morvane::devices
