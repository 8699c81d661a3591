#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvane::devices {

class hiddevice;

// One device found by a hardware manager, as hardware devices and transports see it. Each
// backend (HID, libusb, serial) implements it; operations a backend does not support throw
// devmgr_exception at once with a fixed code and text, and change nothing. Every failure is
// a devmgr_exception.
//
// Ownership: created by its manager, shared with the hardware device built on it; it lives
// as long as anyone holds it. After the device is unplugged, transfers fail.
// This is also the seam where the test bench plugs in-process virtual probes.
class usbdevice {
public:
    explicit usbdevice(std::string dbName = std::string()) : m_db_name(std::move(dbName)) {}
    virtual ~usbdevice() = default;

    virtual uint16_t getVID() const = 0;
    virtual uint16_t getPID() const = 0;
    virtual int getCurrentInterface() = 0;
    virtual std::string getSerial() const = 0;
    // Unique per attached device and stable while it stays plugged in.
    virtual std::string getLocation() const = 0;
    virtual std::string getProductStr() const = 0;
    virtual std::string getManufacturerStr() const = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void sendBulkPacket(uint8_t endpoint, const std::vector<unsigned char>& data, unsigned int timeoutMs) = 0;
    virtual void receiveBulkPacket(uint8_t endpoint, std::vector<unsigned char>& data, unsigned int timeoutMs) = 0;
    // `data` is the data stage: sent or filled according to the direction bit of requestType.
    virtual void controlPacket(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                               std::vector<unsigned char>& data, unsigned int timeoutMs) = 0;
    virtual void setConfiguration(uint8_t configuration) = 0;
    virtual std::string getName() const = 0;
    virtual std::string getDescription() const = 0;
    virtual bool hasEndpoint(uint8_t endpoint) = 0;
    virtual uint16_t getEndpointMaxPacketSize(uint8_t endpoint) const = 0;
    virtual int getSpeed() const = 0;
    virtual void resetEndpoint(uint8_t endpoint) = 0;
    virtual std::shared_ptr<hiddevice> getHIDDevice() = 0;

    // Name of the device-database record that matched the device ("" where none applies).
    const std::string& getDbName() const { return m_db_name; }

private:
    std::string m_db_name;
};

// The HID report channel of a HID device. Failures throw devmgr_exception.
class hiddevice {
public:
    virtual ~hiddevice() = default;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void writeReport(const std::vector<unsigned char>& data, unsigned int timeoutMs) = 0;
    virtual void readReport(std::vector<unsigned char>& data, unsigned int timeoutMs) = 0;
    virtual bool readReportNonBlocking(std::vector<unsigned char>& data) = 0;
};

}  // namespace morvane::devices
