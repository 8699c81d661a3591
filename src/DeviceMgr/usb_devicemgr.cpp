#include "DeviceMgr/usb_devicemgr.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/devices/device_state_props.h"
#include "DeviceMgr/devices/identity_device.h"
#include "DeviceMgr/devices/supported_devices.h"
#include "DeviceMgr/devices/supported_host_protocols.h"
#include "Logger/logmgr.h"

#include <boost/filesystem/path.hpp>

#include <tuple>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using devicemgrapi::hardware_device_api;
using logger::logmgr;
namespace names = supported_devices;

std::shared_ptr<devicedb> usb_devicemgr::m_db_p;

namespace {
std::mutex g_db_mutex;  // guards m_db_p: two library objects may start at once
}

usb_devicemgr::usb_devicemgr(const char* name, logmgr& log, uint8_t platformId,
                             const std::shared_ptr<param_db>& store, std::recursive_mutex& scanMutex)
    : hwdev_manager(log, platformId), m_scan_mutex(scanMutex), m_name(name ? name : ""), m_params(store) {
    loadDatabase();
}

void usb_devicemgr::loadDatabase() {
    std::lock_guard<std::mutex> lock(g_db_mutex);
    if (m_db_p) return;
    const boost::filesystem::path dir(device_manager_dir::getFWDir());
    m_db_p = devicedb::shared(m_log, dir / "devdb.xml", dir / "devdb.xsd");
}

void usb_devicemgr::deviceConnectedOrDisconnected() { lookForDeviceChange(); }

void usb_devicemgr::startScanning(const char* logText) {
    m_log << m_mgr_message << logText << logmgr::end;
    std::lock_guard<std::recursive_mutex> lock(m_scan_mutex);
    m_started = true;
    lookForDeviceChange();
}

void usb_devicemgr::removeBackendObject(const std::string& location) {
    for (const auto& obj : m_backend_objects) {
        if (obj->getLocation() != location) continue;
        auto keep = obj;  // the object outlives the announcement
        removeUsbDevice(location);
        m_backend_objects.remove(keep);
        return;
    }
}

void usb_devicemgr::stopScanning() {
    std::lock_guard<std::recursive_mutex> lock(m_scan_mutex);
    m_started = false;
    for (const auto& obj : std::list<std::shared_ptr<usbdevice>>(m_backend_objects)) {
        try {
            if (obj->isOpen()) obj->close();
        } catch (const std::exception& e) {
            m_log << m_mgr_message << m_name << "_devicemgr::stop: close failed - " << e.what() << logmgr::end;
        }
        removeBackendObject(obj->getLocation());
    }
    m_backend_objects.clear();
}

std::shared_ptr<hardware_device_api> usb_devicemgr::createDevice(std::shared_ptr<devicedb_config> config,
                                                                 std::shared_ptr<usbdevice> dev,
                                                                 std::shared_ptr<devicedb> db,
                                                                 const boost::any& extra) {
    if (!config || !dev) return nullptr;
    const std::string& n = config->getName();
    const std::string& p = config->getProtocol();
    const std::string& d = config->getDeviceName();

    // Until a family's own device class exists, its branch makes an identity-only device.
    auto interim = [&] { return std::make_shared<identity_device>(dev, m_log, *config); };

    if (n == names::Tallvex2Name) return interim();
    if (n == names::JLinkName) return interim();
    const bool hidNames = n == names::Tl3CmsisDap1Name || n == names::Tl2CmsisDap1Name || n == names::Tallvex3Name ||
                          n == names::Nimbrel4Name || n == names::Nb4CmsisDap1Name;
    if (hidNames && p == supported_host_protocols::hid) return interim();
    const bool bulkNames = n == names::Tl3CmsisDap2Name || n == names::Nb4CmsisDap2Name || n == names::Tallvex3Name ||
                           n == names::Nimbrel4Name;
    if (bulkNames && p == supported_host_protocols::bulk) {
        try {
            (void)boost::any_cast<std::tuple<int, unsigned char, unsigned char>>(extra);
        } catch (const boost::bad_any_cast& e) {
            throw devmgr_exception(devmgr_exception::ERR_INVALID_ARGUMENT, e.what());
        }
        return interim();
    }
    if (n == names::DapLinkCmsisDap2Name) return interim();
    if (n == names::SerialName) return interim();
    if (d.find(names::SelvoWiFiName) != std::string::npos) return interim();
    if (d.find(names::SelvoBTName) != std::string::npos) return interim();
    if (n == names::BootloaderName) {
        const bool quickStart = m_params && m_params->has(device_state_props::QuickStart);
        (void)quickStart;
        return interim();
    }
    (void)db;
    return nullptr;
}

void usb_devicemgr::removeUsbDevice(const std::string& location) {
    for (const auto& device : getProgrammingDevices()) {
        auto usbdev = std::dynamic_pointer_cast<usbhardwaredev>(device);
        if (!usbdev || usbdev->getUsbDevice()->getLocation() != location) continue;
        m_log << m_mgr_message << "usb_devicemgr::removeDevice: location = " << location << logmgr::end;
        try {
            m_disconnected_signal(device);
        } catch (const boost::bad_function_call&) {
            m_log << m_mgr_message << "usb_devicemgr::removeDevice failed: location = " << location << logmgr::end;
            return;
        }
        std::lock_guard<std::recursive_mutex> lock(m_devices_mutex);
        m_programming_devices.remove(device);
        return;
    }
}

}  // namespace morvane::devices
