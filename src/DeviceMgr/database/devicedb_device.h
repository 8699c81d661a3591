#pragma once

#include "DeviceMgr/database/devicedb_config.h"

#include <list>
#include <memory>
#include <string>

namespace morvane::devices {

// One `device` record of the database (a device family) with its configurations in
// document order. Filled while the database loads, read-only afterwards: lookups may run on
// any thread without a lock. The lookups never throw; "not found" is an empty pointer.
class devicedb_device {
public:
    using config_ptr = std::shared_ptr<devicedb_config>;

    explicit devicedb_device(std::string name);
    virtual ~devicedb_device() = default;

    const std::string& getName() const { return m_name; }
    const std::list<config_ptr>& getConfigs() const { return m_configs; }
    // Loading only: appends in document order.
    void addConfig(config_ptr config) { m_configs.push_back(std::move(config)); }

    // ifs 0xFFFF matches any interface.
    config_ptr getHidByVidPidIfs(unsigned short vid, unsigned short pid, unsigned short ifs) const;
    config_ptr getHidByVidPidIfsPlatfid(unsigned short vid, unsigned short pid, unsigned short ifs,
                                        unsigned char platf) const;
    config_ptr getBulkByVidPid(unsigned short vid, unsigned short pid) const;
    // No wildcard: ifs must equal the configured interface.
    config_ptr getBulkByVidPidIfs(unsigned short vid, unsigned short pid, int ifs) const;
    config_ptr getBulkByVidPidPlatfid(unsigned short vid, unsigned short pid, unsigned char platf) const;
    config_ptr getSerialByVidPid(unsigned short vid, unsigned short pid) const;
    config_ptr getSerialByVidPidPlatfid(unsigned short vid, unsigned short pid, unsigned char platf) const;

private:
    template <typename Pred>
    config_ptr findFirst(Pred pred) const;

    std::string m_name;
    std::list<config_ptr> m_configs;
};

}  // namespace morvane::devices
