#include "DeviceMgr/device_manager_dir.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "Logger/modules.h"
#include "Platform/platform.h"

#include <boost/filesystem/path.hpp>

#include <algorithm>
#include <cctype>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::logmgr;
using logger::logmsg;

const std::set<std::string> device_manager_dir::m_supported_props = {"nojlink", "nolibusb", "noserial",
                                                                      "novxusb"};

namespace {

std::mutex g_static_mutex;  // guards the two statics below
std::string g_base_dir_path;
std::unique_ptr<backend_factory> g_factory;

std::string toLower(const std::string& s) {
    std::string out(s);
    // std::tolower is undefined for negative char values; UTF-8 bytes are >= 0x80.
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

void takeProperty(std::map<std::string, std::string>& props, const char* key, param_db& store) {
    auto it = props.find(key);
    store.set(key, it == props.end() ? std::string() : it->second);
    if (it != props.end()) props.erase(it);
}

}  // namespace

std::shared_ptr<device_manager_dir> device_manager_dir::create(const char* name, logmgr& log,
                                                               std::map<std::string, std::string>& props) {
    return std::make_shared<device_manager_dir>(name, log, props);
}

device_manager_dir::device_manager_dir(const char* name, logmgr& log,
                                       std::map<std::string, std::string>& props)
    : device_manager_api(name ? name : ""), m_log(log), m_tracer(log, modules::Devmgr),
      m_params(std::make_shared<param_db>()) {
    auto trace = m_tracer.enterexit("device_manager_dir");

    takeProperty(props, "supported_devices", *m_params);
    takeProperty(props, "hid_access_mode", *m_params);

    for (const auto& [key, value] : props) {
        if (m_supported_props.count(key) == 0) {
            std::string text = "Invalid device manager property provided!\nAllowed properties:";
            for (const auto& allowed : m_supported_props) text += " '" + allowed + "'";
            throw devmgr_exception(devmgr_exception::ERR_INVALID_ARGUMENT, text);
        }
        if (value != "true" && value != "false")
            throw devmgr_exception(devmgr_exception::ERR_INVALID_ARGUMENT,
                                   "Invalid device manager property value provided!");
    }

    // The database loader of the first manager needs the firmware directory.
    getFWDir();

    backend_factory factory;
    {
        std::lock_guard<std::mutex> lock(g_static_mutex);
        factory = g_factory ? *g_factory : defaultBackendFactory();
    }
    if (factory.createManagers) factory.createManagers(*this, m_log, m_params, m_scan_mutex);

    m_device_wait_timeout = 10000;
    m_initializing = false;

    if (factory.createDetector) {
        if (auto detector = factory.createDetector(m_log)) m_hardware_detectors.push_back(detector);
    }
}

device_manager_dir::~device_manager_dir() {
    auto trace = m_tracer.enterexit("~device_manager_dir");
    // Detectors go first: stopping them joins their thread, so no rescan is still running on
    // it while the managers below are stopped and released (a detector may outlive this
    // object for a moment if its thread holds it).
    for (const auto& detector : m_hardware_detectors) {
        try {
            detector->stopHardwareDetection();
        } catch (...) {
        }
    }
    m_hardware_detectors.clear();
    for (const auto& info : m_hardware_managers) {
        try {
            info->connected.disconnect();
            info->disconnected.disconnect();
            info->manager->stop();
        } catch (const std::exception& e) {
            m_log << logmsg("devicemgr", logmsg::msgtype::Error, 0) << "Destroy device_manager_dir failed - "
                  << e.what() << logmgr::end;
        } catch (...) {
            m_log << logmsg("devicemgr", logmsg::msgtype::Error, 0)
                  << "Destroy device_manager_dir failed - unknown error" << logmgr::end;
        }
    }
    m_params.reset();
    m_notice.clear();
    m_connected_signal.disconnect_all_slots();
    m_disconnected_signal.disconnect_all_slots();
    m_hardware_managers.clear();
}

void device_manager_dir::connectHardwareManager(const char* name, std::shared_ptr<hwdev_manager> manager) {
    auto trace = m_tracer.enterexit("connectHardwareManager");
    auto info = std::make_shared<hardware_manager_info>();
    info->name = name ? name : "";
    info->manager = manager;
    info->connected = manager->m_connected_signal.connect(
        [this](device_ptr d) { deviceConnectedEventHandler(std::move(d)); });
    info->disconnected = manager->m_disconnected_signal.connect(
        [this](device_ptr d) { deviceDisconnectedEventHandler(std::move(d)); });
    m_hardware_managers.push_back(info);
    if (auto detector = std::dynamic_pointer_cast<hardware_detector>(manager))
        m_hardware_detectors.push_back(detector);
}

void device_manager_dir::initialize() {
    auto trace = m_tracer.enterexit("initialize");
    struct initializing_scope {
        bool& flag;
        explicit initializing_scope(bool& f) : flag(f) { flag = true; }
        ~initializing_scope() { flag = false; }
    } scope(m_initializing);

    for (const auto& detector : m_hardware_detectors) {
        detector->m_hardware_changed.connect([this] { hardwareChange(); });
        detector->startHardwareDetection();
    }
    for (const auto& info : m_hardware_managers) {
        try {
            info->manager->start();
        } catch (const devmgr_exception& e) {
            m_log << logmsg(modules::Devmgr, logmsg::msgtype::Warning, 0) << "Cannot initialize hardware manager '"
                  << info->name << "' - " << e.what() << logmgr::end;
            throw;
        }
    }
}

bool device_manager_dir::isInitializing() { return m_initializing; }

void device_manager_dir::shutdown() {
    auto trace = m_tracer.enterexit("shutdown");
    for (const auto& info : m_hardware_managers) info->manager->stop();
}

void device_manager_dir::hardwareChange() {
    auto trace = m_tracer.enterexit("hardwareChange");
    for (const auto& info : m_hardware_managers) info->manager->lookForDeviceChange();
}

void device_manager_dir::deviceConnectedEventHandler(device_ptr device) {
    auto trace = m_tracer.enterexit("deviceConnectedEventHandler");
    if (device) m_notice.add(device->getHardwareID());
    m_connected_signal(device);
}

void device_manager_dir::deviceDisconnectedEventHandler(device_ptr device) {
    auto trace = m_tracer.enterexit("deviceDisconnectedEventHandler");
    m_disconnected_signal(device);
}

void device_manager_dir::getConnectedProgrammingDevices(std::list<device_ptr>& out) {
    auto trace = m_tracer.enterexit("getConnectedProgrammingDevices");
    for (const auto& info : m_hardware_managers) {
        auto devices = info->manager->getProgrammingDevices();
        out.insert(out.end(), devices.begin(), devices.end());
    }
}

device_manager_dir::device_ptr device_manager_dir::getDeviceByHardwareID(const std::string& id) {
    auto trace = m_tracer.enterexit("getDeviceByHardwareID");
    const std::string wanted = toLower(id);
    for (const auto& info : m_hardware_managers) {
        for (const auto& device : info->manager->getProgrammingDevices())
            if (device && toLower(device->getHardwareID()) == wanted) return device;
    }
    return nullptr;
}

bool device_manager_dir::upgradeFirmware(const std::string&, const std::string&) {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "upgradeFirmware is not supported yet");
}

bool device_manager_dir::modeSwitch(const std::string&, uint8_t) {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "modeSwitch is not supported yet");
}

std::string device_manager_dir::getFWDirectory() { return getFWDir(); }

std::string device_manager_dir::getFWDir() {
    std::lock_guard<std::mutex> lock(g_static_mutex);
    if (g_base_dir_path.empty()) {
        boost::filesystem::path exe(platform::platform::getExeFile());
        g_base_dir_path = (exe.parent_path() / "firmware").string();
    }
    return g_base_dir_path;
}

void device_manager_dir::setBaseDirPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_static_mutex);
    g_base_dir_path = path;
}

void device_manager_dir::setBackendFactory(backend_factory factory) {
    std::lock_guard<std::mutex> lock(g_static_mutex);
    g_factory = std::make_unique<backend_factory>(std::move(factory));
}

void device_manager_dir::resetBackendFactory() {
    std::lock_guard<std::mutex> lock(g_static_mutex);
    g_factory.reset();
}

}  // namespace morvane::devices
