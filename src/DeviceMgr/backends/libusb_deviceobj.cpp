#include "DeviceMgr/backends/libusb_deviceobj.h"

#include "Logger/format.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::logmgr;
using logger::logmsg;

namespace {

const char* const NotOpenText = "libusb device is not open";

// Releases a handle opened inside open() unless open() gets to the end.
struct open_guard {
    std::function<void()> undo;
    bool done = false;
    ~open_guard() {
        if (!done && undo) undo();
    }
};

}  // namespace

libusb_session::libusb_session() {
    if (libusb_init(&m_context) < 0) {
        m_context = nullptr;
        throw devmgr_exception(devmgr_exception::ERR_LIBRARY_INIT, "Error initializing libusb library");
    }
}

libusb_session::~libusb_session() {
    if (m_context) libusb_exit(m_context);
}

libusb_deviceobj::libusb_deviceobj(logmgr& log, std::recursive_mutex& scanMutex,
                                   std::shared_ptr<libusb_session> session, libusb_device* device,
                                   const std::string& recordName, const std::string& location,
                                   const libusb_device_descriptor& descriptor, int interfaceNumber,
                                   uint8_t endpointIn, uint8_t endpointOut, bool productFromInterface)
    : usbdevice(recordName), m_log(log), m_scan_mutex(scanMutex), m_session(std::move(session)),
      m_device(libusb_ref_device(device)), m_descriptor(descriptor), m_location(location),
      m_interface(interfaceNumber), m_ep_in(endpointIn), m_ep_out(endpointOut),
      m_product_from_interface(productFromInterface) {
    open();
    m_log << m_msg << logmgr::hex << "libusb_deviceobj: create: " << static_cast<int>(m_descriptor.idVendor) << " "
          << static_cast<int>(m_descriptor.idProduct) << logmgr::end;
    close();
}

libusb_deviceobj::~libusb_deviceobj() {
    try {
        m_log << m_msg << logmgr::hex << "libusb_deviceobj: destroy: " << static_cast<int>(m_descriptor.idVendor)
              << " " << static_cast<int>(m_descriptor.idProduct) << logmgr::end;
    } catch (...) {
    }
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    closeLocked();
}

const char* libusb_deviceobj::speedName(int speed) {
    switch (speed) {
    case LIBUSB_SPEED_LOW: return "low";
    case LIBUSB_SPEED_FULL: return "full";
    case LIBUSB_SPEED_HIGH: return "high";
    case LIBUSB_SPEED_SUPER: return "super";
    default: return "unknown";
    }
}

void libusb_deviceobj::open() {
    std::lock_guard<std::recursive_mutex> scan(m_scan_mutex);
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    openLocked();
}

void libusb_deviceobj::openLocked() {
    m_log << m_msg << "libusb_deviceobj::open()" << logmgr::end;
    if (m_handle) throw devmgr_exception(devmgr_exception::ERR_OPEN_STATE, "usb device already open");
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(m_device.get(), &handle);
    switch (result) {
    case LIBUSB_ERROR_NOT_SUPPORTED:
        m_log << m_msg << "libusb_open: not supported" << logmgr::end;
        throw devmgr_exception(devmgr_exception::ERR_NO_DEVICE, "LibUSB driver not supported or unimplemented");
    case LIBUSB_ERROR_NO_MEM:
        throw devmgr_exception(devmgr_exception::ERR_NO_MEMORY, "Out of memory opening USB device");
    case LIBUSB_ERROR_NO_DEVICE:
        throw devmgr_exception(devmgr_exception::ERR_NO_DEVICE, "Device is no longer connected");
    case LIBUSB_ERROR_ACCESS:
        throw devmgr_exception(devmgr_exception::ERR_OPEN, "Access denied opening USB device");
    default: break;
    }
    m_log << m_msg << logmgr::hex << "libusb_open ( " << static_cast<int>(m_descriptor.idVendor) << " "
          << static_cast<int>(m_descriptor.idProduct) << " ) = " << result << logmgr::end;
    if (result != 0 || !handle) {
        if (handle) libusb_close(handle);
        throw devmgr_exception(devmgr_exception::ERR_OPEN, "Error opening LibUSB device");
    }
    m_handle = handle;
    open_guard guard{[this] { closeLocked(); }};

    getConfigData();
    getConfigDescriptors();
    // Nothing has selected a configuration yet on a fresh object: start with the first one,
    // so the identity texts of the interface can be read.
    if (m_current_config < 0 && !m_config_descriptors.empty())
        m_current_config = m_config_descriptors.begin()->first;
    if (!m_identity_read) readIdentity();
    guard.done = true;
}

