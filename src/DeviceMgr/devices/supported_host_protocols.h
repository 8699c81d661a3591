#pragma once

#include <string>

// Host access paths; equal to the `protocol` values of the device database (compared
// exactly, case-sensitive).
namespace morvane::devices::supported_host_protocols {
inline const std::string hid = "hid";
inline const std::string bulk = "bulk";
inline const std::string serial = "serial";
}  // namespace morvane::devices::supported_host_protocols
