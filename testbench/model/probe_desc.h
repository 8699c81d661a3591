#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pavix_bench {

using bytes = std::vector<uint8_t>;

struct endpoint_desc {
    uint8_t address = 0;          // bit 7 set: IN
    uint8_t attributes = 2;       // 2 bulk, 3 interrupt
    uint16_t max_packet = 64;
    uint8_t interval = 0;
    bool in() const { return (address & 0x80) != 0; }
};

struct interface_desc {
    uint8_t number = 0;
    uint8_t cls = 0xFF;
    uint8_t subclass = 0;
    uint8_t protocol = 0;
    std::string name;                       // interface string; empty: none
    std::vector<endpoint_desc> endpoints;
    bytes hid_report_descriptor;            // class 3 only
    bool hid() const { return cls == 0x03; }
};

// The serial port a probe exposes on one of its interfaces (a USB-UART or CDC ACM port).
struct tty_desc {
    std::string name = "ttyACM0";
    uint8_t interface_number = 0;
    std::string driver = "cdc_acm";
};

// Everything the host can see of a probe without talking to its firmware.
struct probe_desc {
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t bcd_device = 0x0100;
    std::string serial;
    std::string manufacturer;
    std::string product;
    uint8_t bus = 1;
    std::vector<uint8_t> ports{1};          // port path from the root hub, e.g. {4,2} is 1-4.2
    int speed_mbps = 12;                    // sysfs "speed"
    uint8_t device_class = 0;
    std::vector<interface_desc> interfaces;
    std::optional<tty_desc> tty;
    std::string family;                     // device-database record the identity came from

    const interface_desc* findInterface(uint8_t number) const;
    const endpoint_desc* findEndpoint(uint8_t address) const;
    // The IN endpoint that carries the answers to packets sent to `out_endpoint`.
    uint8_t answerEndpointFor(uint8_t out_endpoint) const;
    // "1-4.2" style kernel name.
    std::string sysName() const;
    // "1:4,2" style bus location.
    std::string busLocation() const;
};

// Report descriptor of a vendor-defined 64-byte in/out report (usage page 0xFF00, usage 1).
bytes vendorReportDescriptor(uint16_t usage_page = 0xFF00, uint8_t usage = 0x01);

// Ready-made interfaces.
interface_desc hidInterface(uint8_t number, std::string name = {}, uint8_t ep_in = 0x81, uint8_t ep_out = 0x01);
interface_desc bulkInterface(uint8_t number, std::string name = {}, uint8_t ep_in = 0x82, uint8_t ep_out = 0x02,
                             uint16_t max_packet = 64);

// USB descriptors as the device sends them.
bytes deviceDescriptor(const probe_desc& d);
bytes configDescriptor(const probe_desc& d);
// Index 0 gives the language list; unknown indices give an empty result.
bytes stringDescriptor(const probe_desc& d, uint8_t index);
// The interface-string index of interface `number` (0 when it has none).
uint8_t interfaceStringIndex(const probe_desc& d, uint8_t number);

}  // namespace pavix_bench
