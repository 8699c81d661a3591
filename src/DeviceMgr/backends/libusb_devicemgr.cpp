#include "DeviceMgr/backends/libusb_devicemgr.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/database/devicedb_device.h"
#include "DeviceMgr/devices/device_state_props.h"
#include "DeviceMgr/devices/supported_devices.h"
#include "DeviceMgr/devices/supported_host_protocols.h"
#include "Logger/modules.h"
#include "Platform/sleep.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <regex>
#include <tuple>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::logmgr;
using logger::logmsg;

const std::string libusb_devicemgr::JlinkName = "JLink";

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The device list of one scan; freed (and its devices unreferenced) on every path.
struct device_list {
    libusb_device** list = nullptr;
    ssize_t count = 0;
    explicit device_list(libusb_context* ctx) { count = libusb_get_device_list(ctx, &list); }
    ~device_list() {
        if (list) libusb_free_device_list(list, 1);
    }
    device_list(const device_list&) = delete;
    device_list& operator=(const device_list&) = delete;
};

struct config_descriptor {
    libusb_config_descriptor* config = nullptr;
    int result = 0;
    config_descriptor(libusb_device* device, uint8_t index)
        : result(libusb_get_config_descriptor(device, index, &config)) {}
    ~config_descriptor() {
        if (config) libusb_free_config_descriptor(config);
    }
    config_descriptor(const config_descriptor&) = delete;
    config_descriptor& operator=(const config_descriptor&) = delete;
};

struct device_handle {
    libusb_device_handle* handle = nullptr;
    int result = 0;
    explicit device_handle(libusb_device* device) : result(libusb_open(device, &handle)) {}
    ~device_handle() {
        if (handle) libusb_close(handle);
    }
    device_handle(const device_handle&) = delete;
    device_handle& operator=(const device_handle&) = delete;
};

}  // namespace

libusb_devicemgr::libusb_devicemgr(logmgr& log, uint8_t platformId, const std::shared_ptr<param_db>& store,
                                   std::recursive_mutex& scanMutex)
    : usb_devicemgr("libusb", log, platformId, store, scanMutex), m_session(std::make_shared<libusb_session>()),
      m_tracer(log, modules::Devmgr) {
    auto trace = m_tracer.enterexit("libusb_devicemgr");
    const std::string supported = store ? store->get(device_state_props::SupportedDevices) : std::string();
    auto has = [&](unsigned int code) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08x", code);
        return supported.find(buf) != std::string::npos;
    };
    if (has(0)) {
        m_jlink_allowed = m_cmsis_allowed = m_wireless_allowed = m_tl3_bulk_allowed = true;
    } else {
        m_cmsis_allowed = has(1);
        m_jlink_allowed = has(32);
        m_wireless_allowed = has(64);
        m_tl3_bulk_allowed = has(2) || has(8);
    }
}

libusb_devicemgr::~libusb_devicemgr() {
    try {
        auto trace = m_tracer.enterexit("~libusb_devicemgr");
        m_log << m_mgr_message << "~libusb_devicemgr() Enter" << logmgr::end;
        if (m_started) stop();
    } catch (...) {
    }
    m_backend_objects.clear();
    try {
        m_log << m_mgr_message << "~jlink_devicemgr() Exit" << logmgr::end;
    } catch (...) {
    }
    // The context goes with the last device object still holding it.
}

bool libusb_devicemgr::isJlink(const libusb_device_descriptor& d) {
    if (d.idVendor != 0x1366) return false;
    return (d.idProduct >= 0x0101 && d.idProduct <= 0x0108) || (d.idProduct >= 0x1001 && d.idProduct <= 0x102F);
}

std::string libusb_devicemgr::formatLocation(uint8_t bus, const uint8_t* ports, int count) {
    std::string location = std::to_string(static_cast<int>(bus)) + ":";
    for (int i = 0; i < count; ++i) {
        if (i) location += ",";
        location += std::to_string(static_cast<int>(ports[i]));
    }
    return location;
}

