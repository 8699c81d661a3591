#include "DeviceMgr/devices/usbhardwaredev.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "Logger/modules.h"

#include <utility>
#include <vector>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::logmgr;
using logger::logmsg;

usbhardwaredev::usbhardwaredev(std::shared_ptr<usbdevice> dev, const std::string& description, logmgr& log)
    : hwdevice(description, log), m_usbdevice(std::move(dev)) {
    if (!m_usbdevice)
        throw devmgr_exception(devmgr_exception::ERR_INVALID_ARGUMENT, "usbhardwaredev: no USB device object");
}

usbhardwaredev::~usbhardwaredev() = default;

void usbhardwaredev::open() { m_usbdevice->open(); }

bool usbhardwaredev::isOpen() { return m_usbdevice->isOpen(); }

void usbhardwaredev::close() {
    auto t = m_tracer.trace("shutdownInterfaces");
    std::unique_lock<std::recursive_mutex> lock(m_mutex);
    // A copy: a disable() may reach back into the registry on this thread.
    std::vector<std::pair<interface_desc, std::shared_ptr<interface_base>>> interfaces(m_interfaces.begin(),
                                                                                       m_interfaces.end());
    for (const auto& entry : interfaces) {
        if (!entry.second) continue;
        try {
            if (entry.second->isEnabled()) entry.second->disable();
        } catch (const std::exception& e) {
            logError(std::string("Error =  ") + e.what());
        } catch (...) {
            logError("Error =  unknown exception while disabling " + entry.first.getName());
        }
    }
    m_interfaces.clear();
    interfaces.clear();
    // The backend may take its manager's scan mutex: not under the device lock.
    lock.unlock();
    m_usbdevice->close();
}

void usbhardwaredev::modeSwitch(unsigned char) {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "modeSwitch is not supported by this device");
}

uint16_t usbhardwaredev::getVID() const { return m_usbdevice->getVID(); }

uint16_t usbhardwaredev::getPID() const { return m_usbdevice->getPID(); }

void usbhardwaredev::enableBridgeInterface(interface_base*) {}

void usbhardwaredev::disableBridgeInterface(interface_base* iface) {
    if (iface) iface->notifyDisable();
}

void usbhardwaredev::closeNoThrow() noexcept {
    try {
        close();
    } catch (const std::exception& e) {
        logError(std::string("Error =  ") + e.what());
    } catch (...) {
        logError("Error =  unknown exception while closing the device");
    }
}

void usbhardwaredev::logError(const std::string& text) noexcept {
    try {
        *m_log << logmsg(modules::Devmgr, logmsg::msgtype::Error, 0) << text << logmgr::end;
    } catch (...) {
        // Logging is best effort on error paths.
    }
}

}  // namespace morvane::devices
