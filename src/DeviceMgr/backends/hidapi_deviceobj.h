#pragma once

#include "DeviceMgr/backends/hidapi_device.h"
#include "DeviceMgr/backends/usbdevice.h"
#include "Logger/logmgr.h"

#include <hidapi/hidapi.h>

#include <mutex>
#include <string>

namespace morvane::devices {

// One HID interface found by the HID manager. Identity is read once at construction; report
// traffic goes through its channel (getHIDDevice()). open() and close() take the scan mutex,
// so an open never interleaves with a scan.
//
// Ownership: made by the HID manager and shared with the hardware device built on it. It
// keeps a reference to the directory's scan mutex, so it must not outlive the directory
// (the directory stops its managers, and the Bridge API releases its device, before it goes).
class hidapi_deviceobj : public usbdevice {
public:
    hidapi_deviceobj(logger::logmgr& log, std::recursive_mutex& scanMutex, const hid_device_info* info,
                     const std::string& recordName, const std::string& accessMode);
    ~hidapi_deviceobj() override;

    uint16_t getVID() const override { return m_vid; }
    uint16_t getPID() const override { return m_pid; }
    int getCurrentInterface() override;
    std::string getSerial() const override { return m_serial; }
    std::string getLocation() const override { return m_location; }
    std::string getProductStr() const override { return m_product; }
    std::string getManufacturerStr() const override { return m_manufacturer; }
    void open() override;
    void close() override;
    bool isOpen() const override;
    void sendBulkPacket(uint8_t endpoint, const std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void receiveBulkPacket(uint8_t endpoint, std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void controlPacket(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                       std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void setConfiguration(uint8_t configuration) override;
    std::string getName() const override { return m_name; }
    std::string getDescription() const override { return m_description; }
    bool hasEndpoint(uint8_t endpoint) override;
    uint16_t getEndpointMaxPacketSize(uint8_t endpoint) const override { return 64; }
    int getSpeed() const override { return m_speed; }
    void resetEndpoint(uint8_t endpoint) override;
    std::shared_ptr<hiddevice> getHIDDevice() override { return m_hid; }

    // hidapi's wide text narrowed character by character (low byte); null gives "".
    static std::string narrow(const wchar_t* text);

private:
    logger::logmgr& m_log;
    std::recursive_mutex& m_scan_mutex;
    std::shared_ptr<hiddevice> m_hid;
    uint16_t m_vid;
    uint16_t m_pid;
    const std::string m_description;
    const std::string m_name = "hidapi";
    const int m_speed = 0;
    std::string m_serial;
    std::string m_location;
    std::string m_product;
    std::string m_manufacturer;
};

}  // namespace morvane::devices