void libusb_deviceobj::readIdentity() {
    m_serial = stringDescriptorLocked(m_descriptor.iSerialNumber);
    if (m_current_config < 0)
        throw devmgr_exception(devmgr_exception::ERR_NO_CONFIGURATION, "no current configuration set");
    const libusb_config_descriptor* config = currentConfigLocked();
    if (!config || m_interface < 0 || m_interface >= config->bNumInterfaces)
        throw devmgr_exception(devmgr_exception::ERR_NO_INTERFACE, "Error opening LibUSB device");
    const libusb_interface& iface = config->interface[m_interface];
    if (m_product_from_interface)
        m_prod_str = iface.num_altsetting > 0 ? stringDescriptorLocked(iface.altsetting[0].iInterface) : "";
    else
        m_prod_str = stringDescriptorLocked(m_descriptor.iProduct);
    m_manuf_str = stringDescriptorLocked(m_descriptor.iManufacturer);
    m_identity_read = true;
}

void libusb_deviceobj::getConfigData() {
    m_bus = libusb_get_bus_number(m_device.get());
    m_port = libusb_get_port_number(m_device.get());
    m_speed = libusb_get_device_speed(m_device.get());
    const auto& d = m_descriptor;
    m_log << m_msg << logmgr::hex << "Found USB device:"
          << " VID " << static_cast<int>(d.idVendor) << " PID " << static_cast<int>(d.idProduct) << " bus "
          << static_cast<int>(m_bus) << " port " << static_cast<int>(m_port) << " speed " << m_speed << " "
          << speedName(m_speed) << logmgr::end;
    m_log << m_msg << "   Device Descriptor" << logmgr::end;
    auto line = [&](const char* name, int value) { m_log << m_msg << logmgr::hex << name << value << logmgr::end; };
    line("   bDescriptorType ", d.bDescriptorType);
    line("   bLength ", d.bLength);
    line("   bDeviceClass ", d.bDeviceClass);
    line("   bDeviceSubClass ", d.bDeviceSubClass);
    line("   bDeviceProtocol ", d.bDeviceProtocol);
    line("   bcdDevice ", d.bcdDevice);
    line("   bcdUSB ", d.bcdUSB);
    line("   bMaxPacketSize0 ", d.bMaxPacketSize0);
    line("   bNumConfigurations ", d.bNumConfigurations);
    line("   iManufacturer ", d.iManufacturer);
    line("   iProduct ", d.iProduct);
    line("   iSerialNumber ", d.iSerialNumber);
}

void libusb_deviceobj::getConfigDescriptors() {
    freeConfigDescriptors();
    for (uint8_t i = 0; i < m_descriptor.bNumConfigurations; ++i) {
        libusb_config_descriptor* raw = nullptr;
        if (libusb_get_config_descriptor(m_device.get(), i, &raw) != 0 || !raw) continue;
        config_ptr config(raw);
        const int value = config->bConfigurationValue;
        m_config_descriptors[value] = std::move(config);
    }
}

void libusb_deviceobj::freeConfigDescriptors() { m_config_descriptors.clear(); }

void libusb_deviceobj::close() {
    std::lock_guard<std::recursive_mutex> scan(m_scan_mutex);
    // Waits here for a transfer in flight on another thread.
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    closeLocked();
}

