#pragma once

#include "DeviceMgr/backends/usbdevice.h"
#include "DeviceMgr/devices/hwdevice.h"

#include <memory>
#include <string>

namespace morvane::devices {

// A hardware device reached through one backend device object, shared with the manager
// that found it.
class usbhardwaredev : public hwdevice {
public:
    usbhardwaredev(std::shared_ptr<usbdevice> dev, const std::string& description, logger::logmgr& log);
    ~usbhardwaredev() override;

    void open() override;
    // Disables every enabled interface (a failing disable is logged and the next one still
    // runs), drops all interface objects and closes the backend object. The descriptor list
    // stays. Only a failure of the backend close leaves it.
    void close() override;
    bool isOpen() override;
    void modeSwitch(unsigned char mode) override;

    virtual uint16_t getVID() const;
    virtual uint16_t getPID() const;
    // Called by an interface when it becomes enabled.
    virtual void enableBridgeInterface(interface_base* iface);
    // Called by an interface when it is disabled; announces it through the interface.
    virtual void disableBridgeInterface(interface_base* iface);

    const std::shared_ptr<usbdevice>& getUsbDevice() const { return m_usbdevice; }

protected:
    // For destructors of device classes: close() that logs instead of throwing. Call it
    // while the derived parts the interfaces use still exist.
    void closeNoThrow() noexcept;
    void logError(const std::string& text) noexcept;

    std::shared_ptr<usbdevice> m_usbdevice;
};

}  // namespace morvane::devices
