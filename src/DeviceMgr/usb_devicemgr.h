#pragma once

#include "DeviceMgr/backends/usbdevice.h"
#include "DeviceMgr/database/devicedb.h"
#include "DeviceMgr/hwdev_manager.h"
#include "DeviceMgr/param_db.h"

#include <boost/any.hpp>

#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace morvane::devices {

// What the three concrete managers (HID, libusb, serial) share: the directory's scan mutex
// and parameter store, the device database loaded once per process, the device factory and
// removal by bus location.
//
// Threads: the concrete managers run scans, createDevice and removeUsbDevice with the scan
// mutex held. The device-list mutex is never held while a signal is emitted.
class usb_devicemgr : public hwdev_manager {
public:
    usb_devicemgr(const char* name, logger::logmgr& log, uint8_t platformId,
                  const std::shared_ptr<param_db>& store, std::recursive_mutex& scanMutex);

    // Runs lookForDeviceChange().
    virtual void deviceConnectedOrDisconnected();

    // The hardware device for a matched configuration, or empty when the configuration names
    // no device class. `extra` carries backend data: the libusb manager passes
    // std::tuple<int, unsigned char, unsigned char> (interface, IN and OUT endpoint).
    std::shared_ptr<devicemgrapi::hardware_device_api> createDevice(std::shared_ptr<devicedb_config> config,
                                                                   std::shared_ptr<usbdevice> dev,
                                                                   std::shared_ptr<devicedb> db,
                                                                   const boost::any& extra);

    // Announces and forgets the first device at `location`; nothing when none is there.
    void removeUsbDevice(const std::string& location);

    const std::string& getManagerName() const { return m_name; }
    std::recursive_mutex& getScanMutex() { return m_scan_mutex; }

    // Shared by every manager for the life of the process once loaded.
    static std::shared_ptr<devicedb> m_db_p;

protected:
    void loadDatabase();

    // What every concrete manager does alike with its backend objects (one per device it
    // created a hardware device for). All three run under the scan mutex.
    // Marks the manager started and runs its first scan, logging `logText` first.
    void startScanning(const char* logText);
    // Announces the hardware device at `location` as gone and forgets its backend object.
    void removeBackendObject(const std::string& location);
    // Marks the manager stopped; closes, announces and forgets every backend object.
    void stopScanning();

    std::list<std::shared_ptr<usbdevice>> m_backend_objects;
    bool m_started = false;

    std::recursive_mutex& m_scan_mutex;
    std::string m_name;
    std::shared_ptr<param_db> m_params;
};

}  // namespace morvane::devices
