#pragma once

#include <map>
#include <string>

namespace morvane::devices {

class devicedb_device;

// One `configuration` of the device database: how one probe function shows itself to the
// host, how it is named, its properties and its kit text.
//
// Immutable after construction; any thread may read it without a lock. Held by shared
// pointer by its device record and by every hardware device created from it.
class devicedb_config {
public:
    devicedb_config(const devicedb_device* device, std::string name, std::string shortName,
                    unsigned short vid, unsigned short pid, std::string protocol,
                    unsigned short ifs, unsigned char platformId,
                    std::map<std::string, std::string> props = {}, std::string kits = {});
    virtual ~devicedb_config() = default;

    // The value stored under `name`; empty text when there is no such property (callers
    // test `getProps()` first when they need to tell the two apart).
    const std::string getPropertyValue(const std::string& name) const;
    bool hasProperty(const std::string& name) const { return m_props.count(name) != 0; }

    // The owning record; not owned, valid only while that record lives. Prefer
    // getDeviceName(), which stays valid for the life of this configuration.
    const devicedb_device* getDevice() const { return m_device; }
    const std::string& getDeviceName() const { return m_device_name; }
    const std::string& getName() const { return m_name; }
    const std::string& getShortName() const { return m_short_name; }
    unsigned short getVID() const { return m_vid; }
    unsigned short getPID() const { return m_pid; }
    const std::string& getProtocol() const { return m_protocol; }
    unsigned short getInterface() const { return m_interface; }
    const std::map<std::string, std::string>& getProps() const { return m_props; }
    const std::string& getKits() const { return m_kits; }
    unsigned char getPlatformId() const { return m_platform_id; }

private:
    const devicedb_device* m_device;
    std::string m_name;
    std::string m_short_name;
    unsigned short m_vid;
    unsigned short m_pid;
    std::string m_protocol;
    unsigned short m_interface;
    std::map<std::string, std::string> m_props;
    std::string m_kits;
    unsigned char m_platform_id;
    // A copy of the owning record's name: backends build short-lived records for devices the
    // database does not list, and a configuration may outlive them.
    std::string m_device_name;
};

}  // namespace morvane::devices
