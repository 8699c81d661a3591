#include "DeviceMgr/backends/hidapi_devicemgr.h"

#include "DeviceMgr/backends/hidapi_deviceobj.h"
#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/devices/device_state_props.h"
#include "Logger/modules.h"
#include "Platform/sleep.h"

#include <chrono>

namespace morvane::devices {

using logger::logmgr;
using logger::logmsg;

namespace {

// hid_exit() releases process-wide state; it may run only when the last manager goes.
std::mutex g_hid_mutex;
int g_hid_users = 0;

void hidAcquire() {
    std::lock_guard<std::mutex> lock(g_hid_mutex);
    if (g_hid_users++ == 0) hid_init();
}

void hidRelease() {
    std::lock_guard<std::mutex> lock(g_hid_mutex);
    if (--g_hid_users == 0) hid_exit();
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Frees an enumeration on every path.
struct enumeration {
    hid_device_info* list = hid_enumerate(0, 0);
    ~enumeration() {
        if (list) hid_free_enumeration(list);
    }
};

}  // namespace

hidapi_devicemgr::hidapi_devicemgr(logmgr& log, uint8_t platformId, const std::shared_ptr<param_db>& store,
                                   std::recursive_mutex& scanMutex)
    : usb_devicemgr("hidapi", log, platformId, store, scanMutex), m_tracer(log, modules::Devmgr),
      m_param_store(store) {
    auto trace = m_tracer.enterexit("hidapi_devicemgr");
    const std::string supported = store ? store->get(device_state_props::SupportedDevices) : std::string();
    auto has = [&](unsigned int code) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08x", code);
        return supported.find(buf) != std::string::npos;
    };
    if (has(0)) {
        m_tl2_allowed = m_tl3_allowed = m_cmsis_allowed = true;
    } else {
        m_cmsis_allowed = has(1);
        if (has(2)) {
            m_tl2_allowed = m_tl3_allowed = true;
        } else {
            m_tl2_allowed = has(4);
            m_tl3_allowed = has(8);
        }
    }
    hidAcquire();
}

hidapi_devicemgr::~hidapi_devicemgr() {
    try {
        m_log << m_mgr_message << "~hidapi_devicemgr() Enter" << logmgr::end;
        if (m_started) stop();
        m_log << m_mgr_message << "~hidapi_devicemgr() Exit" << logmgr::end;
    } catch (...) {
    }
    m_backend_objects.clear();
    hidRelease();
}

bool hidapi_devicemgr::familyAllowed(const std::string& name) const {
    if (contains(name, "CMSIS-DAP")) return m_cmsis_allowed;
    if (contains(name, "Tallvex3") || contains(name, "Nimbrel4"))
        return m_tl3_allowed && (!contains(name, "Tallvex2") || m_tl2_allowed);
    if (contains(name, "Tallvex2")) return m_tl2_allowed;
    return true;
}

void hidapi_devicemgr::start() {
    auto trace = m_tracer.enterexit("start");
    startScanning("hidapi usb manager initializing");
}

void hidapi_devicemgr::deviceConnectedOrDisconnected() {
    auto trace = m_tracer.enterexit("deviceConnectedOrDisconnected");
    lookForDeviceChange();
}

void hidapi_devicemgr::lookForDeviceChange() {
    auto trace = m_tracer.enterexit("lookForDeviceChange");
    std::lock_guard<std::recursive_mutex> lock(m_scan_mutex);
    if (!m_started) return;
    m_log << m_mgr_message << "hidapi_devicemgr::lookForDeviceChange() Enter" << logmgr::end;
    platform::sleepFor(std::chrono::milliseconds(50));

    enumeration devices;
    for (const auto& obj : std::list<std::shared_ptr<usbdevice>>(m_backend_objects)) {
        if (!found(obj->getLocation(), obj->getVID(), obj->getPID(), devices.list)) removeDevice(obj->getLocation());
    }
    if (!devices.list) {
        m_log << m_mgr_message << "hid_enumerate returned NULL" << logmgr::end;
        return;
    }
    unsigned int count = 0;
    for (const hid_device_info* info = devices.list; info; info = info->next) {
        ++count;
        try {
            addDevice(info);
        } catch (const std::exception& e) {
            // Considered again on the next scan.
            m_log << m_mgr_message << "hidapi_devicemgr::addDevice failed - " << e.what() << logmgr::end;
        } catch (...) {
        }
    }
    m_log << m_mgr_message << "processed " << logmgr::hex << count << " hid devices" << logmgr::end;
}

bool hidapi_devicemgr::found(const std::string& location, uint16_t vid, uint16_t pid,
                             const hid_device_info* list) const {
    for (const hid_device_info* info = list; info; info = info->next)
        if (info->path && location == info->path && info->vendor_id == vid && info->product_id == pid) return true;
    return false;
}

bool hidapi_devicemgr::deviceExists(const std::string& location, uint16_t vid, uint16_t pid) const {
    for (const auto& obj : m_backend_objects)
        if (obj->getLocation() == location && obj->getVID() == vid && obj->getPID() == pid) return true;
    return false;
}

void hidapi_devicemgr::addDevice(const hid_device_info* info) {
    auto trace = m_tracer.enterexit("addDevice");
    m_log << m_mgr_message << logmgr::hex << "hidapi_devicemgr::addDevice: processing VID="
          << static_cast<int>(info->vendor_id) << " PID = " << static_cast<int>(info->product_id)
          << " Product =" << hidapi_deviceobj::narrow(info->product_string)
          << " Interface num =" << info->interface_number << logmgr::end;
    if (!m_db_p) return;
    auto config = m_db_p->getHIDConfig(info->vendor_id, info->product_id,
                                       static_cast<unsigned short>(info->interface_number));
    if (!config) return;
    if (!familyAllowed(config->getName())) return;
    if (!info->path) return;
    const std::string location = info->path;
    m_log << m_mgr_message << logmgr::hex << "hidapi_devicemgr::addDevice: VID=" << static_cast<int>(info->vendor_id)
          << " PID = " << static_cast<int>(info->product_id) << " Location =" << location
          << " Serial =" << hidapi_deviceobj::narrow(info->serial_number) << logmgr::end;
    if (deviceExists(location, info->vendor_id, info->product_id)) return;

    const std::string accessMode = m_param_store ? m_param_store->get(device_state_props::HidAccessMode) : "";
    auto obj = std::make_shared<hidapi_deviceobj>(m_log, m_scan_mutex, info, config->getDeviceName(), accessMode);
    m_log << m_mgr_message << "\t\thidapi_deviceobj created" << logmgr::end;
    auto device = createDevice(config, obj, m_db_p, boost::any());
    if (!device) {
        m_log << m_mgr_message << "\t\tcreateDevice is nullptr" << logmgr::end;
        return;
    }
    m_log << m_mgr_message << "\t\tcreateDevice is successful" << logmgr::end;
    m_backend_objects.push_back(obj);
    addProgrammingDevice(device);
    m_connected_signal(device);
}

void hidapi_devicemgr::removeDevice(const std::string& location) {
    auto trace = m_tracer.enterexit("removeDevice");
    removeBackendObject(location);
}

void hidapi_devicemgr::stop() { stopScanning(); }

}  // namespace morvane::devices