void libusb_deviceobj::closeLocked() {
    try {
        m_log << m_msg << ">> libusb_deviceobj::close()" << logmgr::end;
    } catch (...) {
    }
    if (m_handle) {
        if (m_interface >= 0 && m_current_config >= 0) {
            const int r = libusb_release_interface(m_handle, m_interface);
            // Released only when this handle claimed it; anything else is worth a note.
            if (r != 0 && r != LIBUSB_ERROR_NOT_FOUND) {
                try {
                    m_log << m_msg << "Warn, libusb_deviceobj::close(): Could not release interface: " << m_interface
                          << logmgr::end;
                } catch (...) {
                }
            }
        }
        freeConfigDescriptors();
        libusb_close(m_handle);
        m_handle = nullptr;
    }
    try {
        m_log << m_msg << "<< libusb_deviceobj::close()" << logmgr::end;
    } catch (...) {
    }
}

bool libusb_deviceobj::isOpen() const {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    return m_handle != nullptr;
}

uint8_t libusb_deviceobj::getBusNumber() const {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    return m_bus;
}

uint8_t libusb_deviceobj::getPortNumber() const {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    return m_port;
}

int libusb_deviceobj::getSpeedCode() const {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    return m_speed;
}

int libusb_deviceobj::getCurrentConfiguration() const {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    return m_current_config;
}

std::string libusb_deviceobj::getStringDescriptor(uint8_t index) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    if (index != 0 && !m_handle) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, NotOpenText);
    return stringDescriptorLocked(index);
}

std::string libusb_deviceobj::stringDescriptorLocked(uint8_t index) {
    if (index == 0) return std::string();
    unsigned char buf[500] = {};
    const int n = libusb_get_string_descriptor_ascii(m_handle, index, buf, sizeof buf);
    if (n < 0) {
        m_log << m_msg << logmgr::hex << "libusb_deviceobj::getStringDescriptor(" << static_cast<int>(index)
              << ") = " << n << logmgr::end;
        throw devmgr_exception(devmgr_exception::ERR_IO, "Cannot read string descriptor");
    }
    const auto* begin = reinterpret_cast<const char*>(buf);
    return std::string(begin, std::find(begin, begin + std::min<int>(n, sizeof buf), '\0'));
}

const libusb_config_descriptor* libusb_deviceobj::currentConfigLocked() const {
    auto it = m_config_descriptors.find(m_current_config);
    return it == m_config_descriptors.end() ? nullptr : it->second.get();
}

const libusb_config_descriptor& libusb_deviceobj::requireConfigLocked(const char* noConfigText) const {
    if (m_current_config < 0) throw devmgr_exception(devmgr_exception::ERR_NO_CONFIGURATION, noConfigText);
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, NotOpenText);
    const libusb_config_descriptor* config = currentConfigLocked();
    if (!config) throw devmgr_exception(devmgr_exception::ERR_NO_CONFIGURATION, noConfigText);
    return *config;
}

const libusb_endpoint_descriptor* libusb_deviceobj::endpointLocked(uint8_t address) const {
    const libusb_config_descriptor& config = requireConfigLocked("No current configuration set");
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& iface = config.interface[i];
        if (iface.num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = iface.altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e)
            if (alt.endpoint[e].bEndpointAddress == address) return &alt.endpoint[e];
    }
    return nullptr;
}

const libusb_endpoint_descriptor* libusb_deviceobj::getEndpointDescriptor(uint8_t address) const {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    return endpointLocked(address);
}

bool libusb_deviceobj::hasEndpoint(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    return endpointLocked(endpoint) != nullptr;
}

uint16_t libusb_deviceobj::getEndpointMaxPacketSize(uint8_t endpoint) const {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    const libusb_endpoint_descriptor* ep = endpointLocked(endpoint);
    if (!ep) throw devmgr_exception(devmgr_exception::ERR_COMMAND_FAILED, "Endpoint is not found");
    return ep->wMaxPacketSize;
}

