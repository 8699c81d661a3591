#pragma once

#include "Logger/logmgr.h"

#include <atomic>
#include <chrono>
#include <vector>

namespace morvane::devices {

// Carries the command/response packets of a probe's vendor protocol over one USB path and
// checks the answers: byte 0 of an answer repeats the command code, byte 1 is a status.
//
// Ownership: created by its device and shared with the device's interfaces.
// Threads: every operation runs on the thread that owns the device, except cancelTransfer(),
// which any thread may call. A cancel stays pending until a cancellable exchange sees it
// (between two reads) and fails with ERR_CANCELLED; a read in progress is not interrupted.
class usb_transport {
public:
    // The answer window, in milliseconds.
    static constexpr unsigned int Retry_Usb_Timeout = 10000;

    explicit usb_transport(logger::logmgr& log);
    virtual ~usb_transport();
    usb_transport(const usb_transport&) = delete;
    usb_transport& operator=(const usb_transport&) = delete;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // One packet each way.
    virtual void sendData(const std::vector<unsigned char>& data) = 0;
    virtual void receiveData(std::vector<unsigned char>& data) = 0;
    // Sends `cmd` once and returns in `resp` the first answer that repeats its code (and, with
    // `waitStatus`, is not a wait answer). `cmd` and `resp` may be the same vector.
    virtual void transmitDataResponseCheck(std::vector<unsigned char>& cmd, std::vector<unsigned char>& resp,
                                           bool waitStatus, bool uncancellable);
    // Send, then receive; nothing checked.
    virtual void transmitData(std::vector<unsigned char>& cmd, std::vector<unsigned char>& resp);
    // Sends `cmd` and reads answers into `resp` until one repeats the command code. `cmd` and
    // `resp` may be the same vector.
    virtual void transmitExecuteData(std::vector<unsigned char>& cmd, std::vector<unsigned char>& resp,
                                     bool uncancellable);
    virtual bool isHid() = 0;

    // Any thread.
    void cancelTransfer();

protected:
    using clock = std::chrono::steady_clock;
    using clock_source = clock::time_point (*)();
    // Where the exchanges take their time from; tests drive the answer window with their own.
    void setClock(clock_source source) { m_now = source; }

    logger::logmgr& m_log;

private:
    // Consumes a pending cancel when `uncancellable` is false.
    bool takeCancel(bool uncancellable);

    std::atomic<bool> m_cancel{false};
    clock_source m_now = &clock::now;
};

}  // namespace morvane::devices
