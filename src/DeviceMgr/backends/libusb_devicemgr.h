#pragma once

#include "DeviceMgr/backends/libusb_deviceobj.h"
#include "DeviceMgr/usb_devicemgr.h"
#include "Logger/tracer.h"

#include <libusb.h>

#include <list>
#include <memory>
#include <string>

namespace morvane::devices {

// Finds the devices driven through raw USB: bulk bridge and CMSIS-DAP v2 interfaces of the
// database's bulk configurations, wireless-module bulk interfaces, and J-Link probes (known
// by vendor and product range, not listed in the database). Each accepted interface becomes
// one libusb_deviceobj and one hardware device.
//
// Threads: scans, additions and removals run under the directory's scan mutex, on the
// client thread or the hot-plug thread; the backend object list is touched only there.
class libusb_devicemgr : public usb_devicemgr {
public:
    libusb_devicemgr(logger::logmgr& log, uint8_t platformId, const std::shared_ptr<param_db>& store,
                     std::recursive_mutex& scanMutex);
    ~libusb_devicemgr() override;

    void stop() override;
    void start() override;
    void lookForDeviceChange() override;
    void deviceConnectedOrDisconnected() override;

    bool jlinkAllowed() const { return m_jlink_allowed; }
    bool cmsisDapAllowed() const { return m_cmsis_allowed; }
    bool wirelessAllowed() const { return m_wireless_allowed; }
    bool thirdGenerationBulkAllowed() const { return m_tl3_bulk_allowed; }

    // Whether an interface with a bulk configuration passes the family filter.
    // `configName` is the configuration's name, `deviceName` its owning record's name and
    // `interfaceText` the interface string the device reports.
    bool interfaceAllowed(const std::string& configName, const std::string& deviceName,
                          const std::string& interfaceText) const;

    static bool isJlink(const libusb_device_descriptor& descriptor);
    // "bus:p1,p2,..."; `count` is what libusb_get_port_numbers returned: a path too deep for
    // the port buffer (LIBUSB_ERROR_OVERFLOW) gives only "bus:".
    static std::string formatLocation(uint8_t bus, const uint8_t* ports, int count);
    // The configuration under which a J-Link probe is created. Its owning record lives as long
    // as the configuration does.
    static std::shared_ptr<devicedb_config> makeJLinkConfig(uint16_t vid, uint16_t pid);

    static constexpr int m_max_port_depth = 32;
    static const std::string JlinkName;

    const std::shared_ptr<libusb_session>& getSession() const { return m_session; }
    logger::logmgr& getLog() { return m_log; }

private:
    struct interface_config {
        std::string text;
        uint8_t endpointOut = 0;
        uint8_t endpointIn = 0;
    };

    void addDevice(libusb_device* device);
    void addJLink(libusb_device* device, const libusb_device_descriptor& descriptor);
    void removeDevice(const std::string& location);
    std::string getLocation(libusb_device* device);
    interface_config getUsbInterfaceConfig(libusb_device* device, int interfaceNumber);
    bool found(const std::string& location, uint16_t vid, uint16_t pid, ssize_t count, libusb_device** list);
    bool deviceExists(const std::string& location, uint16_t vid, uint16_t pid) const;
    bool deviceExists(const std::string& location, uint16_t vid, uint16_t pid, int interfaceNumber) const;
    // Creates the object and its hardware device and announces it (or drops it).
    void attach(const std::shared_ptr<devicedb_config>& config, const std::shared_ptr<libusb_deviceobj>& obj,
                int interfaceNumber, uint8_t endpointIn, uint8_t endpointOut);

    std::shared_ptr<libusb_session> m_session;
    logger::tracer m_tracer;
    bool m_jlink_allowed = false;
    bool m_cmsis_allowed = false;
    bool m_wireless_allowed = false;
    bool m_tl3_bulk_allowed = false;
};

// Makes the backend objects of the libusb manager.
struct LibusbDeviceFactory {
    static std::shared_ptr<libusb_deviceobj> create(const std::string& recordName, libusb_devicemgr& manager,
                                                    libusb_device* device, const std::string& location,
                                                    const libusb_device_descriptor& descriptor, int interfaceNumber,
                                                    uint8_t endpointIn, uint8_t endpointOut);
};

}  // namespace morvane::devices
