#pragma once

#include "DeviceMgr/api/device_manager_api.h"
#include "DeviceMgr/connect_notice.h"
#include "DeviceMgr/hardware_detector.h"
#include "DeviceMgr/hwdev_manager.h"
#include "DeviceMgr/param_db.h"
#include "Logger/logmgr.h"
#include "Logger/tracer.h"

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace morvane::devices {

class device_manager_dir;

// How a new directory gets its hardware managers and hot-plug detector. The default builds
// the real backends; tests install fakes through device_manager_dir::setBackendFactory().
struct backend_factory {
    // Creates the managers and registers them, in order, with dir.connectHardwareManager().
    std::function<void(device_manager_dir& dir, logger::logmgr& log,
                       const std::shared_ptr<param_db>& params, std::recursive_mutex& scanMutex)>
        createManagers;
    // Creates the hot-plug detector; may return an empty pointer.
    std::function<std::shared_ptr<hardware_detector>(logger::logmgr& log)> createDetector;
};

// The single object through which the Bridge API reaches hardware: owns the hardware
// managers and the hot-plug detector, fans their events into two signals, answers lookups.
//
// Threads: client calls come from the client thread; rescans come from the detector thread.
// Every scan runs under the shared scan mutex; the signals and their slots run inside it.
class device_manager_dir : public devicemgrapi::device_manager_api {
public:
    using device_ptr = std::shared_ptr<devicemgrapi::hardware_device_api>;

    struct hardware_manager_info {
        boost::signals2::connection connected;
        boost::signals2::connection disconnected;
        std::string name;
        std::shared_ptr<hwdev_manager> manager;
    };

    static constexpr uint8_t ID_LIBUSB_MGR = 0;
    static constexpr uint8_t ID_SERIAL_MGR = 2;
    static constexpr uint8_t ID_HIDAPI_MGR = 3;
    static constexpr int m_max_num_bl_attempts = 8;
    static const std::set<std::string> m_supported_props;

    static std::shared_ptr<device_manager_dir> create(const char* name, logger::logmgr& log,
                                                      std::map<std::string, std::string>& props);

    device_manager_dir(const char* name, logger::logmgr& log, std::map<std::string, std::string>& props);
    ~device_manager_dir() override;

    void initialize() override;
    bool isInitializing() override;
    void shutdown() override;
    device_signal& getHardwareConnectedSignal() override { return m_connected_signal; }
    device_signal& getHardwareDisconnectedSignal() override { return m_disconnected_signal; }
    void getConnectedProgrammingDevices(std::list<device_ptr>& out) override;
    device_ptr getDeviceByHardwareID(const std::string& id) override;
    bool upgradeFirmware(const std::string& hardwareId, const std::string& fileName) override;
    bool modeSwitch(const std::string& hardwareId, uint8_t mode) override;
    std::string getFWDirectory() override;

    void hardwareChange();
    void connectHardwareManager(const char* name, std::shared_ptr<hwdev_manager> manager);
    void deviceConnectedEventHandler(device_ptr device);
    void deviceDisconnectedEventHandler(device_ptr device);

    // The firmware directory: a preset value, or "<directory of the executable>/firmware".
    static std::string getFWDir();
    // Presets the firmware directory (the client's base directory); empty clears the preset.
    static void setBaseDirPath(const std::string& path);

    static void setBackendFactory(backend_factory factory);
    static void resetBackendFactory();
    static backend_factory defaultBackendFactory();

    std::recursive_mutex& scanMutex() { return m_scan_mutex; }
    const std::shared_ptr<param_db>& params() const { return m_params; }
    connect_notice& connectNotice() { return m_notice; }
    int deviceWaitTimeoutMs() const { return m_device_wait_timeout; }

private:
    std::recursive_mutex m_scan_mutex;
    int m_device_wait_timeout = 10000;
    logger::logmgr& m_log;
    logger::tracer m_tracer;
    std::list<std::shared_ptr<hardware_manager_info>> m_hardware_managers;
    device_signal m_connected_signal;
    device_signal m_disconnected_signal;
    std::list<std::shared_ptr<hardware_detector>> m_hardware_detectors;
    bool m_initializing = false;
    connect_notice m_notice;
    std::shared_ptr<param_db> m_params;
};

}  // namespace morvane::devices
