#pragma once

#include "model/probe_desc.h"

#include <string>
#include <vector>

namespace pavix_bench {

// One configuration line of the shipped device database, as far as the bench needs it.
struct family_config {
    std::string device;     // owning device record, e.g. "Tallvex3"
    std::string name;       // configuration name
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::string protocol;   // "hid", "bulk" or "serial"
    uint8_t interface = 0;
};

// Reads the configurations of a device database file (the bench's own small reader, so a
// probe's identity always follows the shipped file). Throws std::runtime_error when the
// file cannot be read or holds no configuration.
std::vector<family_config> readFamilies(const std::string& devdb_path);

// The device database the build ships (bin/firmware/devdb.xml, else the source copy).
std::string defaultDevdbPath();

// Every distinct USB identity (VID, PID) of the database, each as a complete probe: one
// interface per configuration (HID, vendor bulk, or a CDC ACM port with its tty).
std::vector<probe_desc> familyProbes(const std::vector<family_config>& configs);

// The probe of device record `device` (first identity in file order, or the one with `pid`).
// Throws std::invalid_argument when there is none.
probe_desc familyProbe(const std::vector<family_config>& configs, const std::string& device, uint16_t pid = 0);

}  // namespace pavix_bench