std::shared_ptr<devicedb_config> libusb_devicemgr::makeJLinkConfig(uint16_t vid, uint16_t pid) {
    auto record = std::make_shared<devicedb_device>(JlinkName);
    // The record is not in any database: the configuration's deleter keeps it alive, so
    // getDevice() stays valid for as long as anyone holds the configuration.
    return std::shared_ptr<devicedb_config>(
        new devicedb_config(record.get(), JlinkName, JlinkName, vid, pid, supported_host_protocols::bulk, 0, 0),
        [record](devicedb_config* c) { delete c; });
}

bool libusb_devicemgr::interfaceAllowed(const std::string& configName, const std::string& deviceName,
                                        const std::string& interfaceText) const {
    const bool wireless = contains(deviceName, supported_devices::SelvoWiFiName);
    if (contains(configName, supported_devices::CmsisDapName)) return m_cmsis_allowed && (!wireless || m_wireless_allowed);
    if (wireless && !m_wireless_allowed) return false;
    static const std::regex products(supported_devices::Tallvex3Name + "|" + supported_devices::Nimbrel4Name,
                                     std::regex::ECMAScript);
    static const std::regex bridge("tallvex3|nimbrel4 bridge", std::regex::ECMAScript);
    if (std::regex_search(deviceName, products) && std::regex_search(lower(interfaceText), bridge))
        return m_tl3_bulk_allowed;
    return true;
}

void libusb_devicemgr::start() {
    auto trace = m_tracer.enterexit("start");
    startScanning("libusb_devicemgr initializing");
}

void libusb_devicemgr::deviceConnectedOrDisconnected() {
    auto trace = m_tracer.enterexit("deviceConnectedOrDisconnected");
    lookForDeviceChange();
}

void libusb_devicemgr::lookForDeviceChange() {
    auto trace = m_tracer.enterexit("lookForDeviceChange");
    std::lock_guard<std::recursive_mutex> lock(m_scan_mutex);
    if (!m_started) return;
    platform::sleepFor(std::chrono::milliseconds(200));
    m_log << m_mgr_message << "libusb_devicemgr lookForDeviceChange() Enter" << logmgr::end;
    {
        device_list devices(m_session->get());
        if (devices.count < 0) {
            m_log << logmsg(modules::Devmgr, logmsg::msgtype::Error, 1) << logmgr::hex << "Error "
                  << static_cast<long>(devices.count) << " requesting USB device list via libusb_get_device_list"
                  << logmgr::end;
        } else {
            m_log << m_mgr_message << logmgr::hex << "libusb_devicemgr::lookForDeviceChange. Number of connected devices = "
                  << static_cast<long>(devices.count) << logmgr::end;
            for (const auto& obj : std::list<std::shared_ptr<usbdevice>>(m_backend_objects)) {
                if (!found(obj->getLocation(), obj->getVID(), obj->getPID(), devices.count, devices.list))
                    removeDevice(obj->getLocation());
            }
            for (ssize_t i = 0; i < devices.count; ++i) {
                try {
                    addDevice(devices.list[i]);
                } catch (const std::exception& e) {
                    // Tried again on the next scan.
                    m_log << m_mgr_message << "libusb_devicemgr addDevice() Failed: " << e.what() << logmgr::end;
                } catch (...) {
                }
            }
        }
    }
    m_log << m_mgr_message << "libusb_devicemgr lookForDeviceChange() Exit" << logmgr::end;
}

std::string libusb_devicemgr::getLocation(libusb_device* device) {
    auto trace = m_tracer.enterexit("getLocation");
    uint8_t ports[m_max_port_depth] = {};
    int count = libusb_get_port_numbers(device, ports, m_max_port_depth);
    if (count == LIBUSB_ERROR_OVERFLOW)
        m_log << logmsg(modules::Devmgr, logmsg::msgtype::Warning, 1)
              << "libusb_get_port_numbers() failed - path to the device to too long (> 32 levels)" << logmgr::end;
    return formatLocation(libusb_get_bus_number(device), ports, count);
}

bool libusb_devicemgr::found(const std::string& location, uint16_t vid, uint16_t pid, ssize_t count,
                             libusb_device** list) {
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != 0) continue;
        if (d.idVendor == vid && d.idProduct == pid && getLocation(list[i]) == location) return true;
    }
    return false;
}

