#include "DeviceMgr/interfaces/usb_transport.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "Logger/format.h"
#include "Logger/modules.h"

#include <algorithm>

namespace morvane::devices {

using devicemgrapi::devmgr_exception;
using logger::logmgr;
using logger::logmsg;

namespace {

logmsg debugMsg() { return logmsg(modules::Devmgr, logmsg::msgtype::Debug, 1); }

// The first bytes of a command, kept before any read: the caller may pass one vector for
// both the command and the answer.
struct command_head {
    explicit command_head(const std::vector<unsigned char>& cmd)
        : size(std::min<size_t>(cmd.size(), 3)) {
        if (cmd.empty())
            throw devmgr_exception(devmgr_exception::ERR_INVALID_REQUEST, "Empty command packet");
        std::copy_n(cmd.begin(), size, bytes);
    }
    unsigned char code() const { return bytes[0]; }
    // Byte 0, then bytes 1 and 2 after a blank each where the command has them, in hex.
    void logBytes(logmgr& log) const {
        log << logmgr::hex << static_cast<unsigned int>(bytes[0]);
        for (size_t i = 1; i < size; ++i) log << " " << static_cast<unsigned int>(bytes[i]);
        log << logmgr::dec;
    }
    unsigned char bytes[3] = {};
    size_t size;
};

devmgr_exception timeoutError(unsigned char code, unsigned long attempts) {
    return devmgr_exception(
        devmgr_exception::ERR_COMMAND_FAILED,
        logger::fmt("Timeout of Response read for '0x{1,num=hex}' command. Num attempts = '{2}'",
                    static_cast<unsigned int>(code), attempts));
}

devmgr_exception cancelledError() {
    return devmgr_exception(devmgr_exception::ERR_CANCELLED, "USB data transfer was canceled");
}

void logMismatch(logmgr& log, const char* prefix, unsigned long n, unsigned char code,
                 const std::vector<unsigned char>& answer) {
    log << debugMsg() << prefix << logmgr::dec << n << " CmdByte[0] = 0x" << logmgr::hex << static_cast<unsigned int>(code)
        << " ResponseByte[0] = ";
    if (answer.empty()) log << "none";
    else log << "0x" << static_cast<unsigned int>(answer[0]);
    log << logmgr::dec << logmgr::end;
}

// Writes the exit line however the exchange ends.
class exit_line {
public:
    explicit exit_line(logmgr& log) : m_log(log) {}
    ~exit_line() {
        try {
            m_log << debugMsg() << "<< usb_transport::transmitDataResponseCheck()" << logmgr::end;
        } catch (...) {
        }
    }
    exit_line(const exit_line&) = delete;
    exit_line& operator=(const exit_line&) = delete;

private:
    logmgr& m_log;
};

}  // namespace

usb_transport::usb_transport(logmgr& log) : m_log(log) {}

usb_transport::~usb_transport() = default;

void usb_transport::cancelTransfer() { m_cancel.store(true); }

bool usb_transport::takeCancel(bool uncancellable) { return !uncancellable && m_cancel.exchange(false); }

void usb_transport::transmitData(std::vector<unsigned char>& cmd, std::vector<unsigned char>& resp) {
    sendData(cmd);
    receiveData(resp);
}

void usb_transport::transmitDataResponseCheck(std::vector<unsigned char>& cmd, std::vector<unsigned char>& resp,
                                              bool waitStatus, bool uncancellable) {
    m_log << debugMsg() << ">> usb_transport::transmitDataResponseCheck()" << logmgr::end;
    exit_line exitLine(m_log);
    const command_head head(cmd);

    sendData(cmd);
    std::vector<unsigned char> rx(1, 0);
    unsigned long mismatches = 0;
    unsigned long waits = 0;
    clock::time_point t0 = m_now();
    for (;;) {
        receiveData(rx);
        bool timedOut = std::chrono::duration_cast<std::chrono::milliseconds>(m_now() - t0).count() >
                        static_cast<long long>(Retry_Usb_Timeout);
        // An empty answer carries no code, and one without byte 1 no status: neither is read.
        const bool matches = !rx.empty() && rx[0] == head.code();
        if (!matches && ++mismatches >= 101) timedOut = true;
        // Only this command's own answer can ask the host to keep waiting.
        const bool wait = waitStatus && matches && rx.size() > 1 && rx[1] == 0x01;
        if (takeCancel(uncancellable)) throw cancelledError();
        if (timedOut) throw timeoutError(head.code(), waits + mismatches);
        if (matches && !wait) {
            resp.swap(rx);
            return;
        }
        if (!matches) {
            logMismatch(m_log, "transmitDataResponseCheck Read retry N = ", mismatches, head.code(), rx);
            continue;
        }
        ++waits;
        if (waits >= 2) {
            m_log << debugMsg() << "WAIT Read retry N = " << logmgr::dec << waits << " CmdByte[0] = 0x";
            head.logBytes(m_log);
            m_log << logmgr::end;
        }
        t0 = m_now();
    }
}

void usb_transport::transmitExecuteData(std::vector<unsigned char>& cmd, std::vector<unsigned char>& resp,
                                        bool uncancellable) {
    const command_head head(cmd);
    sendData(cmd);
    unsigned long attempts = 0;
    unsigned long mismatches = 0;
    for (;;) {
        ++attempts;
        if (attempts >= 2) {
            m_log << debugMsg() << "WAIT Read retry N = " << logmgr::dec << attempts << " CmdByte[0-2] = 0x";
            head.logBytes(m_log);
            m_log << logmgr::end;
        }
        const clock::time_point start = m_now();
        receiveData(resp);
        const clock::duration took = m_now() - start;
        const bool matches = !resp.empty() && resp[0] == head.code();
        if (!matches && ++mismatches > 100) {
            if (takeCancel(uncancellable)) throw cancelledError();
            throw timeoutError(head.code(), attempts + mismatches);
        }
        if (takeCancel(uncancellable)) throw cancelledError();
        if (std::chrono::duration_cast<std::chrono::milliseconds>(took).count() >
            static_cast<long long>(Retry_Usb_Timeout))
            throw timeoutError(head.code(), attempts + mismatches);
        if (matches) return;
        logMismatch(m_log, "transmitExecuteData() Read retry N = ", mismatches, head.code(), resp);
    }
}

}  // namespace morvane::devices
