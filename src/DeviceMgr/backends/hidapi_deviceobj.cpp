#include "DeviceMgr/backends/hidapi_deviceobj.h"

#include "DeviceMgr/api/devmgr_exception.h"

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::logmgr;
using logger::logmsg;

std::string hidapi_deviceobj::narrow(const wchar_t* text) {
    std::string out;
    if (!text) return out;
    for (; *text; ++text) out.push_back(static_cast<char>(static_cast<unsigned char>(*text & 0xFF)));
    return out;
}

hidapi_deviceobj::hidapi_deviceobj(logmgr& log, std::recursive_mutex& scanMutex, const hid_device_info* info,
                                   const std::string& recordName, const std::string& accessMode)
    : usbdevice(recordName), m_log(log), m_scan_mutex(scanMutex), m_vid(info->vendor_id), m_pid(info->product_id),
      m_serial(narrow(info->serial_number)), m_location(info->path ? info->path : ""),
      m_product(narrow(info->product_string)), m_manufacturer(narrow(info->manufacturer_string)) {
    m_log << logmsg("devmgr", logmsg::msgtype::Debug, 1) << logmgr::dec << "hidapi_deviceobj: create: "
          << "vid = " << static_cast<int>(m_vid) << " pid = " << static_cast<int>(m_pid) << " serial = " << m_serial
          << " product_id = " << m_product << " manufacturer = " << m_manufacturer << " location = " << m_location
          << logmgr::end;
    if (accessMode == "exclusive")
        m_hid = std::make_shared<hidapi_device_excl>(log, m_location.c_str());
    else
        m_hid = std::make_shared<hidapi_device>(log, m_location.c_str());
}

hidapi_deviceobj::~hidapi_deviceobj() {
    try {
        m_log << logmsg("devmgr", logmsg::msgtype::Debug, 1) << "~hidapi_deviceobj: " << logmgr::hex
              << static_cast<int>(m_vid) << " " << static_cast<int>(m_pid) << logmgr::end;
        if (m_hid->isOpen()) m_hid->close();
    } catch (...) {
    }
}

int hidapi_deviceobj::getCurrentInterface() {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED,
                           "this function not supposed to be called from this manager");
}

void hidapi_deviceobj::open() {
    std::lock_guard<std::recursive_mutex> lock(m_scan_mutex);
    m_hid->open();
}

void hidapi_deviceobj::close() {
    std::lock_guard<std::recursive_mutex> lock(m_scan_mutex);
    m_hid->close();
}

bool hidapi_deviceobj::isOpen() const { return m_hid->isOpen(); }

void hidapi_deviceobj::sendBulkPacket(uint8_t, const std::vector<unsigned char>&, unsigned int) {
    throw devmgr_exception(devmgr_exception::ERR_IO, "Send Bulk packet is not supported for LibUSB HID devices");
}

void hidapi_deviceobj::receiveBulkPacket(uint8_t, std::vector<unsigned char>&, unsigned int) {
    throw devmgr_exception(devmgr_exception::ERR_IO, "Receive Bulk packet is not supported for LibUSB HID devices");
}

void hidapi_deviceobj::controlPacket(uint8_t, uint8_t, uint16_t, uint16_t, std::vector<unsigned char>&,
                                     unsigned int) {
    throw devmgr_exception(devmgr_exception::ERR_IO, "Control Packet is not supported for LibUSB HID devices");
}

void hidapi_deviceobj::setConfiguration(uint8_t) {
    throw devmgr_exception(devmgr_exception::ERR_IO, "Set Configuration is not supported for LibUSB HID devices");
}

bool hidapi_deviceobj::hasEndpoint(uint8_t) { return false; }

void hidapi_deviceobj::resetEndpoint(uint8_t) {
    throw devmgr_exception(devmgr_exception::ERR_IO, "Reset Endpoint is not supported for LibUSB HID devices");
}

}  // namespace morvane::devices