void libusb_deviceobj::setConfiguration(uint8_t value) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, NotOpenText);
    auto it = m_config_descriptors.find(value);
    if (it == m_config_descriptors.end())
        throw devmgr_exception(devmgr_exception::ERR_INVALID_VALUE,
                               "Configuration requested in setConfiguration call is not valid");
    m_current_config = value;
    const libusb_config_descriptor& config = *it->second;
    m_log << m_msg << logmgr::hex << "setConfiguration " << static_cast<int>(value) << "  interfaces "
          << static_cast<int>(config.bNumInterfaces) << logmgr::end;
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& iface = config.interface[i];
        if (iface.num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = iface.altsetting[0];
        const int number = alt.bInterfaceNumber;
        if (libusb_claim_interface(m_handle, number) != 0)
            m_log << m_msg << "Warn: libusb_deviceobj: Could not claiim interface: " << number << logmgr::end;
        m_log << m_msg << logmgr::hex << "    interface " << number << logmgr::end;
        m_log << m_msg << logmgr::hex << "      bInterfaceProtocol " << static_cast<int>(alt.bInterfaceProtocol)
              << logmgr::end;
        m_log << m_msg << logmgr::hex << "      bInterfaceSubClass " << static_cast<int>(alt.bInterfaceSubClass)
              << logmgr::end;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            m_log << m_msg << logmgr::hex << "      endpoint " << static_cast<int>(ep.bEndpointAddress) << logmgr::end;
            m_log << m_msg << logmgr::hex << "        bInterval " << static_cast<int>(ep.bInterval) << logmgr::end;
            m_log << m_msg << logmgr::hex << "        bmAttributes " << static_cast<int>(ep.bmAttributes)
                  << logmgr::end;
            m_log << m_msg << logmgr::hex << "        wMaxPacketSize " << static_cast<int>(ep.wMaxPacketSize)
                  << logmgr::end;
        }
        if (libusb_release_interface(m_handle, number) != 0)
            m_log << m_msg << "Warn: libusb_deviceobj: Could not release interface: " << number << logmgr::end;
    }
    if (m_interface != -1 && libusb_claim_interface(m_handle, m_interface) != 0)
        throw devmgr_exception(devmgr_exception::ERR_CLAIM,
                               logger::fmt("libusb_deviceobj: Could not claim interface: {1}", m_interface));
}

devmgr_exception libusb_deviceobj::bulkTransferError(bool send, int result) {
    using E = devmgr_exception;
    switch (result) {
    case LIBUSB_ERROR_PIPE: return E(E::ERR_PIPE, "Endpoint has halted");
    case LIBUSB_ERROR_OVERFLOW: return E(E::ERR_OVERFLOW, "Endpoint data overflowed");
    case LIBUSB_ERROR_TIMEOUT:
        return E(E::ERR_TIMEOUT, send ? "Timeout sending bulk packet" : "Timeout in receiveBuildPacket()");
    case LIBUSB_ERROR_NOT_FOUND:
        return send ? E(E::ERR_NOT_FOUND, "Device is no longer connected") : E(E::ERR_NO_DEVICE, "Entity not found");
    case LIBUSB_ERROR_NO_DEVICE: return E(E::ERR_NO_DEVICE, "Device is no longer connected");
    case LIBUSB_ERROR_IO:
        return E(E::ERR_IO, send ? "I/O error during sendBulkPacket() request"
                                 : "I/O error during receiveBuildPacket() request");
    default: return E(E::ERR_OTHER_USB, "Unknonwn error");
    }
}

devmgr_exception libusb_deviceobj::controlTransferError(int result) {
    using E = devmgr_exception;
    switch (result) {
    case LIBUSB_ERROR_PIPE: return E(E::ERR_PIPE, "Endpoint has halted - cannot send control packet");
    case LIBUSB_ERROR_TIMEOUT: return E(E::ERR_TIMEOUT, "Timeout sending control packet");
    case LIBUSB_ERROR_NO_DEVICE:
        return E(E::ERR_NO_DEVICE, "Device is no longer connected - cannot send control packet");
    case LIBUSB_ERROR_IO: return E(E::ERR_IO, "I/O error during control packet request");
    default: return E(E::ERR_OTHER_USB, "Unknown error in controlPacket request");
    }
}

