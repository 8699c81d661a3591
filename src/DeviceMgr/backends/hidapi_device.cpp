#include "DeviceMgr/backends/hidapi_device.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "Logger/format.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::logmgr;

hidapi_device::hidapi_device(logmgr& log, const char* path) : m_log(log), m_path(path ? path : "") {}

hidapi_device::~hidapi_device() {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    closeLocked();
}

hid_device* hidapi_device::openHandle() { return hid_open_path(m_path.c_str()); }

void hidapi_device::closeHandle(hid_device* handle) { hid_close(handle); }

void hidapi_device::open() {
    m_log << m_msg << "hidapi_device::open()" << logmgr::end;
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    if (m_handle) throw devmgr_exception(devmgr_exception::ERR_OPEN_STATE, "hid usb device already open");
    // A value left over from an earlier call must not decide how this failure is reported.
    errno = 0;
    hid_device* handle = openHandle();
    const int err = errno;
    if (handle) {
        m_handle = handle;
        m_open = true;
        return;
    }
    std::string text = "Cannot open Hid device with the path: " + m_path;
    if (err != 0) text += " Err = " + std::to_string(err) + ", " + std::strerror(err);
    devmgr_exception::ErrorCode code = devmgr_exception::ERR_COMMAND_FAILED;
    if (err == 0)
        code = devmgr_exception::ERR_NO_DEVICE;
    else if (err == EACCES)
        code = devmgr_exception::ERR_OPEN;
    else if (err == EBUSY)
        code = devmgr_exception::ERR_BUSY;
    throw devmgr_exception(code, text);
}

void hidapi_device::closeLocked() {
    if (!m_handle) return;
    closeHandle(m_handle);
    m_handle = nullptr;
    m_open = false;
}

void hidapi_device::close() {
    m_log << m_msg << "hidapi_device::close()" << logmgr::end;
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_OPEN_STATE, "hid usb device already closed");
    closeLocked();
}

bool hidapi_device::isOpen() const {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    return m_open;
}

void hidapi_device::writeReport(const std::vector<unsigned char>& data, unsigned int) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, "Hid device is not open");
    if (data.size() > m_input_report_size)
        throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN,
                               logger::fmt("writeReport > {1} bytes", static_cast<int>(m_input_report_size)));
    unsigned char buf[m_output_report_size] = {};  // report number 0, data, zero padding
    if (!data.empty()) std::memcpy(buf + 1, data.data(), data.size());
    if (hid_write(m_handle, buf, sizeof buf) == -1)
        throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, "Hid write error");
}

void hidapi_device::readReport(std::vector<unsigned char>& data, unsigned int timeoutMs) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, "Hid device is not open");
    // A time-out is no error: the caller recognises the 64 zero bytes.
    data.assign(m_input_report_size, 0);
    const int ms = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
    if (hid_read_timeout(m_handle, data.data(), data.size(), ms) == -1)
        throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, "Hid read error");
}

bool hidapi_device::readReportNonBlocking(std::vector<unsigned char>& data) {
    std::lock_guard<std::mutex> lock(m_handle_mutex);
    if (!m_handle) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, "Hid device is not open");
    data.assign(m_input_report_size, 0);
    const int n = hid_read_timeout(m_handle, data.data(), data.size(), 0);
    if (n == -1) throw devmgr_exception(devmgr_exception::ERR_NOT_OPEN, "Hid read error");
    return n > 0;
}

hidapi_device_excl::hidapi_device_excl(logmgr& log, const char* path) : hidapi_device(log, path) {}

hidapi_device_excl::~hidapi_device_excl() {
    // The base destructor no longer reaches closeHandle() of this class: close here.
    if (isOpen()) {
        try {
            close();
        } catch (...) {
        }
    }
}

hid_device* hidapi_device_excl::openHandle() { return hid_open_path_exclusive(getPath().c_str(), m_lock_fd); }

void hidapi_device_excl::closeHandle(hid_device* handle) {
    hid_close(handle);
    if (m_lock_fd >= 0) ::close(m_lock_fd);
    m_lock_fd = -1;
}

hid_device* hid_open_path_exclusive(const char* path, int& lockFd) {
    lockFd = -1;
    int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    hid_device* handle = hid_open_path(path);
    if (!handle) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    lockFd = fd;
    return handle;
}

}  // namespace morvane::devices
