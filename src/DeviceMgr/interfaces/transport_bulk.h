#pragma once

#include "DeviceMgr/backends/usbdevice.h"
#include "DeviceMgr/interfaces/usb_transport.h"

#include <cstdint>
#include <memory>

namespace morvane::devices {

// Packets over a pair of bulk endpoints of the device's bridging interface.
// Owns its share of the device object.
class transport_bulk : public usb_transport {
public:
    transport_bulk(std::shared_ptr<usbdevice> dev, logger::logmgr& log, unsigned char outEndpoint,
                   unsigned char inEndpoint);

    void open() override;
    void close() override;
    bool isOpen() const override;
    void sendData(const std::vector<unsigned char>& data) override;
    void receiveData(std::vector<unsigned char>& data) override;
    bool isHid() override { return false; }

private:
    static constexpr unsigned int m_bulk_timeout_ms = 2000;

    std::shared_ptr<usbdevice> m_dev;
    unsigned char m_out_endpoint;
    unsigned char m_in_endpoint;
};

}  // namespace morvane::devices
