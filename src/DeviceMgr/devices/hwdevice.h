#pragma once

#include "DeviceMgr/api/hardware_device_api.h"
#include "DeviceMgr/api/interface_base.h"
#include "DeviceMgr/api/interface_desc.h"
#include "Logger/logmgr.h"
#include "Logger/tracer.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace morvane::devices {

// A device with an interface registry. The descriptor list says which interfaces the
// device offers; the map holds the objects. Device classes fill both.
//
// Threads: the registry operations take m_mutex (recursive), so they are safe against a
// concurrent close and may be re-entered from an interface's callbacks on the same thread.
class hwdevice : public devicemgrapi::hardware_device_api {
public:
    using interface_base = devicemgrapi::interface_base;
    using interface_desc = devicemgrapi::interface_desc;

    hwdevice(const std::string& description, logger::logmgr& log);
    ~hwdevice() override;

    bool hasInterface(InterfaceType type, unsigned short index) override;
    bool hasInterface(const interface_desc& desc) override;
    unsigned int numberOfInterfaces(InterfaceType type) override;
    const std::string& getDescription() const override;
    const std::list<interface_desc>& getInterfaceDescriptorList() const override;
    // ERR_NO_INTERFACE for an interface the device does not announce; an empty pointer for
    // one it announces but has no object for. Never changes the registry.
    std::shared_ptr<interface_base> getInterface(const interface_desc& desc) override;

    // Stores `iface` under (type, index), replacing an earlier object. The descriptor list is
    // not touched.
    void addInterface(const interface_desc& desc, const std::shared_ptr<interface_base>& iface);

    // The stored object under (type, index) as a T, or empty.
    template <typename T>
    std::shared_ptr<T> getInterfaceByType(InterfaceType type, unsigned short index) {
        auto t = m_tracer.trace("getInterfaceByType");
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        auto it = m_interfaces.find(interface_desc(type, index, nullptr));
        return it == m_interfaces.end() ? nullptr : std::dynamic_pointer_cast<T>(it->second);
    }

    // The device lock, for callers that change the device's state across several calls.
    std::recursive_mutex& getMutex() { return m_mutex; }

protected:
    std::map<interface_desc, std::shared_ptr<interface_base>> m_interfaces;
    uint64_t m_open_count = 0;
    std::recursive_mutex m_mutex;
    logger::logmgr* m_log;
    logger::tracer m_tracer;
    std::string m_description;
    std::list<interface_desc> m_interface_list;
};

}  // namespace morvane::devices
