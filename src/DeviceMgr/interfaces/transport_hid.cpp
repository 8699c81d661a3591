#include "DeviceMgr/interfaces/transport_hid.h"

#include "DeviceMgr/api/devmgr_exception.h"

namespace morvane::devices {

using devicemgrapi::devmgr_exception;

namespace {

devmgr_exception malformed() {
    return devmgr_exception(devmgr_exception::ERR_MALFORMED_DEVICE, "Malformed USB device - no HID interface found");
}

std::shared_ptr<hiddevice> hidChannelOf(usbdevice* dev) {
    if (!dev) return nullptr;
    try {
        return dev->getHIDDevice();
    } catch (const devmgr_exception&) {
        // A device object of a backend without report channels.
        return nullptr;
    }
}

}  // namespace

transport_hid::transport_hid(std::shared_ptr<usbdevice> dev, logger::logmgr& log)
    : usb_transport(log), m_dev(std::move(dev)) {
    if (!hidChannelOf(m_dev.get())) throw malformed();
}

std::shared_ptr<hiddevice> transport_hid::channel() const {
    std::shared_ptr<hiddevice> hid = m_dev->getHIDDevice();
    if (!hid) throw malformed();
    return hid;
}

void transport_hid::open() { channel()->open(); }

void transport_hid::close() { channel()->close(); }

bool transport_hid::isOpen() const { return channel()->isOpen(); }

void transport_hid::sendData(const std::vector<unsigned char>& data) { channel()->writeReport(data, m_report_timeout_ms); }

void transport_hid::receiveData(std::vector<unsigned char>& data) { channel()->readReport(data, m_report_timeout_ms); }

}  // namespace morvane::devices
