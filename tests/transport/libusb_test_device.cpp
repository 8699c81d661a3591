#include "libusb_test_device.h"

#include "DeviceMgr/api/devmgr_exception.h"

#include <string>

using morvane::devicemgrapi::devmgr_exception;

namespace transport_test {

libusb_test_device::libusb_test_device(libusb_context* ctx, uint16_t vid, uint16_t pid, int iface)
    : m_ctx(ctx), m_vid(vid), m_pid(pid), m_iface(iface) {}

libusb_test_device::~libusb_test_device() {
    if (m_handle) {
        if (m_claimed) libusb_release_interface(m_handle, m_iface);
        libusb_close(m_handle);
    }
}

void libusb_test_device::check(int rc, const char* what) const {
    if (rc >= 0) return;
    devmgr_exception::ErrorCode code = devmgr_exception::ERR_IO;
    switch (rc) {
    case LIBUSB_ERROR_TIMEOUT: code = devmgr_exception::ERR_TIMEOUT; break;
    case LIBUSB_ERROR_PIPE: code = devmgr_exception::ERR_PIPE; break;
    case LIBUSB_ERROR_NO_DEVICE: code = devmgr_exception::ERR_NO_DEVICE; break;
    case LIBUSB_ERROR_OVERFLOW: code = devmgr_exception::ERR_OVERFLOW; break;
    default: break;
    }
    throw devmgr_exception(code, std::string(what) + ": " + libusb_error_name(rc));
}

void libusb_test_device::open() {
    if (m_handle) throw devmgr_exception(devmgr_exception::ERR_OPEN_STATE, "usb device already open");
    m_handle = libusb_open_device_with_vid_pid(m_ctx, m_vid, m_pid);
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_NO_DEVICE, "device not found");
}

void libusb_test_device::close() {
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_OPEN_STATE, "usb device already closed");
    if (m_claimed) libusb_release_interface(m_handle, m_iface);
    m_claimed = false;
    libusb_close(m_handle);
    m_handle = nullptr;
}

void libusb_test_device::setConfiguration(uint8_t) {
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, "not open");
    check(libusb_claim_interface(m_handle, m_iface), "claim");
    m_claimed = true;
}

void libusb_test_device::sendBulkPacket(uint8_t endpoint, const std::vector<unsigned char>& data,
                                        unsigned int timeoutMs) {
    if (!m_claimed) throw devmgr_exception(devmgr_exception::ERR_NO_CONFIGURATION, "no current configuration set");
    std::vector<unsigned char> copy(data);
    int done = 0;
    check(libusb_bulk_transfer(m_handle, endpoint, copy.data(), int(copy.size()), &done, timeoutMs), "bulk out");
}

void libusb_test_device::receiveBulkPacket(uint8_t endpoint, std::vector<unsigned char>& data,
                                           unsigned int timeoutMs) {
    if (!m_claimed) throw devmgr_exception(devmgr_exception::ERR_NO_CONFIGURATION, "no current configuration set");
    data.assign(64, 0);
    int done = 0;
    check(libusb_bulk_transfer(m_handle, endpoint, data.data(), int(data.size()), &done, timeoutMs), "bulk in");
}

void libusb_test_device::controlPacket(uint8_t, uint8_t, uint16_t, uint16_t, std::vector<unsigned char>&,
                                       unsigned int) {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "not in this test device");
}

void libusb_test_device::resetEndpoint(uint8_t endpoint) { check(libusb_clear_halt(m_handle, endpoint), "clear halt"); }

std::shared_ptr<morvane::devices::hiddevice> libusb_test_device::getHIDDevice() {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "getHIDDevice is not supported by libusb device manager");
}

}  // namespace transport_test
