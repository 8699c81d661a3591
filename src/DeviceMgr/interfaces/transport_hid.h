#pragma once

#include "DeviceMgr/backends/usbdevice.h"
#include "DeviceMgr/interfaces/usb_transport.h"

#include <memory>

namespace morvane::devices {

// Packets as HID reports on the device's report channel; one packet is one report.
// Owns its share of the device object.
class transport_hid : public usb_transport {
public:
    // Throws ERR_MALFORMED_DEVICE when the device has no HID channel.
    transport_hid(std::shared_ptr<usbdevice> dev, logger::logmgr& log);

    void open() override;
    void close() override;
    bool isOpen() const override;
    void sendData(const std::vector<unsigned char>& data) override;
    void receiveData(std::vector<unsigned char>& data) override;
    bool isHid() override { return true; }

private:
    static constexpr unsigned int m_report_timeout_ms = 10000;
    // Asked of the device at every call.
    std::shared_ptr<hiddevice> channel() const;

    std::shared_ptr<usbdevice> m_dev;
};

}  // namespace morvane::devices
