#pragma once

#include "model/generic_model.h"
#include "model/probe_desc.h"
#include "model/virtual_probe.h"

#include <memory>

namespace pavix_bench {

// Hand-made probes for tests that need no particular family.
// HID: interface 0, vendor usage page, endpoints 0x81/0x01.
probe_desc genericHidProbe(uint16_t vid = 0x1209, uint16_t pid = 0x0001, std::string serial = "HID0001");
// Vendor bulk: interface 0, endpoints 0x82 (IN) / 0x02 (OUT), 64 bytes.
probe_desc genericBulkProbe(uint16_t vid = 0x1209, uint16_t pid = 0x0002, std::string serial = "BULK0001");
// CDC ACM serial port ttyACM0 on interface 0.
probe_desc genericSerialProbe(uint16_t vid = 0x1209, uint16_t pid = 0x0003, std::string serial = "SER0001");

// A probe on the virtual bus with its own generic_model (or `model`).
std::shared_ptr<virtual_probe> makeProbe(probe_desc desc, std::shared_ptr<firmware_model> model = nullptr);

}  // namespace pavix_bench
