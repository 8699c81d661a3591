#pragma once

#include <string>

// Keys and values of the device manager's property map.
namespace morvane::devices::device_state_props {
inline const std::string True = "true";
inline const std::string False = "false";
inline const std::string SupportedDevices = "supported_devices";
inline const std::string QuickStart = "quick_start";
inline const std::string HidAccessMode = "hid_access_mode";
}  // namespace morvane::devices::device_state_props