bool libusb_devicemgr::deviceExists(const std::string& location, uint16_t vid, uint16_t pid) const {
    for (const auto& obj : m_backend_objects)
        if (obj->getLocation() == location && obj->getVID() == vid && obj->getPID() == pid) return true;
    return false;
}

bool libusb_devicemgr::deviceExists(const std::string& location, uint16_t vid, uint16_t pid,
                                    int interfaceNumber) const {
    for (const auto& obj : m_backend_objects)
        if (obj->getLocation() == location && obj->getVID() == vid && obj->getPID() == pid &&
            obj->getCurrentInterface() == interfaceNumber)
            return true;
    return false;
}

libusb_devicemgr::interface_config libusb_devicemgr::getUsbInterfaceConfig(libusb_device* device,
                                                                           int interfaceNumber) {
    config_descriptor cfg(device, 0);
    if (cfg.result != 0 || !cfg.config)
        throw devmgr_exception(devmgr_exception::ERR_NOT_FOUND, "Could not get libusb config descriptor");
    if (interfaceNumber < 0 || interfaceNumber >= cfg.config->bNumInterfaces)
        throw devmgr_exception(devmgr_exception::ERR_INVALID_ARGUMENT, "Invalid 'interface_num' argument passed");
    const libusb_interface& iface = cfg.config->interface[interfaceNumber];
    if (iface.num_altsetting < 1 || iface.altsetting[0].bNumEndpoints == 0)
        throw devmgr_exception(devmgr_exception::ERR_NOT_FOUND, "Failed to get number of endpoints");
    const libusb_interface_descriptor& alt = iface.altsetting[0];

    interface_config out;
    {
        device_handle h(device);
        if (h.result != 0 || !h.handle)
            throw devmgr_exception(devmgr_exception::ERR_PATH_TOO_LONG, "Failed to open libusb device");
        unsigned char buf[128] = {};
        const int n = alt.iInterface ? libusb_get_string_descriptor_ascii(h.handle, alt.iInterface, buf, sizeof buf)
                                     : 0;
        if (n < 0)
            m_log << m_mgr_message << "Could not get string descriptor for iface: " << interfaceNumber << logmgr::end;
        else
            out.text.assign(reinterpret_cast<const char*>(buf),
                            std::find(buf, buf + std::min<int>(n, sizeof buf), '\0') - buf);
    }
    for (int e = 0; e < alt.bNumEndpoints; ++e) {
        const uint8_t address = alt.endpoint[e].bEndpointAddress;
        if (address & LIBUSB_ENDPOINT_IN)
            out.endpointIn = address;
        else
            out.endpointOut = address;
    }
    m_log << m_mgr_message << "\t\t Interface # [" << interfaceNumber << "] is in bulk, descriptor: " << out.text
          << logmgr::end;
    m_log << m_mgr_message << logmgr::hex << "\t\t Endpoints: " << static_cast<int>(alt.bNumEndpoints)
          << ", ep_in: " << static_cast<int>(out.endpointIn) << ", ep_out: " << static_cast<int>(out.endpointOut)
          << logmgr::end;
    return out;
}

