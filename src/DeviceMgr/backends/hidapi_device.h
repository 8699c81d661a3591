#pragma once

#include "DeviceMgr/backends/usbdevice.h"
#include "Logger/logmgr.h"

#include <hidapi/hidapi.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace morvane::devices {

// The HID report channel of one hidraw device, through hidapi.
//
// Threads: a transport on the client thread reads and writes while the hot-plug thread may
// close the channel when the probe is unplugged. The handle lock serialises them: close()
// waits for a read or write in flight, and every call after close fails with ERR_NOT_OPEN
// instead of touching a freed handle.
class hidapi_device : public hiddevice {
public:
    hidapi_device(logger::logmgr& log, const char* path);
    ~hidapi_device() override;

    void open() override;
    void close() override;
    bool isOpen() const override;
    void writeReport(const std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    void readReport(std::vector<unsigned char>& data, unsigned int timeoutMs) override;
    bool readReportNonBlocking(std::vector<unsigned char>& data) override;

    const std::string& getPath() const { return m_path; }

protected:
    // Opens the path; null with errno set on failure.
    virtual hid_device* openHandle();
    // Releases what openHandle() took.
    virtual void closeHandle(hid_device* handle);

    static constexpr uint8_t m_input_report_size = 64;
    static constexpr uint8_t m_output_report_size = 65;
    logger::logmgr& m_log;
    logger::logmsg m_msg{"devmgr", logger::logmsg::msgtype::Debug, 1};

private:
    void closeLocked();

    mutable std::mutex m_handle_mutex;
    bool m_open = false;
    hid_device* m_handle = nullptr;
    const std::string m_path;  // own copy: the backend object that gave it may go first
};

// Opens the hidraw node for this process alone: other users of the library that ask for
// exclusive access are refused with "busy" while it is open.
class hidapi_device_excl : public hidapi_device {
public:
    hidapi_device_excl(logger::logmgr& log, const char* path);
    ~hidapi_device_excl() override;

protected:
    hid_device* openHandle() override;
    void closeHandle(hid_device* handle) override;

private:
    int m_lock_fd = -1;
};

// Exclusive variant of hid_open_path: takes an exclusive advisory lock on the node, then
// opens it. Null with errno set (EBUSY when another holder has it). `lockFd` receives the
// descriptor that holds the lock; the caller closes it after hid_close.
hid_device* hid_open_path_exclusive(const char* path, int& lockFd);

}  // namespace morvane::devices
