#pragma once

#include "DeviceMgr/usb_devicemgr.h"
#include "Logger/tracer.h"

#include <hidapi/hidapi.h>

#include <list>
#include <memory>
#include <string>

namespace morvane::devices {

// Finds probes that present themselves as HID interfaces (through hidapi on hidraw),
// matches each against the device database and the family filter, and creates their
// hardware devices. Scans run under the directory's scan mutex, on the client thread or the
// hot-plug thread.
class hidapi_devicemgr : public usb_devicemgr {
public:
    hidapi_devicemgr(logger::logmgr& log, uint8_t platformId, const std::shared_ptr<param_db>& store,
                     std::recursive_mutex& scanMutex);
    ~hidapi_devicemgr() override;

    void stop() override;
    void start() override;
    void lookForDeviceChange() override;
    void deviceConnectedOrDisconnected() override;

    bool secondGenerationAllowed() const { return m_tl2_allowed; }
    bool thirdGenerationAllowed() const { return m_tl3_allowed; }
    bool cmsisDapAllowed() const { return m_cmsis_allowed; }

    // Whether a configuration name passes the family filter.
    bool familyAllowed(const std::string& configName) const;

private:
    void addDevice(const hid_device_info* info);
    void removeDevice(const std::string& location);
    bool found(const std::string& location, uint16_t vid, uint16_t pid, const hid_device_info* list) const;
    bool deviceExists(const std::string& location, uint16_t vid, uint16_t pid) const;

    logger::tracer m_tracer;
    bool m_tl2_allowed = false;
    bool m_tl3_allowed = false;
    bool m_cmsis_allowed = false;
    std::shared_ptr<param_db> m_param_store;
};

}  // namespace morvane::devices
