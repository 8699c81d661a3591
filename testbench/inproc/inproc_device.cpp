#include "inproc/inproc_device.h"

#include "DeviceMgr/api/devmgr_exception.h"

#include <thread>

namespace pavix_bench {

using morvane::devicemgrapi::devmgr_exception;
using clock = std::chrono::steady_clock;

namespace {
[[noreturn]] void fail(devmgr_exception::ErrorCode code, const std::string& text) { throw devmgr_exception(code, text); }

clock::time_point deadlineAfter(unsigned int ms) { return clock::now() + std::chrono::milliseconds(ms); }
}  // namespace

std::string inprocHidLocation(const probe_desc& d, uint8_t interface_number) {
    return "/dev/hidraw-virtual-" + d.sysName() + ":1." + std::to_string(interface_number);
}

inproc_usbdevice::inproc_usbdevice(std::shared_ptr<virtual_probe> probe, uint8_t interface_number, std::string db_name)
    : usbdevice(std::move(db_name)), m_probe(std::move(probe)) {
    const interface_desc* i = m_probe->desc().findInterface(interface_number);
    if (!i) fail(devmgr_exception::ERR_NO_INTERFACE, "Error opening LibUSB device");
    m_iface = *i;
    if (isHid()) m_hid = std::make_shared<inproc_hiddevice>(m_probe, interface_number);
}

inproc_usbdevice::~inproc_usbdevice() = default;

uint16_t inproc_usbdevice::getVID() const { return m_probe->desc().vid; }
uint16_t inproc_usbdevice::getPID() const { return m_probe->desc().pid; }

int inproc_usbdevice::getCurrentInterface() {
    if (isHid()) fail(devmgr_exception::ERR_NOT_SUPPORTED, "this function not supposed to be called from this manager");
    return m_iface.number;
}

std::string inproc_usbdevice::getSerial() const { return m_probe->desc().serial; }

std::string inproc_usbdevice::getLocation() const {
    return isHid() ? inprocHidLocation(m_probe->desc(), m_iface.number) : m_probe->desc().busLocation();
}

std::string inproc_usbdevice::getProductStr() const {
    // The libusb object names a bulk interface by its interface string, when it has one.
    if (!isHid() && !m_iface.name.empty()) return m_iface.name;
    return m_probe->desc().product;
}

std::string inproc_usbdevice::getManufacturerStr() const { return m_probe->desc().manufacturer; }

void inproc_usbdevice::open() {
    if (isHid()) return m_hid->open();
    if (m_open) fail(devmgr_exception::ERR_OPEN_STATE, "usb device already open");
    if (!m_probe->connected()) fail(devmgr_exception::ERR_NO_DEVICE, "Device is no longer connected");
    m_open = true;
}

void inproc_usbdevice::close() {
    if (isHid()) return m_hid->close();
    m_open = false;
    m_configured = false;
}

bool inproc_usbdevice::isOpen() const { return isHid() ? m_hid->isOpen() : m_open; }

void inproc_usbdevice::requireBulkPath(const char* hidText) const {
    if (isHid()) fail(devmgr_exception::ERR_IO, hidText);
}

void inproc_usbdevice::sendBulkPacket(uint8_t endpoint, const std::vector<unsigned char>& data, unsigned int) {
    requireBulkPath("Send Bulk packet is not supported for LibUSB HID devices");
    if (!m_configured) fail(devmgr_exception::ERR_NO_CONFIGURATION, "no current configuration set");
    const endpoint_desc* e = m_probe->desc().findEndpoint(endpoint);
    if (!e) fail(devmgr_exception::ERR_COMMAND_FAILED, "Out Endpoint is not found");
    if (data.size() > e->max_packet)
        fail(devmgr_exception::ERR_BUFFER_SIZE,
             "Data size when sending bulk packet exceeds maximum endpoint packet size");
    switch (m_probe->bulkOut(endpoint, data)) {
    case virtual_probe::result::gone: fail(devmgr_exception::ERR_NO_DEVICE, "Device is no longer connected");
    case virtual_probe::result::stall: fail(devmgr_exception::ERR_PIPE, "Endpoint has halted");
    default: break;
    }
}

void inproc_usbdevice::receiveBulkPacket(uint8_t endpoint, std::vector<unsigned char>& data, unsigned int timeoutMs) {
    requireBulkPath("Receive Bulk packet is not supported for LibUSB HID devices");
    if (!m_configured) fail(devmgr_exception::ERR_NO_CONFIGURATION, "no current configuration set");
    const endpoint_desc* e = m_probe->desc().findEndpoint(endpoint);
    uint16_t size = e ? e->max_packet : 64;
    bytes got;
    auto r = m_probe->take(channel::bulk(endpoint), got, deadlineAfter(timeoutMs));
    switch (r) {
    case virtual_probe::result::gone: fail(devmgr_exception::ERR_NO_DEVICE, "Device is no longer connected");
    case virtual_probe::result::stall: fail(devmgr_exception::ERR_PIPE, "Endpoint has halted");
    case virtual_probe::result::empty: fail(devmgr_exception::ERR_TIMEOUT, "Timeout in receiveBuildPacket()");
    case virtual_probe::result::data: break;
    }
    if (got.size() > size) fail(devmgr_exception::ERR_OVERFLOW, "Endpoint data overflowed");
    // The libusb object hands back the whole endpoint-sized buffer; the rest stays zero.
    data.assign(size, 0);
    std::copy(got.begin(), got.end(), data.begin());
}

void inproc_usbdevice::controlPacket(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                     std::vector<unsigned char>& data, unsigned int timeoutMs) {
    requireBulkPath("Control Packet is not supported for LibUSB HID devices");
    if (!m_configured) fail(devmgr_exception::ERR_NO_CONFIGURATION, "No current configuration set");
    setup_packet s{requestType, request, value, index, uint16_t(data.empty() ? 64 : std::min<size_t>(data.size(), 64))};
    bytes out = s.in() ? bytes{} : bytes(data.begin(), data.begin() + s.length);
    control_result r = m_probe->control(s, out);
    auto waited = std::chrono::milliseconds(timeoutMs);
    if (r.no_answer || r.delay > waited) {
        std::this_thread::sleep_for(waited);
        fail(devmgr_exception::ERR_TIMEOUT, "Timeout sending control packet");
    }
    if (r.delay.count()) std::this_thread::sleep_for(r.delay);
    if (r.disconnect)
        fail(devmgr_exception::ERR_NO_DEVICE, "Device is no longer connected - cannot send control packet");
    if (r.stall) fail(devmgr_exception::ERR_PIPE, "Endpoint has halted - cannot send control packet");
    if (s.in()) data = r.data;
    else data.resize(s.length);
}

void inproc_usbdevice::setConfiguration(uint8_t configuration) {
    requireBulkPath("Set Configuration is not supported for LibUSB HID devices");
    if (configuration != 1)
        fail(devmgr_exception::ERR_INVALID_VALUE, "Configuration requested in setConfiguration call is not valid");
    if (!m_probe->connected())
        fail(devmgr_exception::ERR_CLAIM, "libusb_deviceobj: Could not claim interface: " + std::to_string(m_iface.number));
    m_configured = true;
}

std::string inproc_usbdevice::getName() const { return isHid() ? "hidapi" : ""; }

std::string inproc_usbdevice::getDescription() const {
    if (isHid()) return {};
    fail(devmgr_exception::ERR_NOT_SUPPORTED, "getDescription is not supported by libusb device manager");
}

bool inproc_usbdevice::hasEndpoint(uint8_t endpoint) { return m_probe->desc().findEndpoint(endpoint) != nullptr; }

uint16_t inproc_usbdevice::getEndpointMaxPacketSize(uint8_t endpoint) const {
    if (isHid()) return 64;
    const endpoint_desc* e = m_probe->desc().findEndpoint(endpoint);
    return e ? e->max_packet : 0;
}

int inproc_usbdevice::getSpeed() const {
    if (isHid()) return 0;
    fail(devmgr_exception::ERR_NOT_SUPPORTED, "getSpeed is not supported by libusb device manager");
}

void inproc_usbdevice::resetEndpoint(uint8_t endpoint) {
    requireBulkPath("Reset Endpoint is not supported for LibUSB HID devices");
    if (!m_probe->connected())
        fail(devmgr_exception::ERR_NO_DEVICE, "Device is no longer connected - cannot send control packet");
    m_probe->clearHalt(endpoint);
}

std::shared_ptr<morvane::devices::hiddevice> inproc_usbdevice::getHIDDevice() {
    if (!isHid()) fail(devmgr_exception::ERR_NOT_SUPPORTED, "getHIDDevice is not supported by libusb device manager");
    return m_hid;
}

inproc_hiddevice::inproc_hiddevice(std::shared_ptr<virtual_probe> probe, uint8_t interface_number)
    : m_probe(std::move(probe)), m_iface(interface_number) {}

void inproc_hiddevice::open() {
    if (m_open) fail(devmgr_exception::ERR_OPEN_STATE, "hid usb device already open");
    if (!m_probe->connected())
        fail(devmgr_exception::ERR_COMMAND_FAILED, "Cannot open Hid device with the path: " +
                                                       inprocHidLocation(m_probe->desc(), m_iface) +
                                                       " Err = 2, No such file or directory");
    m_open = true;
}

void inproc_hiddevice::close() {
    if (!m_open) fail(devmgr_exception::ERR_OPEN_STATE, "hid usb device already closed");
    m_open = false;
}

bool inproc_hiddevice::isOpen() const { return m_open; }

void inproc_hiddevice::writeReport(const std::vector<unsigned char>& data, unsigned int) {
    if (!m_open) fail(devmgr_exception::ERR_NOT_OPEN, "Hid device is not open");
    if (data.size() > 64) fail(devmgr_exception::ERR_NOT_OPEN, "writeReport > 64 bytes");
    bytes report(64, 0);
    std::copy(data.begin(), data.end(), report.begin());
    if (!m_probe->hidWrite(m_iface, report)) fail(devmgr_exception::ERR_NOT_OPEN, "Hid write error");
}

void inproc_hiddevice::readReport(std::vector<unsigned char>& data, unsigned int timeoutMs) {
    if (!m_open) fail(devmgr_exception::ERR_NOT_OPEN, "Hid device is not open");
    bytes got;
    auto r = m_probe->take(channel::hid(m_iface), got, deadlineAfter(timeoutMs));
    if (r == virtual_probe::result::gone) fail(devmgr_exception::ERR_NOT_OPEN, "Hid read error");
    data.assign(64, 0);
    // A time-out (or a report stalled away) reads as 64 zero bytes, as from hidraw.
    if (r == virtual_probe::result::data) std::copy(got.begin(), got.begin() + std::min<size_t>(got.size(), 64), data.begin());
}

bool inproc_hiddevice::readReportNonBlocking(std::vector<unsigned char>& data) {
    if (!m_open) fail(devmgr_exception::ERR_NOT_OPEN, "Hid device is not open");
    bytes got;
    auto r = m_probe->tryTake(channel::hid(m_iface), got);
    if (r == virtual_probe::result::gone) fail(devmgr_exception::ERR_NOT_OPEN, "Hid read error");
    if (r != virtual_probe::result::data) return false;
    data = got;
    return true;
}

}  // namespace pavix_bench