void libusb_deviceobj::sendBulkPacket(uint8_t endpoint, const std::vector<unsigned char>& data,
                                      unsigned int timeoutMs) {
    // Held across the transfer: a close from the hot-plug thread waits for it.
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    requireConfigLocked("no current configuration set");
    const libusb_endpoint_descriptor* ep = endpointLocked(endpoint);
    if (!ep) throw devmgr_exception(devmgr_exception::ERR_COMMAND_FAILED, "Out Endpoint is not found");
    if (data.size() > ep->wMaxPacketSize)
        throw devmgr_exception(devmgr_exception::ERR_BUFFER_SIZE,
                               "Data size when sending bulk packet exceeds maximum endpoint packet size");
    int transferred = 0;
    // An OUT transfer only reads the buffer.
    const int result = libusb_bulk_transfer(m_handle, endpoint, const_cast<unsigned char*>(data.data()),
                                            static_cast<int>(data.size()), &transferred, timeoutMs);
    if (result < 0) {
        m_log << m_msg << logmgr::hex << "libusb sendBulkPacket ( " << static_cast<int>(getVID()) << " "
              << static_cast<int>(getPID()) << " ) = " << result << logmgr::end;
        throw bulkTransferError(true, result);
    }
}

void libusb_deviceobj::receiveBulkPacket(uint8_t endpoint, std::vector<unsigned char>& data,
                                         unsigned int timeoutMs) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    requireConfigLocked("no current configuration set");
    const libusb_endpoint_descriptor* ep = endpointLocked(endpoint);
    if (!ep) throw devmgr_exception(devmgr_exception::ERR_COMMAND_FAILED, "In Endpoint is not found");
    data.assign(ep->wMaxPacketSize, 0);
    int transferred = 0;
    const int result =
        libusb_bulk_transfer(m_handle, endpoint, data.data(), static_cast<int>(data.size()), &transferred, timeoutMs);
    if (result < 0) {
        m_log << m_msg << logmgr::hex << "libusb receiveBulkPacket ( " << static_cast<int>(getVID()) << " "
              << static_cast<int>(getPID()) << " ) = " << result << logmgr::end;
        throw bulkTransferError(false, result);
    }
}

void libusb_deviceobj::controlPacket(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                     std::vector<unsigned char>& data, unsigned int timeoutMs) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    requireConfigLocked("No current configuration set");
    m_log << m_msg << logmgr::hex << "Control Packet:"
          << " bmRequestType=" << static_cast<int>(requestType) << ", bRequest=" << static_cast<int>(request)
          << ", wValue=" << static_cast<int>(value) << ", wIndex=" << static_cast<int>(index)
          << ", size=" << static_cast<unsigned long>(data.size()) << ", timeout=" << timeoutMs << logmgr::end;
    if (data.size() > m_control_buffer_size)
        throw devmgr_exception(devmgr_exception::ERR_BUFFER_SIZE,
                               logger::fmt("Control packet data exceeds {1} bytes",
                                           static_cast<int>(m_control_buffer_size)));
    const bool in = (requestType & LIBUSB_ENDPOINT_IN) != 0;
    // An IN request without a size asks for up to the whole buffer; an OUT request sends
    // exactly what it was given, possibly nothing.
    const size_t length = (in && data.empty()) ? m_control_buffer_size : data.size();
    std::memset(m_control_buffer, 0, sizeof m_control_buffer);
    if (!data.empty()) std::memcpy(m_control_buffer, data.data(), data.size());
    const int result = libusb_control_transfer(m_handle, requestType, request, value, index, m_control_buffer,
                                               static_cast<uint16_t>(length), timeoutMs);
    if (result < 0) {
        m_log << m_msg << logmgr::hex << "libusb controlPacket ( " << static_cast<int>(getVID()) << " "
              << static_cast<int>(getPID()) << " ) = " << result << logmgr::end;
        throw controlTransferError(result);
    }
    const size_t count = std::min<size_t>(static_cast<size_t>(result), m_control_buffer_size);
    data.assign(m_control_buffer, m_control_buffer + count);
}

void libusb_deviceobj::resetEndpoint(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, NotOpenText);
    const int result = libusb_clear_halt(m_handle, endpoint);
    if (result < 0) throw controlTransferError(result);
}

std::string libusb_deviceobj::getDescription() const {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "getDescription is not supported by libusb device manager");
}

int libusb_deviceobj::getSpeed() const {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "getSpeed is not supported by libusb device manager");
}

std::shared_ptr<hiddevice> libusb_deviceobj::getHIDDevice() {
    throw devmgr_exception(devmgr_exception::ERR_NOT_SUPPORTED, "getHIDDevice is not supported by libusb device manager");
}

}  // namespace morvane::devices
