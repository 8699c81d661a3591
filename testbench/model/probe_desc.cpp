#include "model/probe_desc.h"

namespace pavix_bench {

namespace {
void put16(bytes& b, uint16_t v) {
    b.push_back(uint8_t(v & 0xFF));
    b.push_back(uint8_t(v >> 8));
}
}  // namespace

const interface_desc* probe_desc::findInterface(uint8_t number) const {
    for (const auto& i : interfaces)
        if (i.number == number) return &i;
    return nullptr;
}

const endpoint_desc* probe_desc::findEndpoint(uint8_t address) const {
    for (const auto& i : interfaces)
        for (const auto& e : i.endpoints)
            if (e.address == address) return &e;
    return nullptr;
}

uint8_t probe_desc::answerEndpointFor(uint8_t out_endpoint) const {
    for (const auto& i : interfaces) {
        bool owns = false;
        for (const auto& e : i.endpoints) owns = owns || e.address == out_endpoint;
        if (!owns) continue;
        for (const auto& e : i.endpoints)
            if (e.in() && e.attributes == 2) return e.address;
    }
    for (const auto& i : interfaces)
        for (const auto& e : i.endpoints)
            if (e.in() && e.attributes == 2) return e.address;
    return 0x80 | out_endpoint;
}

std::string probe_desc::sysName() const {
    std::string s = std::to_string(bus) + "-";
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i) s += ".";
        s += std::to_string(ports[i]);
    }
    return s;
}

std::string probe_desc::busLocation() const {
    std::string s = std::to_string(bus) + ":";
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i) s += ",";
        s += std::to_string(ports[i]);
    }
    return s;
}

bytes vendorReportDescriptor(uint16_t usage_page, uint8_t usage) {
    return {0x06, uint8_t(usage_page & 0xFF), uint8_t(usage_page >> 8),  // Usage Page (vendor)
            0x09, usage,                                                   // Usage
            0xA1, 0x01,                                                    // Collection (Application)
            0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40,          // 64 bytes 0..255
            0x09, 0x01, 0x81, 0x02,                                        // Input
            0x09, 0x01, 0x91, 0x02,                                        // Output
            0xC0};
}

interface_desc hidInterface(uint8_t number, std::string name, uint8_t ep_in, uint8_t ep_out) {
    interface_desc i;
    i.number = number;
    i.cls = 0x03;
    i.name = std::move(name);
    i.endpoints = {{ep_in, 3, 64, 1}, {ep_out, 3, 64, 1}};
    i.hid_report_descriptor = vendorReportDescriptor();
    return i;
}

interface_desc bulkInterface(uint8_t number, std::string name, uint8_t ep_in, uint8_t ep_out, uint16_t max_packet) {
    interface_desc i;
    i.number = number;
    i.cls = 0xFF;
    i.name = std::move(name);
    i.endpoints = {{ep_out, 2, max_packet, 0}, {ep_in, 2, max_packet, 0}};
    return i;
}

bytes deviceDescriptor(const probe_desc& d) {
    bytes b{18, 1};
    put16(b, 0x0200);
    b.push_back(d.device_class);
    b.push_back(0);
    b.push_back(d.device_class == 9 ? 1 : 0);
    b.push_back(64);
    put16(b, d.vid);
    put16(b, d.pid);
    put16(b, d.bcd_device);
    b.push_back(d.manufacturer.empty() ? 0 : 1);
    b.push_back(d.product.empty() ? 0 : 2);
    b.push_back(d.serial.empty() ? 0 : 3);
    b.push_back(1);
    return b;
}

uint8_t interfaceStringIndex(const probe_desc& d, uint8_t number) {
    uint8_t idx = 4;
    for (const auto& i : d.interfaces) {
        if (i.name.empty()) continue;
        if (i.number == number) return idx;
        ++idx;
    }
    return 0;
}

bytes configDescriptor(const probe_desc& d) {
    bytes b{9, 2, 0, 0, uint8_t(d.interfaces.size()), 1, 0, 0x80, 50};
    for (const auto& i : d.interfaces) {
        b.insert(b.end(), {9, 4, i.number, 0, uint8_t(i.endpoints.size()), i.cls, i.subclass, i.protocol,
                           interfaceStringIndex(d, i.number)});
        if (i.hid()) {
            b.insert(b.end(), {9, 0x21, 0x11, 0x01, 0, 1, 0x22});
            put16(b, uint16_t(i.hid_report_descriptor.size()));
        }
        for (const auto& e : i.endpoints) {
            b.insert(b.end(), {7, 5, e.address, e.attributes});
            put16(b, e.max_packet);
            b.push_back(e.interval);
        }
    }
    b[2] = uint8_t(b.size() & 0xFF);
    b[3] = uint8_t(b.size() >> 8);
    return b;
}

bytes stringDescriptor(const probe_desc& d, uint8_t index) {
    if (index == 0) return {4, 3, 0x09, 0x04};
    const std::string* s = nullptr;
    if (index == 1) s = &d.manufacturer;
    else if (index == 2) s = &d.product;
    else if (index == 3) s = &d.serial;
    else
        for (const auto& i : d.interfaces)
            if (!i.name.empty() && interfaceStringIndex(d, i.number) == index) s = &i.name;
    if (!s || s->empty()) return {};
    size_t n = std::min<size_t>(s->size(), 126);
    bytes b{uint8_t(2 + 2 * n), 3};
    for (size_t k = 0; k < n; ++k) {
        b.push_back(uint8_t((*s)[k]));
        b.push_back(0);
    }
    return b;
}

}  // namespace pavix_bench
