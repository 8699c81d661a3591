#include "DeviceMgr/interfaces/transport_bulk.h"

#include "DeviceMgr/api/devmgr_exception.h"

namespace morvane::devices {

using devicemgrapi::devmgr_exception;

transport_bulk::transport_bulk(std::shared_ptr<usbdevice> dev, logger::logmgr& log, unsigned char outEndpoint,
                               unsigned char inEndpoint)
    : usb_transport(log), m_dev(std::move(dev)), m_out_endpoint(outEndpoint), m_in_endpoint(inEndpoint) {
    if (!m_dev) throw devmgr_exception(devmgr_exception::ERR_MALFORMED_DEVICE, "Malformed USB device - no device");
}

void transport_bulk::open() { m_dev->open(); }

void transport_bulk::close() { m_dev->close(); }

bool transport_bulk::isOpen() const { return m_dev->isOpen(); }

void transport_bulk::sendData(const std::vector<unsigned char>& data) {
    m_dev->sendBulkPacket(m_out_endpoint, data, m_bulk_timeout_ms);
}

void transport_bulk::receiveData(std::vector<unsigned char>& data) {
    m_dev->receiveBulkPacket(m_in_endpoint, data, m_bulk_timeout_ms);
}

}  // namespace morvane::devices
