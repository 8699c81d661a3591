#pragma once

#include "DeviceMgr/backends/usbdevice.h"
#include "model/virtual_probe.h"

#include <memory>
#include <mutex>

namespace pavix_bench {

class inproc_hiddevice;

// A virtual probe's interface behind the library's own device-object seam. A HID interface
// behaves like the HID backend's object (report channel, no bulk); any other interface like
// the libusb object (bulk, control, endpoints). Errors carry the backends' codes and texts.
// One hardware device uses an object at a time, as with the real backends.
class inproc_usbdevice : public morvane::devices::usbdevice {
public:
    inproc_usbdevice(std::shared_ptr<virtual_probe> probe, uint8_t interface_number, std::string db_name = {});
    ~inproc_usbdevice() override;

    uint16_t getVID() const override;
    uint16_t getPID() const override;
    int getCurrentInterface() override;
    std::string getSerial() const override;
    std::string getLocation() const override;
    std::string getProductStr() const override;
    std::string getManufacturerStr() const override;
    void open() override;
    void close() override;
    bool isOpen() const override;
    void sendBulkPacket(uint8_t endpoint, const std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void receiveBulkPacket(uint8_t endpoint, std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void controlPacket(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                       std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void setConfiguration(uint8_t configuration) override;
    std::string getName() const override;
    std::string getDescription() const override;
    bool hasEndpoint(uint8_t endpoint) override;
    uint16_t getEndpointMaxPacketSize(uint8_t endpoint) const override;
    int getSpeed() const override;
    void resetEndpoint(uint8_t endpoint) override;
    std::shared_ptr<morvane::devices::hiddevice> getHIDDevice() override;

    virtual_probe& probe() { return *m_probe; }

private:
    bool isHid() const { return m_iface.hid(); }
    void requireBulkPath(const char* hidText) const;

    std::shared_ptr<virtual_probe> m_probe;
    interface_desc m_iface;
    std::shared_ptr<inproc_hiddevice> m_hid;
    bool m_open = false;
    bool m_configured = false;
};

class inproc_hiddevice : public morvane::devices::hiddevice {
public:
    inproc_hiddevice(std::shared_ptr<virtual_probe> probe, uint8_t interface_number);
    void open() override;
    void close() override;
    bool isOpen() const override;
    void writeReport(const std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void readReport(std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    bool readReportNonBlocking(std::vector<unsigned char>& data) override;

private:
    std::shared_ptr<virtual_probe> m_probe;
    uint8_t m_iface;
    bool m_open = false;
};

// Location text of an in-process HID interface (stands in for the hidraw path).
std::string inprocHidLocation(const probe_desc& d, uint8_t interface_number);

}  // namespace pavix_bench
