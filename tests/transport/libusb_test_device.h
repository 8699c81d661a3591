#pragma once

// A device object over raw libusb for tests on the bench: one interface, bulk transfers only.
// Stands in for the library's libusb backend object in tests of the code above it.

#include "DeviceMgr/backends/usbdevice.h"

#include <libusb.h>

namespace transport_test {

class libusb_test_device : public morvane::devices::usbdevice {
public:
    // The first device with this VID and PID; `ctx` outlives the object.
    libusb_test_device(libusb_context* ctx, uint16_t vid, uint16_t pid, int iface);
    ~libusb_test_device() override;

    uint16_t getVID() const override { return m_vid; }
    uint16_t getPID() const override { return m_pid; }
    int getCurrentInterface() override { return m_iface; }
    std::string getSerial() const override { return {}; }
    std::string getLocation() const override { return {}; }
    std::string getProductStr() const override { return {}; }
    std::string getManufacturerStr() const override { return {}; }
    void open() override;
    void close() override;
    bool isOpen() const override { return m_handle != nullptr; }
    void sendBulkPacket(uint8_t endpoint, const std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void receiveBulkPacket(uint8_t endpoint, std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void controlPacket(uint8_t, uint8_t, uint16_t, uint16_t, std::vector<unsigned char>&, unsigned int) override;
    // Claims the interface.
    void setConfiguration(uint8_t configuration) override;
    std::string getName() const override { return {}; }
    std::string getDescription() const override { return {}; }
    bool hasEndpoint(uint8_t) override { return true; }
    uint16_t getEndpointMaxPacketSize(uint8_t) const override { return 64; }
    int getSpeed() const override { return 0; }
    void resetEndpoint(uint8_t endpoint) override;
    std::shared_ptr<morvane::devices::hiddevice> getHIDDevice() override;

private:
    void check(int rc, const char* what) const;

    libusb_context* m_ctx;
    uint16_t m_vid;
    uint16_t m_pid;
    int m_iface;
    libusb_device_handle* m_handle = nullptr;
    bool m_claimed = false;
};

}  // namespace transport_test