void libusb_devicemgr::addDevice(libusb_device* device) {
    auto trace = m_tracer.enterexit("addDevice");
    libusb_device_descriptor descriptor{};
    const int rc = libusb_get_device_descriptor(device, &descriptor);
    if (rc != 0) {
        m_log << logmsg(modules::Devmgr, logmsg::msgtype::Warning, 1) << logmgr::hex
              << "libusb_get_device_descriptor() failed - error code " << rc << ", this device has been skipped"
              << logmgr::end;
        return;
    }
    const uint16_t vid = descriptor.idVendor;
    const uint16_t pid = descriptor.idProduct;
    m_log << m_mgr_message << logmgr::hex << "libusb_devicemgr::addDevice: processing VID=" << static_cast<int>(vid)
          << " PID = " << static_cast<int>(pid) << logmgr::end;
    if (isJlink(descriptor)) {
        if (m_jlink_allowed) addJLink(device, descriptor);
        return;
    }
    if (!m_db_p || !m_db_p->getBulkConfig(vid, pid)) return;
    const std::string location = getLocation(device);
    if (location.empty()) return;

    config_descriptor cfg(device, 0);
    if (cfg.result != 0 || !cfg.config)
        throw devmgr_exception(devmgr_exception::ERR_NOT_FOUND, "Could not get libusb config descriptor");
    for (int i = 0; i < cfg.config->bNumInterfaces; ++i) {
        const libusb_interface& iface = cfg.config->interface[i];
        if (iface.num_altsetting < 1) continue;
        const uint8_t cls = iface.altsetting[0].bInterfaceClass;
        if (cls != LIBUSB_CLASS_PER_INTERFACE && cls != LIBUSB_CLASS_VENDOR_SPEC) continue;

        const interface_config ifc = getUsbInterfaceConfig(device, i);
        auto config = m_db_p->getBulkConfigEx(vid, pid, i);
        if (!config) {
            m_log << m_mgr_message << "\t\t Bulk config not found for Interface number: " << i << logmgr::end;
            continue;
        }
        m_log << m_mgr_message << "\t\t Found Bulk devicedb config: " << config->getName() << logmgr::end;
        if (!interfaceAllowed(config->getName(), config->getDeviceName(), ifc.text)) continue;
        m_log << m_mgr_message << logmgr::hex << "libusb_devicemgr::addDevice: VID=" << static_cast<int>(vid)
              << " PID = " << static_cast<int>(pid) << " Interface number = " << i << " Location =" << location
              << logmgr::end;
        if (deviceExists(location, vid, pid, i)) continue;
        auto obj = LibusbDeviceFactory::create(config->getDeviceName(), *this, device, location, descriptor, i,
                                               ifc.endpointIn, ifc.endpointOut);
        attach(config, obj, i, ifc.endpointIn, ifc.endpointOut);
    }
}

void libusb_devicemgr::addJLink(libusb_device* device, const libusb_device_descriptor& descriptor) {
    auto config = makeJLinkConfig(descriptor.idVendor, descriptor.idProduct);
    const std::string location = getLocation(device);
    if (location.empty()) return;
    m_log << m_mgr_message << logmgr::hex << "libusb_devicemgr::addJLink: VID=" << static_cast<int>(descriptor.idVendor)
          << " Location =" << location << logmgr::end;
    if (deviceExists(location, descriptor.idVendor, descriptor.idProduct)) return;
    auto obj = LibusbDeviceFactory::create(JlinkName, *this, device, location, descriptor, 0, 0, 0);
    attach(config, obj, 0, 0, 0);
}

void libusb_devicemgr::attach(const std::shared_ptr<devicedb_config>& config,
                              const std::shared_ptr<libusb_deviceobj>& obj, int interfaceNumber, uint8_t endpointIn,
                              uint8_t endpointOut) {
    m_log << m_mgr_message << "\t\tlibusb_deviceobj created" << logmgr::end;
    const boost::any extra = std::tuple<int, unsigned char, unsigned char>(interfaceNumber, endpointIn, endpointOut);
    auto device = createDevice(config, obj, m_db_p, extra);
    if (!device) {
        m_log << m_mgr_message << "\t\t LibUSB createDevice is nullptr" << logmgr::end;
        return;
    }
    m_log << m_mgr_message << "\t\t LibUSB createDevice is successful" << logmgr::end;
    m_backend_objects.push_back(obj);
    addProgrammingDevice(device);
    m_connected_signal(device);
}

void libusb_devicemgr::removeDevice(const std::string& location) {
    auto trace = m_tracer.enterexit("removeDevice");
    removeBackendObject(location);
}

void libusb_devicemgr::stop() { stopScanning(); }

std::shared_ptr<libusb_deviceobj> LibusbDeviceFactory::create(const std::string& recordName,
                                                              libusb_devicemgr& manager, libusb_device* device,
                                                              const std::string& location,
                                                              const libusb_device_descriptor& descriptor,
                                                              int interfaceNumber, uint8_t endpointIn,
                                                              uint8_t endpointOut) {
    const bool productFromInterface =
        recordName != libusb_devicemgr::JlinkName && recordName != supported_devices::DapLinkName;
    return std::make_shared<libusb_deviceobj>(manager.getLog(), manager.getScanMutex(), manager.getSession(), device,
                                              recordName, location, descriptor, interfaceNumber, endpointIn,
                                              endpointOut, productFromInterface);
}

}  // namespace morvane::devices
