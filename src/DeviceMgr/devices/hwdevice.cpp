#include "DeviceMgr/devices/hwdevice.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "Logger/modules.h"

#include <algorithm>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;

hwdevice::hwdevice(const std::string& description, logger::logmgr& log)
    : m_log(&log), m_tracer(log, modules::Devmgr), m_description(description) {
    auto t = m_tracer.trace("hwdevice");
}

hwdevice::~hwdevice() {
    try {
        auto t = m_tracer.trace("~hwdevice");
    } catch (...) {
        // Tracing must not turn a destruction into a termination.
    }
}

bool hwdevice::hasInterface(InterfaceType type, unsigned short index) {
    return hasInterface(interface_desc(type, index, nullptr));
}

bool hwdevice::hasInterface(const interface_desc& desc) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return std::find(m_interface_list.begin(), m_interface_list.end(), desc) != m_interface_list.end();
}

unsigned int hwdevice::numberOfInterfaces(InterfaceType type) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return static_cast<unsigned int>(std::count_if(m_interface_list.begin(), m_interface_list.end(),
                                                   [type](const interface_desc& d) { return d.getType() == type; }));
}

const std::string& hwdevice::getDescription() const { return m_description; }

const std::list<devicemgrapi::interface_desc>& hwdevice::getInterfaceDescriptorList() const {
    return m_interface_list;
}

std::shared_ptr<devicemgrapi::interface_base> hwdevice::getInterface(const interface_desc& desc) {
    auto t = m_tracer.trace("getInterface");
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!hasInterface(desc))
        throw devmgr_exception(devmgr_exception::ERR_NO_INTERFACE,
                               "Requesting an interface that does not exist on this device");
    auto it = m_interfaces.find(desc);
    return it == m_interfaces.end() ? nullptr : it->second;
}

void hwdevice::addInterface(const interface_desc& desc, const std::shared_ptr<interface_base>& iface) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // erase first: operator[] would keep the old key and with it the old description.
    m_interfaces.erase(desc);
    m_interfaces.emplace(desc, iface);
}

}  // namespace morvane::devices
