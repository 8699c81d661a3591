#pragma once

#include "model/virtual_probe.h"

#include <memory>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace pavix_bench {

class hidraw_node;
class usbfs_node;
class tty_node;

// The operating-system face of virtual probes: sysfs and udev records, hidraw, usbdevfs and
// tty nodes served live by each probe's firmware model, with hot-plug events. The real
// hidapi, libusb and libudev code of the process (and of its children) sees them.
//
// One per process (the preload's testbed is process-global); create it on the main thread
// before any hidapi/libusb/udev use. Close every hidapi and libusb handle (and libusb_exit)
// before destroying it. Thread-safe.
class testbed {
public:
    testbed();  // throws std::runtime_error outside the umockdev preload
    ~testbed();
    testbed(const testbed&) = delete;
    testbed& operator=(const testbed&) = delete;

    // Arrival: hubs on the probe's port path, the USB device, its interfaces, hidraw nodes and
    // its tty appear and "add" events go out. A probe that unplugs itself (scripted
    // disconnect) leaves the testbed by itself.
    void plug(std::shared_ptr<virtual_probe> probe);
    // Removal: open handles fail from now on, "remove" events go out, the records vanish.
    void unplug(const virtual_probe& probe);
    bool plugged(const virtual_probe& probe) const;

    std::string usbfsPath(const virtual_probe& probe) const;          // /dev/bus/usb/BBB/DDD
    std::string hidrawPath(const virtual_probe& probe, uint8_t iface) const;
    std::string ttyPath(const virtual_probe& probe) const;            // /dev/ttyACM0
    std::string sysPath(const virtual_probe& probe) const;            // /sys/devices/...
    uint8_t devnum(const virtual_probe& probe) const;
    std::string rootDir() const;
    UMockdevTestbed* raw() const;

    struct impl;

private:
    std::shared_ptr<impl> m_impl;
};

}  // namespace pavix_bench
