#pragma once

#include "model/probe_desc.h"

#include <chrono>
#include <vector>

namespace pavix_bench {

// One thing the probe sends back after a request.
struct answer {
    enum class kind {
        data,        // a packet / report / serial bytes
        stall,       // the answer endpoint halts until the host clears it
        disconnect,  // the probe drops off the bus here
    };
    kind what = kind::data;
    bytes payload;
    std::chrono::microseconds delay{0};  // after the request (or after the previous answer)
    bool exact = false;                  // HID: deliver as is instead of padding to the report size

    static answer data(bytes b) { return answer{kind::data, std::move(b), {}, false}; }
};

struct setup_packet {
    uint8_t request_type = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    bool in() const { return (request_type & 0x80) != 0; }
};

struct control_result {
    bool stall = false;
    bytes data;                         // IN data stage
    std::chrono::microseconds delay{0};
    bool disconnect = false;
    bool no_answer = false;             // never completes; the host times out
};

// What a probe's firmware does with what the host sends. Transport-independent: the same
// model answers behind the in-process objects and behind hidraw, usbdevfs and a pty.
// Called from the attachment's threads, one request at a time per probe; implementations
// guard state that tests also touch.
class firmware_model {
public:
    virtual ~firmware_model() = default;
    // One output report, report ID stripped, as the interface's report size.
    virtual std::vector<answer> onHidReport(uint8_t iface, const bytes& report) { return {}; }
    virtual std::vector<answer> onBulkOut(uint8_t endpoint, const bytes& packet) { return {}; }
    // Class and vendor control requests; the standard ones are answered from the description.
    virtual control_result onControl(const setup_packet& setup, const bytes& out) {
        control_result r;
        r.stall = true;
        return r;
    }
    virtual std::vector<answer> onSerial(const bytes& data) { return {}; }
};

}  // namespace pavix_bench
