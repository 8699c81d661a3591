#pragma once

#include "model/firmware_model.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace pavix_bench {

// A scripted misbehaviour applied to the next request the probe receives.
struct fault {
    enum class kind {
        none,
        no_answer,     // swallow the request
        delay,         // answer after `param` ms
        wait,          // `param` answers with status byte 0x01 first, then the real one
        wrong_code,    // byte 0 of the answer differs from the command code
        short_answer,  // only `param` bytes of the answer (at least 1)
        stall,         // the answer endpoint (or the control request) stalls
        disconnect,    // the probe unplugs after taking the request
        stale,         // `param` answers carrying another command code first, then the real one
    };
    kind what = kind::none;
    unsigned param = 0;
    // wait, stale: time between consecutive answers of the burst (0: all at once), so a
    // long exchange stays in progress while a test acts on it.
    unsigned interval_ms = 0;

    static fault noAnswer() { return {kind::no_answer, 0}; }
    static fault delayMs(unsigned ms) { return {kind::delay, ms}; }
    static fault waits(unsigned n) { return {kind::wait, n}; }
    static fault wrongCode() { return {kind::wrong_code, 0}; }
    static fault shortAnswer(unsigned n = 1) { return {kind::short_answer, n}; }
    static fault stall() { return {kind::stall, 0}; }
    static fault disconnect() { return {kind::disconnect, 0}; }
    static fault stale(unsigned n) { return {kind::stale, n}; }
    // `n` wait answers, one every `ms` milliseconds, then the real one.
    static fault waitsEvery(unsigned n, unsigned ms) { return {kind::wait, n, ms}; }
    static fault staleEvery(unsigned n, unsigned ms) { return {kind::stale, n, ms}; }
};

const char* faultName(fault::kind k);
// "none", "no_answer", ... ; throws std::invalid_argument for an unknown name.
fault::kind faultKindFromName(const std::string& name);

// The scriptable generic firmware: answers every command packet with the command code,
// status 0x00 and the request's remaining bytes (or what a handler returns), loops serial
// bytes back, and answers vendor control IN requests with a set blob. Faults queued with
// script() apply to the next requests in order. Thread-safe.
class generic_model : public firmware_model {
public:
    using handler = std::function<bytes(const bytes& request)>;

    // Answer command code `code` with what `h` returns (from byte 0 on).
    void on(uint8_t code, handler h);
    // Answer command code `code` with this fixed packet.
    void reply(uint8_t code, bytes answer);
    void script(fault f);
    void script(std::initializer_list<fault> faults);
    size_t pendingFaults() const;
    // Data of vendor control IN requests with this bRequest.
    void controlIn(uint8_t request, bytes data);
    // Every request received so far (HID reports, bulk packets, serial chunks, control OUT data).
    std::vector<bytes> received() const;
    size_t receivedCount() const;

    std::vector<answer> onHidReport(uint8_t iface, const bytes& report) override;
    std::vector<answer> onBulkOut(uint8_t endpoint, const bytes& packet) override;
    control_result onControl(const setup_packet& setup, const bytes& out) override;
    std::vector<answer> onSerial(const bytes& data) override;

protected:
    // The undisturbed answer to a command packet.
    virtual bytes answerFor(const bytes& request);
    std::vector<answer> exchange(const bytes& request, bool serial);

    mutable std::mutex m_mutex;
    std::map<uint8_t, handler> m_handlers;
    std::map<uint8_t, bytes> m_control_in;
    std::deque<fault> m_faults;
    std::vector<bytes> m_received;
};

}  // namespace pavix_bench
