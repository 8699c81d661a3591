#include "Pavix/pavix.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/device_manager_dir.h"
#include "Logger/format.h"
#include "Logger/modules.h"
#include "Pavix/pavix_logsink.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>

extern "C" PAVIX_EXPORT Pavix* createPavix() {
    try {
        return new morvane::pavix::PavixImpl();
    } catch (...) {
        return nullptr;
    }
}

namespace morvane::pavix {

using devicemgrapi::devmgr_exception;
using logger::logmgr;
using logger::logmsg;
using T = logmsg::msgtype;

namespace {

// Texts of the status codes +1, 0, -1 ... -27, in that order.
const char* const m_PavixErrorsStrings[29] = {
    "Recommended to upgrade the FW",
    "The operation completed successfully",
    "Not enough memory to complete the operation",
    "An error of the execution. See the operation logs for details",
    "A passed invalid argument",
    "Requested an unsuppoted parameter value",
    "The specified device was not found",
    "A passed interface number that is not supported",
    "The device is not opened",
    "The device does not have a power-monitor interface",
    "The device does not have a power-control interface",
    "The device does not have an SWD interface",
    "The device does not have an SPI interface",
    "The device does not have an I2C interface",
    "The requested operation is not supported",
    "The size of the passed-out buffer is not enough to contain the whole result",
    "The device is already opened by another instance of the library or by another application",
    "The 'initialize API' was not called",
    "The operation is timed out",
    "The FW update is forbidden",
    "Access denied. Check the access permissions for the device",
    "The device does not have a JTAG interface",
    "The device does not have an UART interface",
    "The operation is aborted due to a timeout",
    "The FW must be upgraded",
    "The Pavix must be restarted to support the device",
    "The fail to set requested voltage",
    "The device does not have an USB interface",
    "The long data transfer operation was canceled",
};

}  // namespace

PavixImpl::PavixImpl() : m_log(std::make_unique<logmgr>()) {}

PavixImpl::~PavixImpl() {
    try {
        closeDevice();
    } catch (...) {
    }
    m_accepting_events = false;
    if (m_api_p) {
        try {
            m_api_p->shutdown();
            *m_log << logmsg(modules::Pavix, T::Debug, 1) << "m_api_p->shutdown() completed" << logmgr::end;
        } catch (const std::exception& e) {
            logError(e);
        } catch (...) {
        }
        m_api_p.reset();
    }
    m_connected_connection.disconnect();
    m_disconnected_connection.disconnect();
    m_accepting_events = false;
    m_device_opened = false;
    m_initialized = false;
    m_log.reset();
}

int PavixImpl::exit() {
    delete this;
    return PavixOk;
}

std::string PavixImpl::hexForm(unsigned int bit) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", bit);
    return buf;
}

std::string PavixImpl::supportedDevicesText(unsigned int devices, bool& pairing) {
    pairing = false;
    if (devices == 0) {
        pairing = true;
        return hexForm(0);
    }
    if (devices & PavixDevTallvex3WithUart) pairing = true;
    if (pairing) devices |= PavixDevTallvex3 | PavixDevUsbUart;
    std::string text;
    for (unsigned int bit : {0x1u, 0x2u, 0x4u, 0x8u, 0x20u, 0x40u, 0x80u, 0x10u})
        if (devices & bit) text += hexForm(bit) + " ";
    return text;
}

int PavixImpl::initialize(unsigned int devices, PavixProps* props) {
    if (m_initialized) return PavixErrNotSupported;
    m_accepting_events = true;

    bool pairing = false;
    std::string supported = supportedDevicesText(devices, pairing);
    // Pairing, once asked for, stays on for the life of the object.
    if (pairing) m_pair_uart = true;
    if (supported.empty()) return PavixErrInvalidArgument;

    std::map<std::string, std::string> map;
    map["supported_devices"] = supported;
    map["hid_access_mode"] = "default";
    if (props) {
        if (props->baseDirectory) devices::device_manager_dir::setBaseDirPath(props->baseDirectory);
        if (props->exclusiveHidAccess) map["hid_access_mode"] = "exclusive";
    }

    try {
        m_api_p = devices::device_manager_dir::create("transport_lib", *m_log, map);
        m_connected_connection = m_api_p->getHardwareConnectedSignal().connect(
            [this](std::shared_ptr<devicemgrapi::hardware_device_api> d) { connected(std::move(d)); });
        m_disconnected_connection = m_api_p->getHardwareDisconnectedSignal().connect(
            [this](std::shared_ptr<devicemgrapi::hardware_device_api> d) { disconnected(std::move(d)); });
        *m_log << logmsg(modules::Pavix, T::Info, 0) << logger::translate("Start API initialization")
               << logmgr::end;
        const auto start = std::chrono::system_clock::now();
        m_api_p->initialize();
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() - start).count();
        *m_log << logmsg(modules::Pavix, T::Info, 0) << "Hardware initialization complete " << logmgr::dec
               << static_cast<long long>(ms) << " ms" << logmgr::end;
    } catch (const std::exception& e) {
        logError(e);
        m_initialized = true;
        m_opened_name.clear();
        return PavixErrExecution;
    } catch (...) {
        // Nothing but the documented domain_error may reach the client.
        if (m_log) *m_log << logmsg(modules::Pavix, T::Error, 0) << "Error =  unknown exception" << logmgr::end;
        m_initialized = true;
        m_opened_name.clear();
        return PavixErrExecution;
    }
    m_initialized = true;
    m_opened_name.clear();
    return PavixOk;
}

int PavixImpl::getVersion(unsigned int& major, unsigned int& minor, unsigned int& patch, unsigned int& build) {
    if (!m_initialized) return PavixErrNotInitialized;
    major = 3;
    minor = 1;
    patch = 0;
    build = 834;
    return PavixOk;
}

const char* PavixImpl::getErrorDescription(int code) {
    if (code > 1 || code < -27) return nullptr;
    return m_PavixErrorsStrings[1 - code];
}

void PavixImpl::setConnectCallback(PavixConnectCallback callback, void* userData) {
    m_connect_callback = callback;
    m_connect_user_data = userData;
}

void PavixImpl::setLogCallback(PavixLogCallback callback, void* userData, PavixLogLevel level) {
    for (T t : {T::Info, T::Warning, T::Error, T::Debug}) m_log->removeSink(t);
    if (!callback) return;
    auto sink = std::make_shared<pavix_logsink>(callback, userData);
    for (T t : {T::Info, T::Warning, T::Error, T::Debug}) m_log->setSink(t, sink);
    if (level < 1 || level > 6) throw std::domain_error("Invalid message type to setLevel method");
    // An existing entry gets threshold 1; for a type without a sink this adds an empty entry.
    m_log->setLevel(static_cast<T>(level), 1);
}

void PavixImpl::logError(const std::exception& e) {
    if (m_log) *m_log << logmsg(modules::Pavix, T::Error, 0) << "Error =  " << e.what() << logmgr::end;
}

int PavixImpl::unavailable() const {
    if (!m_initialized) return PavixErrNotInitialized;
    if (!m_api_p) return PavixErrExecution;
    return PavixErrNotSupported;
}

void PavixImpl::connected(std::shared_ptr<devicemgrapi::hardware_device_api>) {
    // Device records and the client's connect callback arrive with the device list work.
}

void PavixImpl::disconnected(std::shared_ptr<devicemgrapi::hardware_device_api>) {}

}  // namespace morvane::pavix
