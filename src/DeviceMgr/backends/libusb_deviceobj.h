#pragma once

#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/backends/usbdevice.h"
#include "Logger/logmgr.h"

#include <libusb.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace morvane::devices {

class libusb_devicemgr;

// One libusb context. The manager and every device object it creates hold it by shared
// pointer, so libusb_exit() runs only once the last of them is gone, whichever that is.
class libusb_session {
public:
    libusb_session();  // throws ERR_LIBRARY_INIT
    ~libusb_session();
    libusb_session(const libusb_session&) = delete;
    libusb_session& operator=(const libusb_session&) = delete;

    libusb_context* get() const { return m_context; }

private:
    libusb_context* m_context = nullptr;
};

// One interface of a raw USB device, driven through libusb. Identity (serial, product and
// manufacturer texts) is read once, by a short open during construction.
//
// Threads: open() and close() take the directory's scan mutex, then the handle lock; the
// transfers take only the handle lock. So a close from the hot-plug thread waits for a
// transfer in flight on the client thread, and every transfer after close fails with
// ERR_NOT_OPEN instead of touching a released handle. Lock order: scan mutex, handle lock.
//
// Ownership: made by the libusb manager and shared with the hardware device built on it. It
// shares the manager's libusb context, so it may outlive the manager; the scan mutex is the
// directory's and must outlive the object (the directory stops its managers, and the Bridge
// API releases its device, before the directory goes).
class libusb_deviceobj : public usbdevice {
public:
    libusb_deviceobj(logger::logmgr& log, std::recursive_mutex& scanMutex, std::shared_ptr<libusb_session> session,
                     libusb_device* device, const std::string& recordName, const std::string& location,
                     const libusb_device_descriptor& descriptor, int interfaceNumber, uint8_t endpointIn,
                     uint8_t endpointOut, bool productFromInterface);
    ~libusb_deviceobj() override;
    libusb_deviceobj(const libusb_deviceobj&) = delete;
    libusb_deviceobj& operator=(const libusb_deviceobj&) = delete;

    uint16_t getVID() const override { return m_descriptor.idVendor; }
    uint16_t getPID() const override { return m_descriptor.idProduct; }
    int getCurrentInterface() override { return m_interface; }
    std::string getSerial() const override { return m_serial; }
    std::string getLocation() const override { return m_location; }
    std::string getProductStr() const override { return m_prod_str; }
    std::string getManufacturerStr() const override { return m_manuf_str; }
    void open() override;
    void close() override;
    bool isOpen() const override;
    void sendBulkPacket(uint8_t endpoint, const std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void receiveBulkPacket(uint8_t endpoint, std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void controlPacket(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                       std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void setConfiguration(uint8_t configuration) override;
    std::string getName() const override { return m_name; }
    std::string getDescription() const override;
    bool hasEndpoint(uint8_t endpoint) override;
    uint16_t getEndpointMaxPacketSize(uint8_t endpoint) const override;
    int getSpeed() const override;
    void resetEndpoint(uint8_t endpoint) override;
    std::shared_ptr<hiddevice> getHIDDevice() override;

    // Needs the object open; index 0 gives "".
    std::string getStringDescriptor(uint8_t index);
    // Null when the current configuration has no such endpoint. Needs the object open.
    const libusb_endpoint_descriptor* getEndpointDescriptor(uint8_t address) const;

    // Recorded at the last open.
    uint8_t getBusNumber() const;
    uint8_t getPortNumber() const;
    // libusb speed code recorded at the last open: 1 low, 2 full, 3 high, 4 super, 0 unknown.
    int getSpeedCode() const;
    uint8_t getEndpointIn() const { return m_ep_in; }
    uint8_t getEndpointOut() const { return m_ep_out; }
    int getCurrentConfiguration() const;
    const std::shared_ptr<libusb_session>& getSession() const { return m_session; }

    // The exception a failed bulk transfer raises (`send`: sendBulkPacket, else receiveBulkPacket).
    static devicemgrapi::devmgr_exception bulkTransferError(bool send, int result);
    // The exception a failed control transfer or halt clearing raises.
    static devicemgrapi::devmgr_exception controlTransferError(int result);
    static const char* speedName(int speed);

    static constexpr size_t m_control_buffer_size = 64;

private:
    struct config_deleter {
        void operator()(libusb_config_descriptor* c) const { libusb_free_config_descriptor(c); }
    };
    struct device_unref {
        void operator()(libusb_device* d) const { libusb_unref_device(d); }
    };
    using config_ptr = std::unique_ptr<libusb_config_descriptor, config_deleter>;

    // The *Locked members expect the handle lock held.
    void openLocked();
    void closeLocked();
    void getConfigData();
    void getConfigDescriptors();
    void freeConfigDescriptors();
    void readIdentity();
    std::string stringDescriptorLocked(uint8_t index);
    const libusb_config_descriptor* currentConfigLocked() const;
    const libusb_endpoint_descriptor* endpointLocked(uint8_t address) const;
    // Throws unless a configuration is current and its descriptors are loaded.
    const libusb_config_descriptor& requireConfigLocked(const char* noConfigText) const;

    logger::logmgr& m_log;
    logger::logmsg m_msg{"devmgr", logger::logmsg::msgtype::Debug, 1};
    std::recursive_mutex& m_scan_mutex;
    // Declared before the device reference and handle so the context is released after them.
    std::shared_ptr<libusb_session> m_session;
    mutable std::mutex m_handle_mutex;  // guards the handle, configuration and control buffer
    int m_current_config = -1;
    libusb_device_handle* m_handle = nullptr;
    uint8_t m_bus = 0;
    uint8_t m_port = 0;
    std::unique_ptr<libusb_device, device_unref> m_device;
    libusb_device_descriptor m_descriptor;
    std::map<int, config_ptr> m_config_descriptors;
    unsigned char m_control_buffer[m_control_buffer_size] = {};
    const std::string m_name;
    std::string m_serial;
    const std::string m_location;
    int m_speed = 0;
    bool m_identity_read = false;
    const int m_interface;
    const uint8_t m_ep_in;
    const uint8_t m_ep_out;
    const bool m_product_from_interface;
    // Per object: each object reports its own identity.
    std::string m_prod_str;
    std::string m_manuf_str;
};

}  // namespace morvane::devices
