#pragma once

#include <string>

// Device family and configuration names. The device factory picks a device class by
// comparing a configuration name with these; the Bridge API names devices with them.
// Inline variables: initialised before any static of a translation unit that includes this
// header, so other statics may use them.
namespace morvane::devices::supported_devices {
inline const std::string Tallvex2Name = "Tallvex2";
inline const std::string Tallvex3Name = "Tallvex3";
inline const std::string Nimbrel4Name = "Nimbrel4";
inline const std::string DapLinkName = "DAPLink";
inline const std::string JLinkName = "JLink";
inline const std::string BootloaderName = "Tallvex Bootloader";
inline const std::string Tl2CmsisDap1Name = "Tallvex2 CMSIS-DAP HID";
inline const std::string Tl3CmsisDap1Name = "Tallvex3 CMSIS-DAP HID";
inline const std::string Tl3CmsisDap2Name = "Tallvex3 CMSIS-DAP BULK";
inline const std::string Nb4CmsisDap1Name = "Nimbrel4 CMSIS-DAP HID";
inline const std::string Nb4CmsisDap2Name = "Nimbrel4 CMSIS-DAP BULK";
inline const std::string CmsisDapName = "CMSIS-DAP";
inline const std::string SelvoWiFiName = "Selvo WiFi";
inline const std::string SelvoBTName = "Selvo BlueTooth";
inline const std::string SerialName = "Serial";
inline const std::string DapLinkCmsisDap2Name = "CMSIS-DAP v2";
}  // namespace morvane::devices::supported_devices
